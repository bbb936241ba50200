"""The bundled terminal against requests no module would send: inputs that
once found a fault, every real request cut short or lengthened, and clients
that hold connections open. Each must be refused or answered in a well-formed
reply, and no other client may notice."""

from __future__ import annotations

import struct
import sys
from pathlib import Path
from typing import List

import pytest

from conftest import FUZZ, corpus_requests, split_frames
from terminal_tools import RawClient, TerminalHome, connect_to

# Requests longer than this make the terminal drop their client.
MAX_REQUEST = 64 * 1024


def command_of(frame: bytes) -> int:
    return struct.unpack_from("<I", frame, 4)[0]


def reframed(frame: bytes, payload: bytes) -> bytes:
    return struct.pack("<II", 4 + len(payload), command_of(frame)) + payload


def assert_served(client: RawClient) -> None:
    status, body = client.call(173)
    assert status == 0 and len(body) == 4


@pytest.mark.parametrize(
    "path",
    sorted((FUZZ / "regressions" / "request").iterdir()),
    ids=lambda path: path.name,
)
def test_fuzz_regression_input_is_answered(terminal: TerminalHome, path: Path) -> None:
    with RawClient(terminal.socket_path) as raw, RawClient(terminal.socket_path) as other:
        for frame in split_frames(path.read_bytes()):
            (length,) = struct.unpack_from("<I", frame)
            if length < 4 or length > MAX_REQUEST:
                break
            raw.send_raw(frame)
            command, status, payload = raw.reply()
            assert command == command_of(frame)
            assert status >= 0 or payload == b""
        assert_served(other)


def malformed_variants(frame: bytes) -> List[bytes]:
    """The request cut at every byte of its payload, and one byte longer."""
    payload = frame[8:]
    variants = [reframed(frame, payload[:size]) for size in range(len(payload))]
    variants.append(reframed(frame, payload + b"\x00"))
    return variants


def test_every_real_request_cut_short_or_lengthened_is_refused(terminal: TerminalHome) -> None:
    requests = [frame for frame in corpus_requests() if len(frame) > 8]
    assert len(requests) >= 20, "the captured corpus holds too few requests"
    refused = 0
    with RawClient(terminal.socket_path) as raw, RawClient(terminal.socket_path) as other:
        for frame in requests:
            for variant in malformed_variants(frame):
                raw.send_raw(variant)
                command, status, payload = raw.reply()
                assert command == command_of(frame)
                assert status < 0 and payload == b"", variant.hex()
                refused += 1
            assert_served(other)
        # The connection that sent them still serves.
        assert_served(raw)
    assert refused > 500


def test_largest_request_is_refused_and_longer_drops_only_its_client(
    terminal: TerminalHome,
) -> None:
    with RawClient(terminal.socket_path) as raw, RawClient(terminal.socket_path) as other:
        raw.send_raw(struct.pack("<II", MAX_REQUEST, 170) + b"\x41" * (MAX_REQUEST - 4))
        command, status, payload = raw.reply()
        assert (command, payload) == (170, b"") and status < 0
        raw.send_raw(struct.pack("<II", MAX_REQUEST + 1, 170) + b"\x41" * 1024)
        with pytest.raises((ConnectionError, OSError)):
            raw.reply()
        assert_served(other)


# The Windows terminal serves at most 62 clients at once (one wait covers 64
# handles): there the idle ones fill all but two of its places.
IDLE_CLIENTS = 60 if sys.platform == "win32" else 200


def test_many_idle_and_dribbling_clients_do_not_hold_up_others(terminal: TerminalHome) -> None:
    idle = []
    try:
        for _ in range(IDLE_CLIENTS):
            sock = connect_to(terminal.socket_path)
            sock.sendall(b"\x10\x00")  # half a length, never finished
            idle.append(sock)
        with RawClient(terminal.socket_path) as dribbler, RawClient(
            terminal.socket_path
        ) as other:
            request = struct.pack("<II", 4, 173)
            for byte in request:
                dribbler.send_raw(bytes([byte]))
                assert_served(other)  # within the client's socket timeout
            command, status, _ = dribbler.reply()
            assert (command, status) == (173, 0)
    finally:
        for sock in idle:
            sock.close()
    assert terminal.running_pids()
