"""The bundled terminal with a thousand clients connected at once: every one
is answered, in every round, and a client that arrives afterwards too."""

from __future__ import annotations

import socket
import sys
import time
from typing import Iterator, List

import pytest

import wire
from terminal_tools import RawClient, TerminalHome

CLIENTS = 1000
CMD_POSITIONS_TOTAL = 120
CMD_SYMBOLS_TOTAL = 173
CMD_SYMBOL_INFO_TICK = 172


@pytest.fixture
def enough_descriptors() -> Iterator[None]:
    """This process and the terminal it starts both hold a descriptor per
    client."""
    if sys.platform == "win32":
        yield  # pipe handles have no such limit
        return
    import resource

    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    wanted = 2 * CLIENTS + 200
    if hard != resource.RLIM_INFINITY and hard < wanted:
        pytest.skip(f"the open-file limit is {hard}, {wanted} are needed")
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, wanted), hard))
    try:
        yield
    finally:
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))


def connect(path: str) -> RawClient:
    """As the module connects: a full listen queue, or on Windows a busy
    pipe, is waited out."""
    if sys.platform == "win32":
        return RawClient(path)
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    sock.settimeout(30)
    deadline = time.monotonic() + 30
    while True:
        try:
            sock.connect(path)
            return RawClient.over(sock)
        except BlockingIOError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.001)


@pytest.mark.parametrize("command, payload, size", [
    (CMD_POSITIONS_TOTAL, b"", 4),
    (CMD_SYMBOLS_TOTAL, b"", 4),
    (CMD_SYMBOL_INFO_TICK, wire.text("EURUSD"), 60),
], ids=["positions_total", "symbols_total", "symbol_info_tick"])
def test_a_thousand_clients_connected_at_once_are_all_answered(
    home: TerminalHome, enough_descriptors: None, command: int, payload: bytes, size: int
) -> None:
    home.start()
    clients: List[RawClient] = []
    try:
        for _ in range(CLIENTS):
            clients.append(connect(home.socket_path))
        # Two rounds: every request of a round is sent before any reply is read.
        for _ in range(2):
            for client in clients:
                client.request(command, payload)
            for number, client in enumerate(clients):
                echoed, status, body = client.reply()
                assert (echoed, status, len(body)) == (command, 0, size), f"client {number}"
        with RawClient(home.socket_path) as late:
            status, body = late.call(CMD_SYMBOLS_TOTAL)
            assert status == 0 and len(body) == 4
    finally:
        for client in clients:
            client.close()
