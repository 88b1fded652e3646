#!/usr/bin/env python3
"""The images the virtual machine's cases write (scripts/test-vm.sh).

  images.py DIR     writes into DIR, for every slot, SLOT-1.bin and SLOT-2.bin
                    (two contents of a few hundred bytes to 2 KiB, lengths of
                    every remainder mod 256 among them) and app-big.bin (48 KiB,
                    long enough to be unplugged in the middle of)

The bytes are a fixed function of the file's name, so a run writes the same
images every time.
"""
import hashlib
import os
import sys

SLOTS = ["boot", "almanac", "app", "usr", "odo", "ni", "nd", "n0i", "n0d", "n2i", "n2d",
         "n10i", "n10d"]


def content(name, length):
    out = bytearray()
    counter = 0
    while len(out) < length:
        out += hashlib.sha256(("%s/%d" % (name, counter)).encode()).digest()
        counter += 1
    return bytes(out[:length])


def main():
    directory = sys.argv[1]
    os.makedirs(directory, exist_ok=True)
    for index, slot in enumerate(SLOTS):
        for variant in (1, 2):
            name = "%s-%d.bin" % (slot, variant)
            length = 257 + 131 * index + 97 * variant  # 354 to 2123 bytes
            with open(os.path.join(directory, name), "wb") as f:
                f.write(content(name, length))
    with open(os.path.join(directory, "app-big.bin"), "wb") as f:
        f.write(content("app-big.bin", 48 * 1024))


if __name__ == "__main__":
    main()
