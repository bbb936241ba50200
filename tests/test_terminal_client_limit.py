"""How many clients the terminal serves at once: it raises its own open-file
limit to the hard limit, serves every client that fits under it, and closes
a client beyond the most it serves at once, with a line in its log; and what
many clients cost it in memory between their calls."""

from __future__ import annotations

import os
import subprocess
import sys
import time
from typing import List

import pytest

if sys.platform == "win32":
    pytest.skip("limits the terminal's descriptors with rlimit", allow_module_level=True)
import resource  # noqa: E402

from process_memory import process_memory_bytes
from terminal_tools import RawClient, TerminalHome, wait_for_socket
from wire import i32, text

CMD_SYMBOLS_TOTAL = 173
CMD_RATES_FROM_POS = 108
OWN_DESCRIPTORS = 32  # what the terminal keeps for its own files


def start_with_file_limit(home: TerminalHome, soft: int, hard: int) -> None:
    def limit() -> None:
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))

    process = subprocess.Popen([home.exe], env=home.env(), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               start_new_session=True, preexec_fn=limit)
    home.processes.append(process)
    wait_for_socket(home.socket_path, process)


@pytest.mark.parametrize("soft, hard", [(120, 120), (64, 150)], ids=["at-limit", "raised"])
def test_clients_beyond_the_limit_are_closed_and_logged(home: TerminalHome, soft: int,
                                                        hard: int) -> None:
    start_with_file_limit(home, soft, hard)
    most = hard - OWN_DESCRIPTORS
    (log,) = home.data_home.rglob("terminal.log")
    assert f"for up to {most} clients" in log.read_text()
    clients: List[RawClient] = []
    try:
        # wait_for_socket's probe may still be counted; let it go first.
        with RawClient(home.socket_path) as first:
            assert first.call(CMD_SYMBOLS_TOTAL)[0] == 0
        while len(clients) < most:
            clients.append(RawClient(home.socket_path))
            status, _ = clients[-1].call(CMD_SYMBOLS_TOTAL)
            assert status == 0, f"client {len(clients)}"
        with RawClient(home.socket_path) as late:
            with pytest.raises(OSError):  # closed at once: the request or the reply fails
                late.request(CMD_SYMBOLS_TOTAL)
                late.reply()
        deadline = time.monotonic() + 5
        while "1 client(s) turned away" not in log.read_text():
            assert time.monotonic() < deadline, "no log line for the client turned away"
            time.sleep(0.01)
        # Every client served before is served still, and a place set free is taken.
        for client in clients:
            assert client.call(CMD_SYMBOLS_TOTAL)[0] == 0
        clients.pop().close()
        with RawClient(home.socket_path) as again:
            assert again.call(CMD_SYMBOLS_TOTAL)[0] == 0
    finally:
        for client in clients:
            client.close()


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
@pytest.mark.skipif(os.environ.get("QUILLMARK_SANITIZED") == "1",
                    reason="the sanitizer's quarantine holds freed memory on purpose")
def test_reply_buffers_kept_between_calls_are_bounded_for_all_clients(
    home: TerminalHome,
) -> None:
    # 700 clients that each read 10,000 M1 bars (600 KB) once: kept for every
    # connection, their reply buffers alone would hold 420 MB.
    start_with_file_limit(home, 1024, 1024)
    clients: List[RawClient] = []
    try:
        for _ in range(700):
            clients.append(RawClient(home.socket_path))
            status, body = clients[-1].call(CMD_RATES_FROM_POS,
                                            text("EURUSD") + i32(1) + i32(0) + i32(10_000))
            assert status >= 0 and len(body) == 4 + 10_000 * 60
        resident = process_memory_bytes(home.running_pids()[0])
        assert resident < 330 << 20, f"{resident >> 20} MiB"
    finally:
        for client in clients:
            client.close()
