"""The call procedure seen from Python: request bytes, the status each kind of
bad reply yields, and what a broken pipe does to the link."""

from __future__ import annotations

import subprocess
import sys

import pytest

import quillmark
from fake_peer import FakePeer
from wire import i32, request, text, u32

VERSION = 1
SYMBOLS_TOTAL = 173


def version_payload(text_value: str = "release") -> bytes:
    return u32(500) + u32(4321) + text(text_value)


def test_version_request_is_twelve_bytes(fake_terminal: FakePeer) -> None:
    fake_terminal.connect()
    fake_terminal.reply(VERSION, 1, version_payload("01 Dec 2026"))

    assert quillmark.version() == (500, 4321, "01 Dec 2026")
    assert quillmark.last_error() == (1, "Success")
    assert fake_terminal.requests() == [bytes.fromhex("08000000" "01000000" "00000000")]


@pytest.mark.parametrize(
    "raw, code, message",
    [
        # A failing terminal may end its reply right after the status.
        (u32(8) + u32(VERSION) + i32(-4), -4, "Terminal: Not found"),
        (u32(8) + u32(VERSION) + i32(-9), -9, "Terminal: Call failed"),
        # A non-negative status with a short payload.
        (u32(12) + u32(VERSION) + i32(1) + u32(7), -10002, "IPC recv failed"),
        # Every field read, but one byte is left over.
        (
            u32(9 + len(version_payload())) + u32(VERSION) + i32(1) + version_payload() + b"\0",
            -10002,
            "IPC recv failed",
        ),
        # A complete reply for another command, whatever its status says.
        (
            u32(8 + len(version_payload())) + u32(2) + i32(-4) + version_payload(),
            -10000,
            "IPC call failed",
        ),
        # A counted string longer than the reply.
        (u32(20) + u32(VERSION) + i32(1) + u32(1) + u32(2) + u32(100), -10002, "IPC recv failed"),
    ],
    ids=["negative-status-only", "unknown-code", "short", "extra-byte", "wrong-echo", "overlong-text"],
)
def test_bad_replies(fake_terminal: FakePeer, raw: bytes, code: int, message: str) -> None:
    fake_terminal.connect()
    fake_terminal.reply_raw(raw)

    assert quillmark.version() == (0, 0, "")
    assert quillmark.last_error() == (code, message)


def test_status_zero_is_success_without_values(fake_terminal: FakePeer) -> None:
    fake_terminal.connect()
    fake_terminal.reply(VERSION, 0, version_payload())

    assert quillmark.version() == (0, 0, "")
    assert quillmark.last_error() == (1, "Success")


@pytest.mark.parametrize(
    "value, expected",
    [
        ("a" * 127, "a" * 127),
        ("a" * 125 + "é", "a" * 125 + "é"),
        ("", ""),
        ("a" * 128, ""),
        ("a" * 126 + "é", ""),
        ("a" * 124 + "\U0001F600", ""),
        ("v" * 300, ""),
    ],
    ids=[
        "127-bytes",
        "127-bytes-ending-in-two",
        "empty",
        "128-bytes",
        "128-bytes-ending-in-two",
        "128-bytes-ending-in-four",
        "300-units",
    ],
)
def test_version_text_that_does_not_fit_is_dropped(
    fake_terminal: FakePeer, value: str, expected: str
) -> None:
    # 127 bytes of UTF-8 is the most the text may take; a longer one is left
    # out, never cut at a character boundary.
    fake_terminal.connect()
    fake_terminal.reply(VERSION, 1, version_payload(value))

    assert quillmark.version() == (500, 4321, expected)
    assert quillmark.last_error() == (1, "Success")


@pytest.mark.parametrize("how", ["close-on-request", "close-mid-reply"])
def test_broken_pipe_closes_the_link(fake_terminal: FakePeer, how: str) -> None:
    fake_terminal.connect()
    if how == "close-on-request":
        fake_terminal.close_on_next()
    else:
        fake_terminal.reply_then_close(u32(20) + u32(VERSION) + i32(1))

    assert quillmark.version() == (0, 0, "")
    assert quillmark.last_error() == (-10002, "IPC recv failed")
    # The link is gone: the next call fails before sending anything.
    assert quillmark.version() == (0, 0, "")
    assert quillmark.last_error() == (-10004, "No IPC connection")
    assert fake_terminal.requests() == [request(VERSION, u32(0))]


def test_write_to_a_closed_peer_fails_to_send(fake_terminal: FakePeer) -> None:
    fake_terminal.connect()
    fake_terminal.reply_then_close(u32(8 + len(version_payload())) + u32(VERSION) + i32(1) + version_payload())
    assert quillmark.version() == (500, 4321, "release")
    fake_terminal.wait_closed()

    assert quillmark.version() == (0, 0, "")
    assert quillmark.last_error() == (-10001, "IPC send failed")
    assert quillmark.version() == (0, 0, "")
    assert quillmark.last_error() == (-10004, "No IPC connection")


@pytest.mark.parametrize("build, sent", [(2363, False), (2364, True)])
def test_symbol_commands_need_build_2364(fake_terminal: FakePeer, build: int, sent: bool) -> None:
    fake_terminal.connect(build=build)
    fake_terminal.reply(SYMBOLS_TOTAL, 1, u32(12))

    result = quillmark.symbols_total()

    if sent:
        assert result == 12
        assert fake_terminal.requests() == [request(SYMBOLS_TOTAL)]
    else:
        assert quillmark.last_error()[0] == -5
        assert fake_terminal.requests() == []


def test_build_survives_shutdown(fake_terminal: FakePeer) -> None:
    fake_terminal.connect(build=2364)
    quillmark.shutdown()

    quillmark.symbols_total()
    assert quillmark.last_error() == (-10004, "No IPC connection")


def test_build_gate_comes_before_the_link_test() -> None:
    # A fresh process: no handshake has ever stored a build.
    code = (
        "import quillmark\n"
        "quillmark.symbols_total()\n"
        "print(quillmark.last_error()[0])\n"
        "quillmark.version()\n"
        "print(quillmark.last_error()[0])\n"
    )
    result = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, timeout=30, check=True
    )
    assert result.stdout.split() == ["-5", "-10004"]
