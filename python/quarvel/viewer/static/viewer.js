// The live viewer: frames from the websocket into two canvases and a three.js point cloud,
// control changes back to the camera.
"use strict";

const viewer = {
  info: null, socket: null, width: 0, height: 0,
  depth: null, amplitude: null, framesReceived: 0, pointer: null,
  receivedTimes: [], cloud: null,
};
window.quarvelViewer = viewer;  // for tests and the console

const HEADER_BYTES = 32;

function $(id) { return document.getElementById(id); }

function setStatus(text, error) {
  const status = $("status");
  status.textContent = text;
  status.classList.toggle("error", !!error);
}

function colourIndex(value, low, high) {
  const t = (value - low) / Math.max(high - low, 1e-6);
  return Math.min(255, Math.max(0, Math.round(t * 255)));
}

function paint(canvas, plane, palette, low, high, zeroIsBlack) {
  const context = canvas.getContext("2d");
  const image = context.createImageData(viewer.width, viewer.height);
  const pixels = image.data;
  const scale = 255 / Math.max(high - low, 1e-6);
  for (let i = 0, o = 0; i < plane.length; i++, o += 4) {
    const value = plane[i];
    if (zeroIsBlack && value === 0) {
      pixels[o] = pixels[o + 1] = pixels[o + 2] = 0;
    } else {
      const index = Math.min(255, Math.max(0, Math.round((value - low) * scale)));
      const colour = palette[index];
      pixels[o] = colour[0]; pixels[o + 1] = colour[1]; pixels[o + 2] = colour[2];
    }
    pixels[o + 3] = 255;
  }
  context.putImageData(image, 0, 0);
}

function amplitudeTop(plane) {
  // The 99th percentile of a sample of the pixels: bright specks do not darken the image.
  const sample = [];
  for (let i = 0; i < plane.length; i += 7) sample.push(plane[i]);
  sample.sort((a, b) => a - b);
  return Math.max(1, sample[Math.floor(sample.length * 0.99)] || 1);
}

function updateReadout() {
  const readout = $("readout");
  if (!viewer.pointer || !viewer.depth) return;
  const [x, y] = viewer.pointer;
  const value = viewer.depth[y * viewer.width + x];
  readout.textContent = value > 0
    ? `distance under the pointer: ${value} mm at (${x}, ${y})`
    : `distance under the pointer: no depth at (${x}, ${y})`;
  readout.dataset.mm = String(value);
}

function onFrame(buffer) {
  const view = new DataView(buffer);
  const magic = String.fromCharCode(view.getUint8(0), view.getUint8(1), view.getUint8(2),
                                    view.getUint8(3));
  if (magic !== "QVF1") return;
  const width = view.getUint16(16, true);
  const height = view.getUint16(18, true);
  const cameraDrops = view.getUint32(20, true);
  const clientDrops = view.getUint32(24, true);
  const count = width * height;
  viewer.depth = new Uint16Array(buffer, HEADER_BYTES, count);
  viewer.amplitude = new Uint16Array(buffer, HEADER_BYTES + 2 * count, count);
  viewer.framesReceived++;
  const now = performance.now();
  viewer.receivedTimes.push(now);
  while (viewer.receivedTimes.length > 1 && now - viewer.receivedTimes[0] > 2000) {
    viewer.receivedTimes.shift();
  }
  const near = Number($("near").value), far = Number($("far").value);
  paint($("depth"), viewer.depth, viewer.info.depth_palette, near, far, true);
  paint($("amplitude"), viewer.amplitude, viewer.info.amplitude_palette, 0,
        amplitudeTop(viewer.amplitude), false);
  const times = viewer.receivedTimes;
  const fps = times.length > 1 ? (times.length - 1) * 1000 / (times[times.length - 1] - times[0]) : 0;
  $("fps").textContent = `${fps.toFixed(1)} fps`;
  $("camera-drops").textContent = String(cameraDrops);
  $("client-drops").textContent = String(clientDrops);
  $("frames").textContent = String(viewer.framesReceived);
  updateReadout();
  if (viewer.cloud) viewer.cloud.update(viewer.depth, near, far);
}

function onControlAnswer(answer) {
  const row = document.querySelector(`tr[data-control="${answer.name}"]`);
  if (!row) { setStatus(`control: ${answer.status}`, true); return; }
  const cell = row.querySelector(".answer");
  cell.classList.toggle("refused", !answer.ok);
  cell.classList.toggle("accepted", !!answer.ok);
  cell.textContent = answer.ok
    ? `accepted; the camera reports ${answer.value}`
    : `refused ${answer.requested}: ${answer.status}; the camera reports ${answer.value}`;
  if (answer.ok) row.querySelector("input").value = answer.value;
}

function connect() {
  const scheme = location.protocol === "https:" ? "wss" : "ws";
  const socket = new WebSocket(`${scheme}://${location.host}/ws`);
  socket.binaryType = "arraybuffer";
  socket.onopen = () => setStatus("live");
  socket.onmessage = (event) => {
    if (typeof event.data === "string") onControlAnswer(JSON.parse(event.data));
    else onFrame(event.data);
  };
  socket.onclose = () => {
    setStatus("disconnected; trying again", true);
    setTimeout(connect, 1000);
  };
  viewer.socket = socket;
}

function setUpControls(values) {
  for (const row of document.querySelectorAll("#controls tr")) {
    const name = row.dataset.control;
    row.querySelector("input").value = values[name];
    row.querySelector("button").addEventListener("click", () => {
      const value = Number(row.querySelector("input").value);
      row.querySelector(".answer").textContent = "asking the camera…";
      viewer.socket.send(JSON.stringify({ name: name, value: value }));
    });
  }
}

function setUpPointer() {
  const canvas = $("depth");
  canvas.addEventListener("mousemove", (event) => {
    const box = canvas.getBoundingClientRect();
    const x = Math.floor((event.clientX - box.left) * viewer.width / box.width);
    const y = Math.floor((event.clientY - box.top) * viewer.height / box.height);
    if (x >= 0 && y >= 0 && x < viewer.width && y < viewer.height) {
      viewer.pointer = [x, y];
      updateReadout();
    }
  });
}

// The point cloud: one vertex per pixel along its ray, metres, three.js axes (y up, -z ahead).
function makeCloud(info) {
  const holder = $("cloud");
  let renderer;
  try {
    renderer = new THREE.WebGLRenderer({ antialias: false });
  } catch (error) {
    holder.textContent = "3D view unavailable: this browser offers no WebGL.";
    return null;
  }
  const count = info.width * info.height;
  renderer.setSize(holder.clientWidth, holder.clientHeight);
  holder.appendChild(renderer.domElement);
  const scene = new THREE.Scene();
  const camera = new THREE.PerspectiveCamera(55, holder.clientWidth / holder.clientHeight, 0.05, 50);
  camera.position.set(1.6, 1.2, 1.2);
  const controls = new THREE.OrbitControls(camera, renderer.domElement);
  controls.target.set(0, 0, -2);
  controls.update();
  const rays = new Float32Array(count * 3);
  const { fx, fy, cx, cy } = info.intrinsics;
  for (let v = 0, i = 0; v < info.height; v++) {
    for (let u = 0; u < info.width; u++, i += 3) {
      const x = (u - cx) / fx, y = (v - cy) / fy, norm = Math.hypot(x, y, 1);
      rays[i] = x / norm; rays[i + 1] = -y / norm; rays[i + 2] = -1 / norm;
    }
  }
  const positions = new Float32Array(count * 3);
  const colours = new Float32Array(count * 3);
  const geometry = new THREE.BufferGeometry();
  geometry.setAttribute("position", new THREE.BufferAttribute(positions, 3));
  geometry.setAttribute("color", new THREE.BufferAttribute(colours, 3));
  const points = new THREE.Points(geometry, new THREE.PointsMaterial({ size: 0.012, vertexColors: true }));
  scene.add(points);
  // Drawn only when the points or the view changed, at most once per display frame, and
  // the points refreshed at most ten times a second: the page stays light on small laptops.
  let scheduled = false;
  let lastUpdate = 0;
  function render() {
    scheduled = false;
    renderer.render(scene, camera);
  }
  function schedule() {
    if (!scheduled) { scheduled = true; requestAnimationFrame(render); }
  }
  controls.addEventListener("change", schedule);
  schedule();
  return {
    update(depth, near, far) {
      const now = performance.now();
      if (now - lastUpdate < 100) return;
      lastUpdate = now;
      const palette = info.depth_palette;
      for (let p = 0, i = 0; p < depth.length; p++, i += 3) {
        const metres = depth[p] / 1000;
        positions[i] = rays[i] * metres;
        positions[i + 1] = rays[i + 1] * metres;
        positions[i + 2] = rays[i + 2] * metres;
        const colour = palette[colourIndex(depth[p], near, far)];
        const shade = depth[p] === 0 ? 0 : 1 / 255;
        colours[i] = colour[0] * shade; colours[i + 1] = colour[1] * shade; colours[i + 2] = colour[2] * shade;
      }
      geometry.attributes.position.needsUpdate = true;
      geometry.attributes.color.needsUpdate = true;
      geometry.computeBoundingSphere();
      schedule();
    },
  };
}

async function start() {
  const response = await fetch("/api/info");
  const info = await response.json();
  viewer.info = info;
  viewer.width = info.width;
  viewer.height = info.height;
  for (const id of ["depth", "amplitude"]) {
    $(id).width = info.width;
    $(id).height = info.height;
  }
  if (info.error) setStatus(info.error, true);
  setUpControls(info.controls);
  setUpPointer();
  viewer.cloud = makeCloud(info);
  connect();
}

start();
