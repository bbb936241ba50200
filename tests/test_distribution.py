"""The installed package is what its RECORD says, file for file: what a
wheel's installer checks, and what a hand-assembled wheel must get right."""

from __future__ import annotations

import base64
import hashlib
import sys
from importlib import metadata
from pathlib import Path

import pytest

import quillmark


def installed() -> metadata.Distribution:
    try:
        return metadata.distribution("quillmark")
    except metadata.PackageNotFoundError:
        pytest.skip("quillmark is not installed as a distribution")


def test_every_recorded_file_has_its_hash_and_size() -> None:
    files = installed().files or []
    checked = 0
    for entry in files:
        if entry.hash is None:
            continue  # RECORD itself, and files compiled at install time
        data = Path(entry.locate()).read_bytes()
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        assert (entry.hash.mode, entry.hash.value, entry.size) == ("sha256", digest, len(data)), entry
        checked += 1
    assert checked > 0


def test_record_holds_the_extension_and_the_terminal() -> None:
    names = {str(entry).replace("\\", "/") for entry in installed().files or []}
    terminal = Path(quillmark.terminal_path()).name
    assert f"quillmark/bin/{terminal}" in names
    assert any(name.startswith("quillmark/_core.") for name in names)
    assert "quillmark/__init__.py" in names


def test_metadata_states_the_dependencies() -> None:
    meta = installed().metadata
    assert meta["Name"] == "quillmark"
    assert meta["Requires-Python"] == ">=3.9"
    requires = installed().requires or []
    assert "numpy>=1.26" in requires



def test_wheel_is_tagged_for_this_interpreter() -> None:
    wheel = installed().read_text("WHEEL") or ""
    tag = f"cp{sys.version_info.major}{sys.version_info.minor}"
    assert "Root-Is-Purelib: false" in wheel
    assert any(line.startswith(f"Tag: {tag}-{tag}-") for line in wheel.splitlines()), wheel
