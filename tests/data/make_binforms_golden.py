#!/usr/bin/env python3
# tests/data/make_binforms_golden.py: writes the golden byte files of the TagVar and TMessage
# binary-form tests.
# Licensed under the Apache License, Version 2.0.
#
# The bytes are built here with Python's struct module, independently of the library, from
# the values that tests/tagvar_binary_test.cpp (GoldenValues) and tests/message_binary_test.cpp
# (GoldenBytesInBothOrders) write. '<' is the host order of the x86 builds, '>' network order.
import pathlib
import struct

NIL, END_OF_ARGS, INTEGER, UNSIGNED, REAL, STRING, WIDE, DATE, TIME, DATETIME, VOIDPTR = range(11)


def integer(order, value):
    return struct.pack(order + "i", value)


def text(order, data):
    """The string form: length, a zero word, the bytes."""
    return struct.pack(order + "II", len(data), 0) + data


def tagged(order, tag, payload=b""):
    return integer(order, tag) + payload


def voidptr(order, low32):
    # The pointer's low 32 bits as they lie in memory (little-endian on x86) in either order.
    return tagged(order, VOIDPTR, struct.pack("<I", low32))


def tagvar_sequence(order):
    out = b""
    out += tagged(order, NIL)
    out += tagged(order, END_OF_ARGS)
    out += tagged(order, INTEGER, integer(order, -2))
    out += tagged(order, UNSIGNED, struct.pack(order + "I", 0xDEADBEEF))
    out += tagged(order, REAL, struct.pack(order + "d", -0.1))
    out += tagged(order, STRING, integer(order, 1) + text(order, b"hello"))
    # A wide string's bytes are its UTF-16 units as they lie in memory.
    out += tagged(order, WIDE, integer(order, 1) + text(order, "hi".encode("utf-16-le")))
    out += tagged(order, STRING, integer(order, 0))  # a null payload
    out += tagged(order, STRING, integer(order, 1) + text(order, b""))  # no buffer
    out += tagged(order, DATE)
    out += tagged(order, TIME)
    out += tagged(order, DATETIME, integer(order, 1) + integer(order, 946728000))  # no zone
    out += tagged(order, DATETIME, integer(order, 0))  # a null payload
    out += voidptr(order, 0x12345678)
    return out


def message_sequence(order):
    out = b""
    # A stored message with one argument of every type; its debugging location is not sent.
    out += text(order, b"App") + integer(order, 3) + integer(order, 7)
    out += text(order, b"Disk %s is %d%% full") + integer(order, 11)
    out += tagged(order, STRING, integer(order, 1) + text(order, b"C"))
    out += tagged(order, INTEGER, integer(order, 93))
    out += tagged(order, UNSIGNED, struct.pack(order + "I", 4000000000))
    out += tagged(order, REAL, struct.pack(order + "d", 0.5))
    out += tagged(order, WIDE, integer(order, 1) + text(order, "ok".encode("utf-16-le")))
    out += tagged(order, DATETIME, integer(order, 1) + integer(order, 946728000))
    out += voidptr(order, 0x12345678)
    out += tagged(order, NIL)
    out += tagged(order, END_OF_ARGS)
    out += tagged(order, DATE)
    out += tagged(order, TIME)
    out += text(order, b"") + integer(order, 0)
    # A literal message without arguments: no store name, ids 0.
    out += text(order, b"") + integer(order, 0) + integer(order, 0)
    out += text(order, b"plain") + integer(order, 0)
    out += text(order, b"") + integer(order, 0)
    return out


here = pathlib.Path(__file__).parent
(here / "tagvar_host.bin").write_bytes(tagvar_sequence("<"))
(here / "tagvar_network.bin").write_bytes(tagvar_sequence(">"))
(here / "message_host.bin").write_bytes(message_sequence("<"))
(here / "message_network.bin").write_bytes(message_sequence(">"))
