"""Captures the seed corpora of both fuzz targets from a real exchange.

Starts the bundled terminal (installed with the package) in a private folder,
puts the recording relay of tests/reliability in front of it, and makes
every call of reply_calls.py through the module. Each call's replies become
one reply_fuzz input and its requests one request_fuzz input; one more input
of each holds the whole session.

    python fuzz/capture_corpus.py            # rewrites fuzz/corpus/
"""

from __future__ import annotations

import os
import shutil
import struct
import sys
import tempfile
from pathlib import Path
from typing import List, Tuple

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(ROOT / "tests"))
sys.path.insert(0, str(ROOT / "tests" / "reliability"))

import quillmark  # noqa: E402
from proxy import Proxy  # noqa: E402
from terminal_tools import make_home  # noqa: E402

# reply_fuzz's steps carry a u16 length, and libFuzzer's inputs stay below this.
MAX_INPUT = 65535

Frames = List[Tuple[str, bytes]]


def load_calls() -> list:
    sys.modules["_core"] = quillmark._core
    scope: dict = {"__name__": "reply_calls"}
    exec(compile((HERE / "reply_calls.py").read_text(), "reply_calls.py", "exec"), scope)
    return scope["CALLS"]


def joined(frames: Frames, kind: str) -> bytes:
    return b"".join(data for what, data in frames if what == kind)


def reply_step(call: int, replies: bytes) -> bytes:
    return struct.pack("<BH", call, len(replies)) + replies


def write(folder: Path, name: str, data: bytes) -> None:
    if 0 < len(data) <= MAX_INPUT:
        (folder / name).write_bytes(data)


def capture(work: Path) -> Tuple[List[Tuple[int, Frames]], Frames]:
    home = make_home(work)
    # Few symbols keep symbols_get within one input; a few positions give
    # the trade lists something to carry.
    home.start("--symbols", "3", "--positions", "3")
    os.environ["XDG_DATA_HOME"] = str(home.data_home)
    proxy = Proxy(work / "relay", home.socket_path)
    try:
        if not quillmark.initialize(path=proxy.path):
            raise RuntimeError(f"initialize failed: {quillmark.last_error()}")
        opening = proxy.frames()
        captured = []
        for index, (function, args, kwargs) in enumerate(load_calls()):
            function(*args, **kwargs)
            captured.append((index, proxy.frames()))
        quillmark.shutdown()
        return captured, opening
    finally:
        proxy.stop()
        home.stop_all()


def main() -> None:
    with tempfile.TemporaryDirectory() as temporary:
        captured, opening = capture(Path(temporary))
    reply_folder = HERE / "corpus" / "reply"
    request_folder = HERE / "corpus" / "request"
    for folder in (reply_folder, request_folder):
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)

    session_replies = b"\0"
    session_requests = joined(opening, "request")
    for index, frames in captured:
        replies = joined(frames, "reply")
        requests = joined(frames, "request")
        if len(replies) > MAX_INPUT - 4:
            print(f"call {index}: its {len(replies)} reply bytes exceed one input; left out")
            continue
        write(reply_folder, f"call-{index:02d}", b"\0" + reply_step(index, replies))
        write(request_folder, f"call-{index:02d}", joined(opening, "request") + requests)
        if len(session_replies) + 3 + len(replies) <= MAX_INPUT:
            session_replies += reply_step(index, replies)
        if len(session_requests) + len(requests) <= MAX_INPUT:
            session_requests += requests
    write(reply_folder, "session", session_replies)
    write(request_folder, "session", session_requests)
    print(f"{len(list(reply_folder.iterdir()))} reply and "
          f"{len(list(request_folder.iterdir()))} request inputs captured")


if __name__ == "__main__":
    main()
