"""A relay between the module and a terminal that can record the exchange and
cut it at a chosen byte.

It listens where a terminal at `path` would (a stand-in executable file, as
the fake peer uses) and relays every connection to the socket of a real
terminal. The module keeps the interpreter lock through each exchange, so the
relay runs in a process of its own and is scripted over its standard input,
one JSON command per line, each answered with one line:

  {"op": "cut", "after": N}
      the next connection is dropped once N reply bytes have been relayed to
      the module;
  {"op": "frames"}
      the requests and replies relayed since the last "frames", in order, as
      [["request"|"reply", hex], ...] (recorded before they are passed on);
  {"op": "stop"}
"""

from __future__ import annotations

import json
import os
import socket
import struct
import sys
import threading
from pathlib import Path
from typing import List, Optional, Tuple

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
import wire  # noqa: E402
from fake_peer import PeerProcess, listen_at, write_unrunnable  # noqa: E402


class Proxy(PeerProcess):
    """Test-side handle of a relay process in front of `upstream`."""

    def __init__(self, folder: Path, upstream: str) -> None:
        # The module must reach the relay, never start the file behind it.
        self.path = str(write_unrunnable(folder))
        self.socket_path = wire.socket_path(self.path)
        super().__init__([sys.executable, __file__, self.socket_path, upstream], "relay")

    def cut(self, after: int) -> None:
        self._command("cut", after=after)

    def frames(self) -> List[Tuple[str, bytes]]:
        return [(kind, bytes.fromhex(data)) for kind, data in json.loads(self._command("frames"))]


# ---- The relay process ----


class _Recorder:
    """Splits one direction of the stream into frames by their length prefix."""

    def __init__(self, kind: str, log: List[Tuple[str, str]], lock: threading.Lock) -> None:
        self.kind = kind
        self.log = log
        self.lock = lock
        self.pending = b""

    def feed(self, data: bytes) -> None:
        self.pending += data
        while len(self.pending) >= 4:
            (length,) = struct.unpack("<I", self.pending[:4])
            if len(self.pending) < 4 + length:
                return
            frame, self.pending = self.pending[: 4 + length], self.pending[4 + length :]
            with self.lock:
                self.log.append((self.kind, frame.hex()))


class _Relay:
    def __init__(self, upstream: str) -> None:
        self.upstream = upstream
        self.lock = threading.Lock()
        self.log: List[Tuple[str, str]] = []
        self.cut_after: Optional[int] = None

    def serve(self, listener: socket.socket) -> None:
        while True:
            try:
                client, _ = listener.accept()
            except OSError:
                return
            with self.lock:
                budget = self.cut_after
                self.cut_after = None
            try:
                server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                server.connect(self.upstream)
            except OSError:
                client.close()
                continue
            requests = _Recorder("request", self.log, self.lock)
            replies = _Recorder("reply", self.log, self.lock)
            threading.Thread(
                target=self._pump, args=(client, server, requests, None), daemon=True
            ).start()
            threading.Thread(
                target=self._pump, args=(server, client, replies, budget), daemon=True
            ).start()

    @staticmethod
    def _pump(
        source: socket.socket,
        target: socket.socket,
        recorder: _Recorder,
        budget: Optional[int],
    ) -> None:
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                if budget is not None and len(data) >= budget:
                    recorder.feed(data[:budget])
                    target.sendall(data[:budget])
                    break
                recorder.feed(data)
                target.sendall(data)
                if budget is not None:
                    budget -= len(data)
        except OSError:
            pass
        # A shutdown, not just a close: the other pump may be blocked reading
        # the same socket, and a close alone would leave the link open.
        for end in (source, target):
            try:
                end.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            end.close()


def relay_main(path: str, upstream: str) -> None:
    listener = listen_at(path)
    relay = _Relay(upstream)
    threading.Thread(target=relay.serve, args=(listener,), daemon=True).start()
    print("ready", flush=True)
    for line in sys.stdin:
        command = json.loads(line)
        op = command["op"]
        answer = "ok"
        if op == "cut":
            with relay.lock:
                relay.cut_after = int(command["after"])
        elif op == "frames":
            with relay.lock:
                answer = json.dumps(relay.log)
                relay.log.clear()
        elif op == "stop":
            break
        print(answer, flush=True)
    listener.close()
    if os.path.exists(path):
        os.unlink(path)
    print("ok", flush=True)


if __name__ == "__main__":
    relay_main(sys.argv[1], sys.argv[2])
