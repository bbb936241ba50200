"""A terminal peer that answers every request at once from canned replies,
fast enough for loops of a hundred thousand calls.

Each command has a list of replies, used in turn; a command without one is
answered with status -7. Run as a program with the socket path and a JSON
file {command: [reply as hex, ...]}; it prints "ready" once it listens and
serves connection after connection until it is terminated.
"""

from __future__ import annotations

import json
import os
import signal
import socket
import struct
import subprocess
import sys
from pathlib import Path
from typing import Dict, List, Optional

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
import wire  # noqa: E402
from fake_peer import listen_at, write_unrunnable  # noqa: E402


class CannedPeer:
    """Test-side handle: the peer process listening where `path` would."""

    def __init__(self, folder: Path, replies: Dict[int, List[bytes]]) -> None:
        self.path = str(write_unrunnable(folder))
        table = folder / "replies.json"
        table.write_text(json.dumps({str(k): [r.hex() for r in v] for k, v in replies.items()}))
        self._process = subprocess.Popen(
            [sys.executable, __file__, wire.socket_path(self.path), str(table)],
            stdout=subprocess.PIPE,
            text=True,
        )
        assert self._process.stdout is not None
        if self._process.stdout.readline().strip() != "ready":
            raise RuntimeError("canned peer did not start")

    def stop(self) -> None:
        self._process.terminate()
        try:
            self._process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self._process.kill()
            self._process.wait()
        if self._process.stdout is not None:
            self._process.stdout.close()


def _receive_into(connection: socket.socket, view: memoryview) -> bool:
    while len(view) > 0:
        got = connection.recv_into(view)
        if got == 0:
            return False
        view = view[got:]
    return True


def _serve(connection: socket.socket, replies: Dict[int, List[bytes]]) -> None:
    turns: Dict[int, int] = {}
    header = bytearray(4)
    body = bytearray(65536)
    while True:
        if not _receive_into(connection, memoryview(header)):
            return
        (length,) = struct.unpack("<I", header)
        if length < 4 or length > len(body):
            return
        if not _receive_into(connection, memoryview(body)[:length]):
            return
        (command,) = struct.unpack_from("<I", body)
        answers: Optional[List[bytes]] = replies.get(command)
        if answers is None:
            connection.sendall(struct.pack("<IIi", 8, command, -7))
            continue
        turn = turns.get(command, 0)
        turns[command] = turn + 1
        connection.sendall(answers[turn % len(answers)])


def peer_main(path: str, table: str) -> None:
    loaded = json.loads(Path(table).read_text())
    replies = {int(k): [bytes.fromhex(r) for r in v] for k, v in loaded.items()}
    # Terminated by the test: leave through the finally that removes the socket.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    listener = listen_at(path)
    print("ready", flush=True)
    try:
        while True:
            connection, _ = listener.accept()
            with connection:
                try:
                    _serve(connection, replies)
                except OSError:
                    pass
    finally:
        listener.close()
        if sys.platform != "win32":
            os.unlink(path)


if __name__ == "__main__":
    peer_main(sys.argv[1], sys.argv[2])
