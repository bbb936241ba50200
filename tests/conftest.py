"""Shared fixtures: a scriptable terminal peer on a real socket, and a private
home for a copy of the bundled terminal."""

from __future__ import annotations

from pathlib import Path
from typing import Iterator

import pytest

import quillmark
from fake_peer import FakePeer
from terminal_tools import TerminalHome, make_home, use_data_home


@pytest.fixture
def fake_terminal(tmp_path: Path) -> Iterator[FakePeer]:
    """A listening peer whose `path` is a fake terminal executable."""
    peer = FakePeer(tmp_path)
    try:
        yield peer
    finally:
        quillmark.shutdown()
        peer.stop()


@pytest.fixture
def home(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> Iterator[TerminalHome]:
    """A copy of the installed terminal with a data home of its own."""
    terminal = make_home(tmp_path)
    # The module starts terminals with the caller's environment and discovers
    # them under the caller's data home.
    use_data_home(monkeypatch, str(terminal.data_home))
    try:
        yield terminal
    finally:
        quillmark.shutdown()
        terminal.stop_all()
