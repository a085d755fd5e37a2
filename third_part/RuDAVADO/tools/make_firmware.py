#!/usr/bin/env python3
"""Writes firmware packages for the cameras: one per model family, a damaged one and a foreign one.

    make_firmware.py OUT_DIR                 the sample set
    make_firmware.py --family F --version V [--damaged] OUT_FILE

Package: a 64-byte header (little-endian) then the image.
    0 "KPFW" | 4 u16 format 1 | 6 u16 header size 64 | 8 family, 24 bytes NUL-padded
    32 version, 16 bytes NUL-padded | 48 u32 image size | 52 u32 CRC-32 of the image
    56 u32 CRC-32 of header bytes 0-55 | 60 u32 reserved 0
"""
import argparse
import os
import random
import struct
import sys
import zlib

SAMPLES = [
    ("KP-LPR-V3", "3.2.2.0", "KP-LPR-V3_3.2.2.0.bin", False),
    ("KP-LPR-V1", "1.8.5.0", "KP-LPR-V1_1.8.5.0.bin", False),
    ("KP-FACE-F2", "2.1.1.0", "KP-FACE-F2_2.1.1.0.bin", False),
    ("KP-LPR-V3", "3.2.2.1", "damaged_KP-LPR-V3_3.2.2.1.bin", True),
    ("KP-IPC-X9", "9.0.0.1", "foreign_KP-IPC-X9_9.0.0.1.bin", False),
]


def package(family, version, damaged=False, image_size=65536):
    rng = random.Random(family + version)
    image = bytearray(rng.getrandbits(8) for _ in range(image_size))
    head = struct.pack("<4sHH24s16sII", b"KPFW", 1, 64, family.encode("ascii"),
                       version.encode("ascii"), len(image), zlib.crc32(bytes(image)))
    head += struct.pack("<II", zlib.crc32(head), 0)
    if damaged:
        # Flash blocks in the middle of the image went bad after the header was written.
        for i in range(image_size // 2, image_size // 2 + 64):
            image[i] ^= 0xA5
    return head + bytes(image)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--family")
    parser.add_argument("--version")
    parser.add_argument("--damaged", action="store_true")
    args = parser.parse_args()
    if args.family or args.version:
        if not (args.family and args.version):
            parser.error("--family and --version go together")
        with open(args.out, "wb") as f:
            f.write(package(args.family, args.version, args.damaged))
        return 0
    os.makedirs(args.out, exist_ok=True)
    for family, version, name, damaged in SAMPLES:
        with open(os.path.join(args.out, name), "wb") as f:
            f.write(package(family, version, damaged))
        print(os.path.join(args.out, name))
    return 0


if __name__ == "__main__":
    sys.exit(main())
