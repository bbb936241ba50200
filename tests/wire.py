"""Byte helpers for the terminal protocol: little-endian values, texts and
request frames, and the socket a terminal's pipe lives on."""

from __future__ import annotations

import hashlib
import os
import struct
import sys


def u8(value: int) -> bytes:
    return struct.pack("<B", value)


def u32(value: int) -> bytes:
    return struct.pack("<I", value)


def i32(value: int) -> bytes:
    return struct.pack("<i", value)


def u64(value: int) -> bytes:
    return struct.pack("<Q", value)


def i64(value: int) -> bytes:
    return struct.pack("<q", value)


def f64(value: float) -> bytes:
    return struct.pack("<d", value)


def text(s: str) -> bytes:
    """A counted string: the number of UTF-16 units, then the units."""
    units = s.encode("utf-16-le")
    return u32(len(units) // 2) + units


def utf16_field(s: str, units: int) -> bytes:
    """A fixed text field of `units` UTF-16 units, NUL-padded."""
    data = s.encode("utf-16-le")
    if len(data) > units * 2:
        raise ValueError(f"{s!r} does not fit {units} units")
    return data + b"\0" * (units * 2 - len(data))


def request(command: int, payload: bytes = b"") -> bytes:
    """The bytes of one request as the module writes it."""
    return u32(4 + len(payload)) + u32(command) + payload


def reply(command: int, status: int, payload: bytes = b"") -> bytes:
    """The bytes of one reply as a terminal writes it."""
    return u32(8 + len(payload)) + u32(command) + i32(status) + payload


def canonical_path(executable: str) -> str:
    """The path as the link names it before hashing: on Windows the final
    path of an existing file (with its "\\\\?\\" prefix) or else the path as
    given; elsewhere the real path."""
    if sys.platform != "win32":
        return os.path.realpath(executable)
    if not os.path.exists(executable):
        return executable
    return "\\\\?\\" + os.path.realpath(executable)


def path_digest(executable: str) -> str:
    """Upper-case hex SHA-256 of the lower-cased canonical path in UTF-16LE."""
    canonical = canonical_path(executable).lower()
    return hashlib.sha256(canonical.encode("utf-16-le")).hexdigest().upper()


def socket_folder() -> str:
    return f"/tmp/zrv-{os.getuid()}"


def socket_path(executable: str) -> str:
    """Where the terminal at `executable` listens: a named pipe on Windows."""
    if sys.platform == "win32":
        return f"\\\\.\\pipe\\ZRV.Terminal.{path_digest(executable)}"
    return f"{socket_folder()}/ZRV.Terminal.{path_digest(executable)}"
