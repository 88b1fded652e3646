#!/usr/bin/env python3
"""Checks each simulator's flash against what the guest wrote there.

  check_flash.py CONSOLE_LOG IMAGE_DIR SIM=FLASH_FILE...

The guest prints "@vm wrote SIM SLOT FILE" for every image a run reported
written, in the order the runs ended. The flash a simulator should hold is
2 MiB of erased bytes (0xFF) with each image written over it at its slot's
address, in that order (a shorter image leaves the end of a longer one
before it); every byte of it is compared. Prints one line per simulator,
"vm: flash-SIM ok|FAIL ...", and exits 1 when one differs.
"""
import os
import sys

# The receiver's flash addresses of the thirteen slots.
ADDRESSES = {
    "boot": 0x00000000, "almanac": 0x00008000, "app": 0x00010000, "usr": 0x00080000,
    "odo": 0x00090000, "ni": 0x000A0000, "nd": 0x000DF490, "n0i": 0x00100000,
    "n0d": 0x001021C0, "n2i": 0x00120000, "n2d": 0x001221C0, "n10i": 0x00180000,
    "n10d": 0x001821C0,
}
FLASH_SIZE = 2 * 1024 * 1024


def main():
    log, image_dir = sys.argv[1], sys.argv[2]
    dumps = dict(arg.split("=", 1) for arg in sys.argv[3:])
    written = {sim: [] for sim in dumps}
    with open(log, encoding="utf-8", errors="replace") as f:
        for line in f:
            words = line.split()
            # "TIME @vm wrote SIM SLOT FILE"
            if len(words) == 6 and words[1:3] == ["@vm", "wrote"] and words[3] in written:
                written[words[3]].append((words[4], os.path.basename(words[5])))
    failed = False
    for sim, dump in sorted(dumps.items()):
        expected = bytearray(b"\xff" * FLASH_SIZE)
        for slot, name in written[sim]:
            with open(os.path.join(image_dir, name), "rb") as f:
                image = f.read()
            address = ADDRESSES[slot]
            expected[address:address + len(image)] = image
        try:
            with open(dump, "rb") as f:
                actual = f.read()
        except OSError as error:
            print("vm: flash-%s FAIL %s" % (sim, error))
            failed = True
            continue
        slots = " ".join("%s=%s" % item for item in written[sim])
        if actual == bytes(expected):
            print("vm: flash-%s ok %d images: %s" % (sim, len(written[sim]), slots))
            continue
        failed = True
        if len(actual) != FLASH_SIZE:
            print("vm: flash-%s FAIL %d bytes, not %d" % (sim, len(actual), FLASH_SIZE))
            continue
        first = next(i for i in range(FLASH_SIZE) if actual[i] != expected[i])
        print("vm: flash-%s FAIL first difference at 0x%06X (0x%02X, expected 0x%02X); wrote %s"
              % (sim, first, actual[first], expected[first], slots))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
