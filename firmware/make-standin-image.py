#!/usr/bin/env python3
"""Writes the stand-in adapter firmware image: 837 Intel HEX records.

The adapter maker's image is not ours to ship. This one has the shape of a real image, so that
every rule of the transfer is exercised by what the program carries: an extended-address record
first, program memory in 16-byte records, a few records inside the loader's own area (word
addresses 1E00 to 20FF, which the loader must never be sent), the configuration and data-memory
segments behind extended-address records of their own, and the end-of-file record. The bytes
are a fixed pseudo-random sequence, so every build makes the same file.

Usage: make-standin-image.py OUTPUT
"""
import sys

RECORDS = 837


def record(address, kind, data):
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, kind]) + bytes(data)
    checksum = (-sum(body)) & 0xFF
    return ":" + (body + bytes([checksum])).hex().upper()


class Bytes:
    """A small linear congruential generator: the same bytes on every run."""

    def __init__(self):
        self.state = 0x2545F491

    def take(self, n):
        out = []
        for _ in range(n):
            self.state = (self.state * 1103515245 + 12345) & 0x7FFFFFFF
            out.append((self.state >> 16) & 0xFF)
        return out


def extended(upper):
    return record(0, 0x04, [(upper >> 8) & 0xFF, upper & 0xFF])


def image():
    rnd = Bytes()
    lines = [extended(0x0000)]
    # Program memory from the reset vector up.
    code_records = 805
    for i in range(code_records):
        lines.append(record(i * 16, 0x00, rnd.take(16)))
    # Around and inside the loader's area (byte addresses 3C00 to 41FF): the records just
    # outside it are sent, the ones inside are not.
    for address in [0x3BF0, 0x3C00, 0x3C10, 0x3C20, 0x3C30, 0x41C0, 0x41D0, 0x41E0, 0x41F0,
                    0x4200, 0x4210]:
        lines.append(record(address, 0x00, rnd.take(16)))
    # Configuration words.
    lines.append(extended(0x0030))
    lines.append(record(0x0000, 0x00, rnd.take(14)))
    # Data memory.
    lines.append(extended(0x00F0))
    for i in range(16):
        lines.append(record(i * 16, 0x00, rnd.take(16)))
    lines.append(record(0, 0x01, []))
    assert len(lines) == RECORDS, len(lines)
    return lines


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1])
    with open(sys.argv[1], "w", newline="\n") as f:
        f.write("\n".join(image()) + "\n")


if __name__ == "__main__":
    main()
