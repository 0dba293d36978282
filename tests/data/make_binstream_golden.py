#!/usr/bin/env python3
# tests/data/make_binstream_golden.py: writes the golden byte files of the binary-stream test.
# Licensed under the Apache License, Version 2.0.
#
# The bytes are built here with Python's struct module, independently of the library, from
# the same value sequence that tests/binstream_test.cpp writes (kGoldenValues there).
import pathlib
import struct


def sequence(order):
    """The value sequence in `order` ('<' host order of the x86 builds, '>' network order)."""
    out = b""
    out += struct.pack(order + "h", -2)
    out += struct.pack(order + "H", 65535)
    out += struct.pack(order + "i", 258)
    out += struct.pack(order + "I", 0xDEADBEEF)
    out += struct.pack(order + "i", -123456789)  # a long travels as 4 bytes
    out += struct.pack(order + "I", 4000000000)  # an unsigned long too
    out += struct.pack(order + "f", 1.5)
    out += struct.pack(order + "d", 1.0)
    out += struct.pack(order + "d", -0.1)
    # A long double is an IEEE double: 8 bytes in host order, 2 zero fillers + 8 in network.
    out += (b"" if order == "<" else b"\0\0") + struct.pack(order + "d", -2.5)
    # TString "hello": length, a zero, the bytes; then the empty string.
    out += struct.pack(order + "II", 5, 0) + b"hello"
    out += struct.pack(order + "II", 0, 0)
    # Network wrappers are network order whatever the stream's order.
    out += struct.pack(">i", 258)
    out += b"\0\0" + struct.pack(">d", 1.0)
    out += struct.pack(">h", -2)
    return out


here = pathlib.Path(__file__).parent
(here / "binstream_host.bin").write_bytes(sequence("<"))
(here / "binstream_network.bin").write_bytes(sequence(">"))
