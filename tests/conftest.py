"""Shared fixtures: a scriptable terminal peer on a real socket."""

from __future__ import annotations

from pathlib import Path
from typing import Iterator

import pytest

import quillmark
from fake_peer import FakePeer


@pytest.fixture
def fake_terminal(tmp_path: Path) -> Iterator[FakePeer]:
    """A listening peer whose `path` is a fake terminal executable."""
    peer = FakePeer(tmp_path)
    try:
        yield peer
    finally:
        quillmark.shutdown()
        peer.stop()
