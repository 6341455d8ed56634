#!/usr/bin/python3
"""Writes the seed corpora of fuzz/corpus/: realistic inputs of every target.

Most targets read their input through libFuzzer's FuzzedDataProvider, which takes strings and
byte runs from the front of the input and integers from its back. `Input` below lays out a
seed the way a target consumes it, call for call, so that each seed decodes to the /proc lines,
sysfs names, entity names, frames and files written here. Run it again after changing the order
in which a target consumes its input: /usr/bin/python3 fuzz/make_seeds.py
"""
import hashlib
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


class Input:
    """A FuzzedDataProvider input built in consumption order."""

    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in consumption order; stored reversed at the end

    def integer(self, low, high, value):
        """ConsumeIntegralInRange(low, high) returning `value`."""
        assert low <= value <= high
        span = high - low
        offset = value - low
        count = 0
        while span >> (8 * count):
            count += 1
        # The most significant byte is consumed first.
        self.back += offset.to_bytes(count, "big") if count else b""
        return self

    def boolean(self, value):
        return self.integer(0, 255, 1 if value else 0)

    def u32(self, value):
        return self.integer(0, 2**32 - 1, value)

    def i32(self, value):
        """ConsumeIntegral<int>: its range starts at INT_MIN."""
        return self.integer(-2**31, 2**31 - 1, value)

    def string(self, text):
        """ConsumeRandomLengthString returning `text` (a backslash and a stop byte end it)."""
        data = text.encode("latin-1") if isinstance(text, str) else bytes(text)
        self.front += data.replace(b"\\", b"\\\\") + b"\\\n"
        return self

    def raw(self, data):
        """ConsumeBytes / ConsumeRemainingBytes: the bytes as they are."""
        self.front += data.encode("latin-1") if isinstance(data, str) else bytes(data)
        return self

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write(target, name, data):
    directory = os.path.join(HERE, "corpus", target)
    os.makedirs(directory, exist_ok=True)
    if isinstance(data, Input):
        data = data.bytes()
    elif isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(directory, name), "wb") as out:
        out.write(data)


# /proc/bus/i2c as the boards we support write it ("i2c-%d\t%-9s\t%-32s\t%-14s\n").
def proc_line(bus, name, kind="i2c", algorithm="I2C adapter"):
    return "i2c-%d\t%-9s\t%-32s\t%-14s\n" % (bus, kind, name, algorithm)


PROC_FILES = {
    "raspberry-pi-4": [(1, "bcm2835 (i2c@7e804000)"), (10, "i2c-22-mux (chan_id 1)"),
                       (20, "fef04500.i2c"), (21, "fef09500.i2c"), (22, "bcm2835 (i2c@7e205000)")],
    "raspberry-pi-5": [(1, "Synopsys DesignWare I2C adapter"), (6, "Synopsys DesignWare I2C adapter"),
                       (10, "Synopsys DesignWare I2C adapter"), (11, "107d508200.i2c")],
    "jetson-nano": [(0, "7000c000.i2c"), (1, "7000c400.i2c"), (6, "7000d000.i2c"),
                    (7, "i2c-6-mux (chan_id 0)"), (30, "i2c-2-mux (chan_id 0)")],
    "radxa-rock-5b": [(0, "rk3x-i2c"), (4, "rk3x-i2c"), (6, "rk3x-i2c"), (7, "rk3x-i2c")],
}


def seeds_proc_lines():
    target = "fuzz_i2c_proc_lines"
    for board, adapters in PROC_FILES.items():
        text = "".join(proc_line(bus, name) for bus, name in adapters)
        for lookup in (adapters[-1][1], "10", adapters[0][1]):
            data = Input().boolean(False).string(lookup).raw(text)
            write(target, "%s-%s" % (board, hashlib.sha1(lookup.encode()).hexdigest()[:8]), data)
    # The structured form: lines built from fields, one named like the looked-up text.
    data = Input().boolean(True).string("i2c-2-mux (chan_id 0)").integer(0, 12, 3)
    for bus, kind, name, algorithm in ((0, "i2c", "7000c000.i2c", "I2C adapter"),
                                       (30, "i2c", "i2c-2-mux (chan_id 0)", "I2C adapter"),
                                       (7, "smbus", "i2c-6-mux (chan_id 0)", "SMBus adapter")):
        data.boolean(True).integer(0, 40, bus).string(kind).string(name).boolean(False)
        data.string(algorithm)
    write(target, "structured-jetson", data)


def seeds_sysfs_names():
    target = "fuzz_i2c_sysfs_names"
    # Entries: (name, where the name file is: 0 name, 1 device/name, 2 device/i2c-*/name).
    boards = {
        "raspberry-pi-4": [("i2c-1", 0, "bcm2835 (i2c@7e804000)\n"),
                           ("i2c-10", 1, "i2c-22-mux (chan_id 1)\n"),
                           ("i2c-22", 0, "bcm2835 (i2c@7e205000)\n")],
        "jetson-orin": [("i2c-0", 0, "3160000.i2c\n"), ("i2c-30", 2, "i2c-2-mux (chan_id 0)\n"),
                        ("i2c-9", 0, "31e0000.i2c\n")],
        "radxa-rock-5b": [("i2c-4", 0, "rk3x-i2c\n"), ("i2c-7", 1, "rk3x-i2c\n"),
                          ("bus-1", 0, "not an adapter\n")],
    }
    for board, entries in boards.items():
        for mounts in (0, 1):
            lookup = entries[1][2].strip()
            data = Input().string(lookup).integer(0, 2, mounts)
            if mounts == 1:
                data.string("/sys")
            data.integer(0, 10, len(entries))
            for name, where, content in entries:
                if name.startswith("i2c-"):
                    data.boolean(True).i32(int(name[4:]))
                else:
                    data.boolean(False).string(name)
                data.string(content).integer(0, 3, where)
                if where == 2:
                    data.boolean(True).string(name[4:])
            write(target, "%s-%d" % (board, mounts), data)
    write(target, "mounts-text", Input().string("rk3x-i2c").integer(0, 2, 2).string(
        "proc /proc proc rw,relatime 0 0\nsysfs /sys sysfs rw,nosuid,nodev,noexec 0 0\n"
        "tmpfs /run tmpfs rw 0 0\n").integer(0, 10, 1).boolean(True).i32(4).string(
        "rk3x-i2c\n").integer(0, 3, 0))


def seeds_number_parsers():
    for text in ("0x0c", "12", "0x03", "0x77", "0x78", "0x0cz", "10", "0x0a", "012", "4",
                 "30", "1048575", "1048576", "", "-1", "0", " 7", "0x"):
        write("fuzz_number_parsers", "text-" + (text.strip() or "empty").replace(" ", "_"), text)


PIECES = ["csi2", "rp1-cfe-csi2_ch0", "rockchip-csi2-dphy1", "quarvel-vantorix", "vantorix",
          " ", "10-000c", "-", "4", "rp1-cfe-fe_image0", "imx219 10-0010", "rkisp-isp-subdev"]


def entity_name(data, parts):
    data.integer(0, 5, len(parts))
    for part in parts:
        if part in PIECES:
            data.boolean(True).integer(0, len(PIECES) - 1, PIECES.index(part))
        else:
            data.boolean(False).string(part)


def seeds_media_entities():
    target = "fuzz_media_entity_names"
    graphs = {
        # board index (0 Pi, 1 Pi 5, 2 Rock), entities (id, name pieces, minor)
        "raspberry-pi-4": (0, [(1, ["unicam-image"], 0), (5, ["unicam-embed"], 1),
                               (9, ["quarvel-vantorix", " ", "10-000c"], 2)]),
        "raspberry-pi-5": (1, [(1, ["rp1-cfe-csi2_ch0"], 0), (8, ["csi2"], 1),
                               (12, ["rp1-cfe-fe_image0"], 3),
                               (20, ["quarvel-vantorix", " ", "10-000c"], 2)]),
        "radxa-rock-5b": (2, [(1, ["rockchip-csi2-dphy1"], 4), (3, ["rkisp-isp-subdev"], 5),
                              (6, ["m00_b_", "vantorix", " ", "4", "-000c"], 6)]),
    }
    proc = "".join(proc_line(bus, name) for bus, name in PROC_FILES["raspberry-pi-5"])
    for board, (index, entities) in graphs.items():
        data = Input().integer(0, 2, index).integer(0, 3, 0).boolean(True)
        data.u32(240).u32(180).boolean(True).integer(0, 7, 3)
        data.integer(0, 6, 2)
        for i in range(2):
            data.boolean(True).boolean(True)  # "media<i>", and its node exists
        data.integer(0, 10, len(entities))
        for entity_id, parts, minor in entities:
            data.integer(1, 64, entity_id)
            entity_name(data, parts)
            data.integer(0, 2, 1).integer(0, 7, minor).integer(0, 3, 0)
        data.string(proc)
        write(target, board, data)


def seeds_jetson_lines():
    target = "fuzz_jetson_name_line"
    lines = ["vi-output, quarvel 30-000c\n", "vi-output, quarvel 9-000c\n",
             "vi-output, quarvel 31-000c", "vi-output, imx219 30-0010\n", "quarvel\n",
             "vi-output, quarvel-vantorix 2-000c\n", "vi-output, quarvel 012-000c\n"]
    for number, line in enumerate(lines):
        for board in (0, 1):
            data = Input().integer(0, 2, board).integer(0, 3, 0).boolean(False).raw(line)
            write(target, "line-%d-board-%d" % (number, board), data)
    data = Input().integer(0, 2, 1).integer(0, 3, 1).boolean(True).string("vi-output, ")
    data.string("").u32(30).string("-000c").boolean(True)
    write(target, "structured-orin", data)


def seeds_subframe_copy():
    target = "fuzz_subframe_copy"
    pattern = bytes(range(256)) * 40
    # (routine, units, offset, capacity): a 240-sample line-stride buffer, Jetson blocks, plain.
    for routine, units, offset, capacity in ((1, 8, 0, 8 * 480), (1, 8, -32, 8 * 480),
                                             (2, 4, 0, 4 * 960), (2, 3, 40, 3 * 960 + 40),
                                             (0, 8, 0, 512), (1, 2, 0, 700)):
        unit = 512 if routine == 1 else 960 if routine == 2 else 64
        length = units * unit + offset
        data = Input().integer(0, 2, routine).integer(0, 8, units).integer(-40, 40, offset)
        data.boolean(True).integer(0, 9000, capacity).boolean(True).u32(240)
        data.raw(pattern[:max(length, 0)])
        write(target, "routine-%d-%d-%d" % (routine, units, capacity), data)


def seeds_y12p():
    target = "fuzz_y12p_unpack"
    for width, lines in ((240, 4), (640, 2), (242, 3)):
        line_bytes = width * 3 // 2
        stride = (line_bytes + 15) // 16 * 16
        data = Input().boolean(True)
        if width % 2 == 0 and width <= 800:
            data.boolean(True).integer(0, 400, width // 2)
        else:
            data.boolean(False).integer(0, 1000, width)
        data.integer(0, 6, lines).integer(-24, 24, 0)
        data.boolean(True).integer(0, 5, 0).boolean(True)
        data.raw(bytes((i * 37 + 11) & 0xFF for i in range(lines * stride + 8)))
        write(target, "unpack-width-%d" % width, data)
    for pairs, extra, lines in ((120, 8, 3), (320, 0, 2), (5, 3, 4)):
        data = Input().boolean(False).integer(0, 80, min(pairs, 80)).integer(0, 40, extra)
        data.integer(0, 5, lines)
        data.raw(bytes((i * 53 + 5) & 0xFF for i in range(lines * (3 * min(pairs, 80) + extra))))
        write(target, "lines-%d-pairs" % min(pairs, 80), data)


def seeds_usb():
    target = "fuzz_usb_conversion"
    for bits, bpp in ((12, 2), (10, 2), (14, 2), (8, 1)):
        size = 480 * bpp
        produced = 2 * size if bits == 8 else size
        data = Input().boolean(True).integer(0, 40, bits).boolean(True).integer(1, 2, bpp)
        data.integer(0, 4096, size).integer(0, 2, 1).boolean(True).integer(0, 15, 5)
        data.raw(bytes((i * 7) & 0xFF for i in range(size)))
        assert produced > 0
        write(target, "bits-%d-bpp-%d" % (bits, bpp), data)


def seeds_phase_raw():
    target = "fuzz_phase_raw_frames"
    for single, calibrated in ((True, False), (False, False), (True, True)):
        width, height = 16, 8
        data = Input().integer(4, 48, width).integer(1, 24, height).boolean(single)
        data.boolean(True)  # default parameters
        data.boolean(calibrated)
        if calibrated:
            for _ in range(3 * width * height):
                data.integer(0, 2**32 - 1, 2**31)  # offsets near zero
        data.integer(1, 3, 2)
        blocks = 5 if single else 10
        samples = width * (height + 1) * blocks
        for frame in range(2):
            # A wall at a fixed phase: the correlation samples of each block kind.
            values = []
            for block in range(blocks):
                kind = block % 5
                level = [2600, 2000, 1400, 2000, 1800][kind]
                values += [level + (i * 5 + frame) % 7 for i in range(width * (height + 1))]
            data.raw(b"".join(struct.pack("<H", v) for v in values[:samples]))
            data.integer(0, 7, 3).integer(0, 15, 1)  # no spoiling, embedded lines written
        write(target, "wall-%s%s" % ("single" if single else "dual",
                                     "-calibrated" if calibrated else ""), data)


def calibration_file(width, height, offsets):
    header = b"SI4CCAL1" + struct.pack("<6I", 1, 32, width, height, 3, 3 * width * height * 4)
    return header + b"".join(struct.pack("<f", v) for v in offsets)


def seeds_phase_calibration():
    target = "fuzz_phase_calibration"
    width, height = 8, 4
    offsets = [((i % 17) - 8) * 1.5 for i in range(3 * width * height)]
    write(target, "valid-file", Input().integer(4, 24, width).integer(1, 16, height)
          .boolean(True).raw(calibration_file(width, height, offsets)))
    write(target, "wrong-geometry", Input().integer(4, 24, width).integer(1, 16, height)
          .boolean(True).raw(calibration_file(16, 2, offsets)))
    data = Input().integer(4, 24, width).integer(1, 16, height).boolean(False)
    for _ in range(6):
        data.integer(0, 15, 3)
    for _ in range(3 * width * height):
        data.integer(0, 31, 4).integer(0, 2**32 - 1, 2**31 + 1000)
    data.integer(0, 3, 0)
    write(target, "structured", data)


def seeds_phase_config():
    target = "fuzz_phase_config"
    default = ("[DenoisingParams]\nTDenoiseLevel_Depth=3\nSDenoiseLevel_Depth=3\n"
               "TDenoiseMethod_Depth=1\nSDenoiseMethod_Depth=1\nTDenoiseLevel_Gray=1\n"
               "SDenoiseLevel_Gray=1\nTDenoiseMethod_Gray=1\nSDenoiseMethod_Gray=1\n\n"
               "[RepairParams]\nERDOLvl=3\n\n[ConfidenceParams]\nValidDistMin=0\n"
               "ValidDistMax=7000\n")
    write(target, "default-config-algorithm", default)
    write(target, "overrides", "# near work\n[ConfidenceParams]\n ValidDistMin = 150 \r\n"
          "ValidDistMax=2500\nConfidenceThreshold=0.4\n; off\nTDenoiseLevel_Depth=0\n"
          "// comment\nSDenoiseLevel_Depth=9\n")
    write(target, "out-of-range", "ValidDistMin=8000\nValidDistMax=100\nERDOLvl=12\n"
          "ConfidenceThreshold=nan\nTDenoiseMethod_Gray=2\nSDenoiseLevel_Gray=1e3\n")


def seeds_sim_config():
    target = "fuzz_sim_camera_config"
    write(target, "docs-vga-dual", "# 640x480 camera, both modulation frequencies, near scene\n"
          "sensor = vga\nvga_frequency = dual\nscene = near\nfps = 20\nbit_width = 12\n"
          "noise = on\nseed = 7\n")
    write(target, "every-key", "sensor = hqvga\nvga_frequency = single\nscene = wall\n"
          "wall_distance_mm = 2500\nfps = 60\nbit_width = 10\nnoise = off\nseed = 0x2a\n"
          "signal = 0.5\nambient = 3\npacing = unthrottled\nmixed_pixels = on\n")
    write(target, "replay", "sensor=vga\r\npacing = replay # benchmarks\n")
    write(target, "refused", "fps = 61\n")
    write(target, "empty", "")


USER_PATH_ENTRIES = ["description", "empty", "large", "fifo", "dir", "link", "loop", "device",
                     "dangling", "."]


def seeds_user_paths():
    """Paths inside fuzz_user_paths' scratch tree: entry names, '..', and raw names."""
    target = "fuzz_user_paths"

    def path(limit, *components):
        data = Input().integer(0, 80 * 1024, limit).integer(0, 8, len(components))
        for component in components:
            data.boolean(False)
            if component == "..":
                data.integer(0, 3, 0)
            elif component in USER_PATH_ENTRIES:
                data.integer(0, 3, 1).integer(0, len(USER_PATH_ENTRIES) - 1,
                                              USER_PATH_ENTRIES.index(component))
            else:
                data.integer(0, 3, 2).string(component)
        return data

    write(target, "description", path(65536, "description"))
    write(target, "fifo", path(65536, "fifo"))
    write(target, "device", path(100, "device"))
    write(target, "traversal", path(65536, "dir", "..", "dir", "description"))
    write(target, "non-utf8-long-name", path(65536, b"\xff\xfe" * 150))


def seeds_camera_info():
    target = "fuzz_camera_info"
    write(target, "ros-vga", "image_width: 640\nimage_height: 480\ncamera_name: quarvel\n"
          "camera_matrix:\n  rows: 3\n  cols: 3\n  data: [512.5, 0, 321.25,\n"
          "         0, 511.0, 238.75, 0, 0, 1]\ndistortion_model: plumb_bob\n"
          "distortion_coefficients:\n  rows: 1\n  cols: 5\n"
          "  data: [-0.25, 0.07, 0.001, -0.0005, -0.01]\n")
    write(target, "no-distortion", "image_width: 240 # hqvga\nimage_height: 180\n"
          "camera_matrix:\n  data: [192.04, 0, 119.5, 0, 192.04, 89.5, 0, 0, 1]\n")
    write(target, "refused", "image_width: 240\nimage_height: 180\ndistortion_model: fisheye\n"
          "camera_matrix:\n  data: [1, 0, 0, 0, 1, 0, 0, 0, 1]\n")
    write(target, "unclosed", "image_width: 1\nimage_height: 1\ncamera_matrix:\n  data: [1, 2\n")


def seeds_regressions():
    """Inputs that broke an invariant once, rebuilt here so that every run replays them."""
    # An adapter line with a negative bus number, named like the looked-up text.
    write("fuzz_i2c_proc_lines", "regression-negative-bus", Input().boolean(False)
          .string("evil").raw(proc_line(-1, "evil") + proc_line(99999999999 % 2**31, "big")))
    # Sysfs entries whose numbers no bus node can have.
    data = Input().string("evil").integer(0, 2, 0).integer(0, 10, 2)
    data.boolean(False).string("i2c--3").string("evil\n").integer(0, 3, 0)
    data.boolean(False).string("i2c-99999999999").string("evil\n").integer(0, 3, 0)
    write("fuzz_i2c_sysfs_names", "regression-negative-bus", data)
    # Bit widths far above 12 (shift by 32 and more), and an empty frame without pixels.
    data = Input().boolean(True).integer(0, 40, 40).boolean(False).u32(2)
    data.integer(0, 4096, 8).integer(0, 2, 1).boolean(True).integer(0, 15, 5)
    write("fuzz_usb_conversion", "regression-bits-40", data.raw(b"\xff" * 8))
    for bits in (44, 255):
        data = Input().boolean(False).u32(bits).boolean(True).integer(1, 2, 2)
        data.integer(0, 4096, 8).integer(0, 2, 1).boolean(True).integer(0, 15, 5)
        write("fuzz_usb_conversion", "regression-bits-%d" % bits, data.raw(b"\xff" * 8))
    write("fuzz_usb_conversion", "regression-empty-frame", Input().boolean(True).integer(0, 40, 12)
          .boolean(True).integer(1, 2, 2).integer(0, 4096, 0).integer(0, 2, 0).boolean(True)
          .integer(0, 15, 5))


def main():
    seeds_proc_lines()
    seeds_sysfs_names()
    seeds_number_parsers()
    seeds_media_entities()
    seeds_jetson_lines()
    seeds_subframe_copy()
    seeds_y12p()
    seeds_usb()
    seeds_phase_raw()
    seeds_phase_calibration()
    seeds_phase_config()
    seeds_sim_config()
    seeds_user_paths()
    seeds_camera_info()
    seeds_regressions()


if __name__ == "__main__":
    main()
