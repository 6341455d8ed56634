// Reads the MCAP files our writer made with the format's reference reader (@mcap/core) and
// decodes their ROS 2 messages with Foxglove's CDR reader; then writes a file with
// @mcap/core for our reader to check. Prints one line per file and fails on any mismatch.
//
//   node check_mcap.mjs DIR   (DIR holds what `quarvel_mcap_interop write DIR` made)
import { readFile, writeFile, readdir } from "node:fs/promises";
import { McapIndexedReader, McapStreamReader, McapWriter, TempBuffer } from "@mcap/core";
import { parse } from "@foxglove/rosmsg";
import { MessageReader, MessageWriter } from "@foxglove/rosmsg2-serialization";
import * as fzstd from "fzstd";
import lz4 from "lz4js";

const dir = process.argv[2];
const decompressHandlers = {
  zstd: (buffer, size) => fzstd.decompress(buffer, new Uint8Array(Number(size))),
  lz4: (buffer, size) => new Uint8Array(lz4.decompress(buffer, Number(size))),
};
let failures = 0;
function check(condition, what) {
  if (!condition) {
    failures += 1;
    console.error(`FAIL ${what}`);
  }
}

function readable(bytes) {
  return {
    size: async () => BigInt(bytes.byteLength),
    read: async (offset, size) => bytes.subarray(Number(offset), Number(offset + size)),
  };
}

// Every record in file order through the streaming reader, which checks every CRC.
function streamRecords(bytes) {
  const reader = new McapStreamReader({ decompressHandlers, validateCrcs: true });
  reader.append(bytes);
  const records = [];
  for (let record; (record = reader.nextRecord()); ) records.push(record);
  check(reader.done(), "stream reader reached the end magic");
  return records;
}

const SYNTHETIC_FRAMES = 5;
// What the synthetic files hold (the C++ tool writes the same).
function syntheticDepth(n, index) {
  // Float arithmetic step by step, as the C++ tool computes it.
  return Math.fround(Math.fround((index % 240) * Math.fround(0.001)) + n);
}

async function checkSynthetic(name) {
  const bytes = new Uint8Array(await readFile(`${dir}/${name}`));
  const records = streamRecords(bytes);
  // Record kinds of the data section, then of the summary after the data end.
  const kinds = new Map();
  const summary = new Map();
  let inSummary = false;
  for (const r of records) {
    const table = inSummary ? summary : kinds;
    table.set(r.type, (table.get(r.type) ?? 0) + 1);
    if (r.type === "DataEnd") inSummary = true;
  }
  check(summary.get("Schema") === 2 && summary.get("Channel") === 4 && summary.get("Statistics") === 1,
        `${name}: summary repeats schemas and channels, with statistics`);
  check(summary.get("ChunkIndex") >= 2 && summary.get("MetadataIndex") === 1 &&
        summary.get("SummaryOffset") === 5, `${name}: summary indexes and offsets`);
  check(kinds.get("Header") === 1, `${name}: one header`);
  check(kinds.get("Schema") === 2, `${name}: two schemas`);
  check(kinds.get("Channel") === 4, `${name}: four channels`);
  check(kinds.get("Message") === 4 * SYNTHETIC_FRAMES, `${name}: ${4 * SYNTHETIC_FRAMES} messages`);
  check(kinds.get("Metadata") === 1, `${name}: one metadata record`);
  check(kinds.get("DataEnd") === 1 && summary.get("Footer") === 1, `${name}: data end and footer`);
  check(kinds.get("MessageIndex") >= 2 * 4, `${name}: message indexes after the chunks`);
  check((kinds.get("Chunk") ?? 0) === 0, `${name}: chunks are expanded, not handed out`);

  const reader = await McapIndexedReader.Initialize({ readable: readable(bytes), decompressHandlers });
  check(reader.header.profile === "ros2", `${name}: ros2 profile`);
  check(reader.statistics.messageCount === BigInt(4 * SYNTHETIC_FRAMES), `${name}: statistics count`);
  check(reader.chunkIndexes.length >= 2, `${name}: chunk indexes (${reader.chunkIndexes.length})`);
  check(reader.metadataIndexes.length === 1, `${name}: metadata index`);
  const schemas = [...reader.schemasById.values()].map((s) => `${s.name}:${s.encoding}`).sort();
  check(JSON.stringify(schemas) ===
        JSON.stringify(["sensor_msgs/msg/CameraInfo:ros2msg", "sensor_msgs/msg/Image:ros2msg"]),
        `${name}: schemas ${schemas}`);
  const decoders = new Map();
  for (const channel of reader.channelsById.values()) {
    if (channel.schemaId === 0) continue;
    const schema = reader.schemasById.get(channel.schemaId);
    check(channel.messageEncoding === "cdr", `${name}: ${channel.topic} is cdr`);
    decoders.set(channel.id, new MessageReader(parse(new TextDecoder().decode(schema.data), { ros2: true })));
  }
  const counts = new Map();
  // The index lets the reader seek: the last two frames of the depth topic alone.
  let seeked = 0;
  for await (const m of reader.readMessages({ topics: ["/quarvel/depth"], startTime: 3000000000n })) {
    seeked += 1;
    check(m.logTime >= 3000000000n, `${name}: seek start`);
  }
  check(seeked === 2, `${name}: seek found ${seeked} of 2 depth frames`);
  for await (const m of reader.readMessages({ validateCrcs: true })) {
    const channel = reader.channelsById.get(m.channelId);
    counts.set(channel.topic, (counts.get(channel.topic) ?? 0) + 1);
    const n = Number(m.logTime / 1000000000n);
    if (channel.topic === "/quarvel/depth") {
      const image = decoders.get(m.channelId).readMessage(m.data);
      check(image.encoding === "32FC1" && image.width === 240 && image.height === 180 &&
            image.step === 960 && image.is_bigendian === 0, `${name}: depth image geometry`);
      check(image.header.frame_id === "quarvel_depth" && image.header.stamp.sec === n,
            `${name}: depth header`);
      const depth = new Float32Array(image.data.buffer.slice(image.data.byteOffset,
                                                             image.data.byteOffset + image.data.byteLength));
      let wrong = 0;
      for (let i = 0; i < depth.length; i += 1) if (depth[i] !== syntheticDepth(n, i)) wrong += 1;
      check(depth.length === 240 * 180 && wrong === 0, `${name}: depth pixels (${wrong} wrong)`);
    } else if (channel.topic === "/quarvel/camera_info") {
      const info = decoders.get(m.channelId).readMessage(m.data);
      check(info.width === 240 && info.height === 180 && info.distortion_model === "plumb_bob",
            `${name}: camera info geometry`);
      const near = (a, b) => Math.abs(a - b) < 1e-9;
      check(near(info.k[0], 120) && info.k[2] === 119.5 && info.k[5] === 89.5 && near(info.p[5], 120) &&
            info.p[10] === 1 && info.d.length === 5 && info.d.every((v) => v === 0) &&
            info.r[0] === 1 && info.r[4] === 1 && info.r[8] === 1, `${name}: camera info K/P/D/R ${info.k}`);
    } else if (channel.topic === "/quarvel/raw") {
      check(m.data.byteLength === 240 * 720 * 2 && m.sequence === n, `${name}: raw frame`);
      const words = new Uint16Array(m.data.buffer.slice(m.data.byteOffset, m.data.byteOffset + m.data.byteLength));
      check(words[0] === (n & 0xfff) && words[words.length - 1] === ((words.length - 1 + n) & 0xfff),
            `${name}: raw samples`);
    } else if (channel.topic === "/quarvel/controls") {
      const event = JSON.parse(new TextDecoder().decode(m.data));
      check(event.control === "RANGE" && event.value === 1000 * (n + 1), `${name}: control event`);
    }
  }
  for (const topic of ["/quarvel/depth", "/quarvel/camera_info", "/quarvel/raw", "/quarvel/controls"]) {
    check(counts.get(topic) === SYNTHETIC_FRAMES, `${name}: ${topic} has ${counts.get(topic)} messages`);
  }
  console.log(`ok ${name}: ${records.length} records, ${reader.chunkIndexes.length} chunks`);
}

// A recording of the simulated camera: its depth image at the frame the tool kept equals
// the depth the camera delivered, in metres.
async function checkCamera() {
  const expect = JSON.parse(await readFile(`${dir}/camera-expect.json`, "utf8"));
  const delivered = new Float32Array((await readFile(`${dir}/camera-depth.bin`)).buffer.slice(0));
  const bytes = new Uint8Array(await readFile(`${dir}/camera.mcap`));
  streamRecords(bytes);
  const reader = await McapIndexedReader.Initialize({ readable: readable(bytes), decompressHandlers });
  check(reader.statistics.messageCount === BigInt(expect.messages), "camera: message count");
  const byTopic = new Map([...reader.channelsById.values()].map((c) => [c.topic, c]));
  const raw = byTopic.get("/quarvel/raw");
  check(raw && raw.metadata.get("subframes") === "4" && raw.metadata.get("width") === "240",
        "camera: raw channel metadata");
  let logTime;
  let rawFrames = 0;
  for await (const m of reader.readMessages({ topics: ["/quarvel/raw"] })) {
    rawFrames += 1;
    if (m.publishTime === BigInt(expect.timestamp_ms) * 1000000n) logTime = m.logTime;
  }
  check(rawFrames === expect.frames, `camera: ${rawFrames} raw frames of ${expect.frames}`);
  check(logTime !== undefined, "camera: the kept frame is in the raw channel");
  const decoder = new MessageReader(parse(new TextDecoder().decode(
    reader.schemasById.get(byTopic.get("/quarvel/depth").schemaId).data), { ros2: true }));
  let compared = false;
  for await (const m of reader.readMessages({ topics: ["/quarvel/depth"], startTime: logTime, endTime: logTime })) {
    const image = decoder.readMessage(m.data);
    const metres = new Float32Array(image.data.buffer.slice(image.data.byteOffset,
                                                            image.data.byteOffset + image.data.byteLength));
    let wrong = 0;
    for (let i = 0; i < delivered.length; i += 1) {
      if (metres[i] !== Math.fround(delivered[i] / 1000) && !(isNaN(metres[i]) && isNaN(delivered[i]))) wrong += 1;
    }
    check(metres.length === delivered.length && wrong === 0, `camera: depth in metres (${wrong} wrong)`);
    compared = true;
  }
  check(compared, "camera: a depth image at the kept frame's time");
  console.log(`ok camera.mcap: ${reader.statistics.messageCount} messages`);
}

// A file written by the reference writer, for our reader: 3 Image messages 4x2 and a
// schemaless JSON channel, chunked.
async function writeReference() {
  const buffer = new TempBuffer();
  const writer = new McapWriter({ writable: buffer, chunkSize: 64 });
  await writer.start({ profile: "ros2", library: "@mcap/core" });
  const imageText = (await readFile(`${dir}/image.msg`, "utf8"));
  const schema = await writer.registerSchema({ name: "sensor_msgs/msg/Image", encoding: "ros2msg",
                                               data: new TextEncoder().encode(imageText) });
  const depth = await writer.registerChannel({ topic: "/js/depth", messageEncoding: "cdr", schemaId: schema,
                                               metadata: new Map([["unit", "m"]]) });
  const text = await writer.registerChannel({ topic: "/js/text", messageEncoding: "json", schemaId: 0,
                                              metadata: new Map() });
  const imageWriter = new MessageWriter(parse(imageText, { ros2: true }));
  for (let n = 0; n < 3; n += 1) {
    const values = new Float32Array(8).map((_, i) => i * 0.5 + n);
    const data = imageWriter.writeMessage({
      header: { stamp: { sec: n, nanosec: 7 }, frame_id: "js" }, height: 2, width: 4, encoding: "32FC1",
      is_bigendian: 0, step: 16, data: new Uint8Array(values.buffer) });
    await writer.addMessage({ channelId: depth, sequence: n, logTime: BigInt(n) * 1000n,
                              publishTime: BigInt(n) * 1000n + 1n, data });
    await writer.addMessage({ channelId: text, sequence: n, logTime: BigInt(n) * 1000n + 500n,
                              publishTime: 0n, data: new TextEncoder().encode(`{"n":${n}}`) });
  }
  await writer.addMetadata({ name: "js", metadata: new Map([["writer", "@mcap/core"]]) });
  await writer.end();
  await writeFile(`${dir}/js-written.mcap`, buffer.get());
  console.log("ok js-written.mcap written");
}

const names = (await readdir(dir)).filter((f) => f.startsWith("synthetic-") && f.endsWith(".mcap")).sort();
check(names.length === 3, `three synthetic files (none, zstd, lz4), found ${names}`);
for (const name of names) await checkSynthetic(name);
await checkCamera();
await writeReference();
if (failures > 0) {
  console.error(`${failures} checks failed`);
  process.exit(1);
}
