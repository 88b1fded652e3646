#!/usr/bin/env python3
"""Writes the committed seed inputs under fuzz/corpus/<target>/.

Each seed is built from the input layout that its fuzzer's file comment
describes; run this again after changing a layout. The files are small and
hand-made, one per path worth reaching.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def u16(v):
    return struct.pack(">H", v & 0xFFFF)


def u32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# Reader fuzzers: <clock start> then operations.
def feed(data):
    out = b""
    while data:
        chunk, data = data[:256], data[256:]
        out += bytes([0, len(chunk) - 1]) + chunk
    return out


def gap(g):
    return bytes([4, g])


def poll(k):
    return bytes([5, (k - 1) % 16])


def wait(ms):
    return bytes([6]) + u16(ms)


RESET = bytes([7])


def reply_reader_seeds():
    t = "reply_reader_fuzzer"
    write(t, "tokens", b"\x00" + feed(b"xRXzOK") + poll(8) + wait(20))
    write(t, "values", b"\x00" + feed(b"nBR" + u32(0x10000) + u32(0x100FF) + b"PC" + u32(1) +
                                      u32(2) + b"PF" + u32(3) + u32(4)) + wait(100) + wait(100) +
          wait(100) + wait(5))
    write(t, "free_text", b"\x00" + feed(b"FT" + b"loader says " * 22 + b"OK") + wait(50))
    write(t, "nul_and_reset", b"\x00" + feed(b"B\x00R\x00\x01\x02\x03\x04\x05\x06\x07R") +
          poll(12) + RESET + feed(b"X") + poll(2) + feed(b"RX") + wait(3))
    write(t, "late_reply_at_wrap", b"\x02" + gap(250) + feed(b"RX") + wait(8000) + wait(3000))
    write(t, "split_request", b"\x01" + feed(b"BR\x00\x00") + wait(5) + gap(1) +
          feed(b"\x01\x00\x00\x00\x01\xff") + wait(100))


def sentence_reader_seeds():
    t = "sentence_reader_fuzzer"
    gga = b"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
    write(t, "one_sentence", b"\x00" + feed(gga) + wait(1000))
    write(t, "back_to_back", b"\x00" + feed(b"$GPRMC,1*00$GPGSA,2*00\r\n") + poll(16) + poll(16))
    write(t, "long", b"\x00" + feed(b"$" + b"9" * 150 + b"\n") + wait(10))
    write(t, "noise_and_reset", b"\x00" + feed(b"$GPGSV,\x85\x90,1*00\n$GP") + poll(16) +
          RESET + feed(b"\n$A\n") + wait(10))
    write(t, "late_at_wrap", b"\x02" + gap(30) + feed(gga) + wait(1000) + wait(500))


# Transfer fuzzer: images, then replies <kind> [parameters].
APP, BOOT, ALMANAC, N10D = 2, 0, 1, 12


def image(slot, length, pattern):
    return bytes([slot]) + u16(length) + bytes([len(pattern)]) + pattern


def images(*parts):
    return bytes([len(parts) - 1]) + b"".join(parts)


RX, OK, PC, PF, SILENT = b"\x00", b"\x01", b"\x02", b"\x03", b"\x0d"


def inside(start, end_offset):
    return b"\x04" + u16(start) + u16(end_offset)


def transfer_seeds():
    t = "transfer_fuzzer"
    write(t, "app_written", images(image(APP, 600, b"QVRX\x01\x02")) + RX + inside(0, 599) + PC)
    write(t, "boot_protected", images(image(BOOT, 40, b"\x11"), image(APP, 300, b"ab")) + RX +
          SILENT + inside(0, 299) + PC)
    write(t, "no_sync", images(image(ALMANAC, 10, b"z")) + OK * 10)
    write(t, "failed", images(image(ALMANAC, 257, b"\xff\x00")) + RX + inside(0, 256) +
          b"\x04" + u16(256) + u16(0) + PF)
    write(t, "past_end", images(image(ALMANAC, 100, b"q")) + RX + b"\x05\x10" + u16(20) +
          b"\x05\xff" + u16(500))
    write(t, "late_and_noisy", images(image(APP, 520, b"QV"), image(N10D, 1, b"e")) +
          RX + b"\x0b\x20" + b"\x0c\x05" + inside(0, 519) + b"\xd2" + b"\xe2")
    write(t, "half_reply", images(image(APP, 64, b"h")) + RX + b"\x0a\x00\x04\x00\x01\x00\x00" +
          b"\x0e\x03\x00\x01\x00\x3f" + PC)
    write(t, "odd_requests", images(image(BOOT, 0, b""), image(ALMANAC, 513, b"\x01\x02\x03"),
                                    image(APP, 5, b"x")) + RX + b"\x09" + u16(0) + PC +
          b"\x08" + u16(3) + b"\x02" + b"\x06\x01" + u16(0))
    write(t, "huge", images(image(APP, 9, b"ok")) + RX + b"\x07" + u16(1) + b"\x01")
    write(t, "raw_request", images(image(ALMANAC, 20, b"r")) + RX + b"\x0f" + u32(0x8000) +
          u32(0x8013) + PC)


# Arguments fuzzer: <flags> <three files> <words>.
def file(length, pattern=b"\x5a", absent=False):
    return u16(0x8000 if absent else length) + bytes([len(pattern)]) + pattern


NONE = file(0, b"", absent=True)


def arguments_seeds():
    t = "arguments_fuzzer"
    app = file(300, b"QVRX-app")
    write(t, "loader_app", b"\x01" + app + NONE + NONE + b"-app\na")
    write(t, "firmware_three", b"\x0e" + file(600, b"boot") + file(40, b"alm") + file(1) +
          b"-baud\n38400\n-boot\na\n-almanac\nb\n-n10d\nc")
    write(t, "loader_small_requests", b"\x65" + app + file(257, b"\x00\xff") + NONE +
          b"-uart\ncom7\n-app\na\n-usr\nb")
    write(t, "loader_ready", b"\x19" + NONE * 3 + b"-uart\nCOM2\n-baud\n230400")
    write(t, "silent", b"\x00" + app + NONE + NONE + b"-uart\nCOM3\n-app\na")
    write(t, "no_port", b"\x03" + app + NONE + NONE + b"-uart\nCOM256\n-app\na")
    write(t, "help", b"\x00" + NONE * 3 + b"/?")
    write(t, "help_words", b"\x00" + NONE * 3 + b"-app\na\n--help")
    write(t, "missing", b"\x01" + NONE * 3 + b"-app\nnofile\n-almanac\nd\n-usr\n-app")
    write(t, "bad_words", b"\x01" + NONE * 3 + b"-baud\n1234\0-uart\nCOM0\0-uart\nLPT1\0xyz")
    write(t, "empty_file", b"\x01" + file(0) + NONE + NONE + b"-boot\na")


if __name__ == "__main__":
    reply_reader_seeds()
    sentence_reader_seeds()
    transfer_seeds()
    arguments_seeds()
