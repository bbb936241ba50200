"""Finding an installed terminal through the per-user data folders, when
initialize is given no path."""

from __future__ import annotations

import json
import os
import shutil
import subprocess
import sys
from pathlib import Path
from typing import Iterator, Optional

import pytest

import quillmark
from fake_peer import TERMINAL_NAME, FakePeer, write_stand_in
from terminal_tools import DATA_HOME, use_data_home
from wire import u32

NOT_FOUND = (-10003, "IPC initialize failed, Quillmark x64 not found")


@pytest.fixture
def data_home(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> Iterator[Path]:
    """The terminals' data folder, under a private XDG_DATA_HOME."""
    use_data_home(monkeypatch, str(tmp_path / "data"))
    base = tmp_path / "data" / "Brevonix" / "Terminal"
    base.mkdir(parents=True)
    yield base
    quillmark.shutdown()


def origin_of(install: Path) -> bytes:
    return b"\xff\xfe" + str(install).encode("utf-16-le")


def data_folder(
    base: Path,
    name: str,
    install: Path,
    kind: str = "vorn",
    accounts: Optional[int] = None,
    settings: Optional[int] = None,
    origin: Optional[bytes] = None,
) -> Path:
    """One terminal's data folder; times are seconds since 1970."""
    folder = base / name
    folder.mkdir()
    if kind == "portable":
        marker = folder / "portable.txt"
        marker.write_text("")
        os.utime(marker, (accounts or 0, accounts or 0))
    elif kind == "vorn":
        (folder / "VORN").mkdir()
    for file_name, when in (("accounts.dat", accounts), ("terminal.ini", settings)):
        if when is not None and kind != "portable":
            (folder / "config").mkdir(exist_ok=True)
            (folder / "config" / file_name).write_text("")
            os.utime(folder / "config" / file_name, (when, when))
    if origin != b"":
        (folder / "origin.txt").write_bytes(origin if origin is not None else origin_of(install))
    return folder


def unusable_install(root: Path, name: str) -> Path:
    """An installation whose terminal cannot start: choosing it fails."""
    install = root / name
    install.mkdir(parents=True)
    (install / TERMINAL_NAME).write_text("")
    return install


def listening_install(root: Path, name: str) -> FakePeer:
    peer = FakePeer(root / name)
    peer.reply(4, 1, u32(4000))
    peer.reply(109, 1, u32(2))
    return peer


def connects_to(peer: FakePeer) -> bool:
    try:
        ok = quillmark.initialize()
        return ok is True and len(peer.requests()) == 2
    finally:
        quillmark.shutdown()
        peer.stop()


@pytest.mark.parametrize("accounts, settings", [(3000, 500), (500, 3000)])
def test_most_recently_used_folder_wins(
    data_home: Path, tmp_path: Path, accounts: int, settings: int
) -> None:
    peer = listening_install(tmp_path, "b")
    data_folder(data_home, "A", unusable_install(tmp_path, "a"), accounts=1000, settings=2000)
    data_folder(data_home, "B", Path(peer.path).parent, accounts=accounts, settings=settings)
    data_folder(data_home, "C", unusable_install(tmp_path, "c"), kind="portable", accounts=2500)

    assert connects_to(peer), quillmark.last_error()


@pytest.mark.parametrize(
    "broken",
    [
        "no-marker",
        "no-origin",
        "origin-without-bom",
        "origin-in-utf8",
        "origin-too-short",
        "origin-names-empty-folder",
        "hidden",
    ],
)
def test_unusable_folders_are_skipped(data_home: Path, tmp_path: Path, broken: str) -> None:
    peer = listening_install(tmp_path, "good")
    data_folder(data_home, "good", Path(peer.path).parent, accounts=1000)
    install = unusable_install(tmp_path, "newer")
    origins = {
        "no-origin": b"",
        "origin-without-bom": str(install).encode("utf-16-le"),
        "origin-in-utf8": str(install).encode(),
        "origin-too-short": b"\xff\xfe/\0a\0",
    }
    if broken == "origin-names-empty-folder":
        (tmp_path / "empty").mkdir()
        origins[broken] = origin_of(tmp_path / "empty")
    data_folder(
        data_home,
        ".newer" if broken == "hidden" else "newer",
        install,
        kind="none" if broken == "no-marker" else "vorn",
        accounts=9000,
        origin=origins.get(broken),
    )
    (data_home / "zz-plain-file").write_text("")

    assert connects_to(peer), quillmark.last_error()


def test_equal_times_go_to_the_first_folder(data_home: Path, tmp_path: Path) -> None:
    peer = listening_install(tmp_path, "first")
    data_folder(data_home, "a-first", Path(peer.path).parent)
    data_folder(data_home, "b-second", unusable_install(tmp_path, "second"))

    assert connects_to(peer), quillmark.last_error()


def test_portable_folder_starts_its_terminal_portable(data_home: Path, tmp_path: Path) -> None:
    program = write_stand_in(tmp_path / "install")
    data_folder(data_home, "portable", Path(program).parent, kind="portable", accounts=100)

    try:
        assert quillmark.initialize() is True, quillmark.last_error()
    finally:
        quillmark.shutdown()
    started = json.loads((tmp_path / "install" / "launched.json").read_text())
    assert started["argv"] == [program, "/portable"]


@pytest.mark.parametrize("setup", ["empty", "missing", "all-rejected"])
def test_nothing_found(data_home: Path, tmp_path: Path, setup: str) -> None:
    if setup == "missing":
        data_home.rmdir()
    elif setup == "all-rejected":
        data_folder(data_home, "x", unusable_install(tmp_path, "x"), kind="none")
        data_folder(data_home, "y", unusable_install(tmp_path, "y"), origin=b"")

    assert quillmark.initialize() is False
    assert quillmark.last_error() == NOT_FOUND


@pytest.mark.skipif(sys.platform == "win32", reason="XDG_DATA_HOME is POSIX")
def test_relative_data_home_falls_back_to_home(
    tmp_path: Path, monkeypatch: pytest.MonkeyPatch
) -> None:
    monkeypatch.setenv("XDG_DATA_HOME", "relative/data")
    monkeypatch.setenv("HOME", str(tmp_path / "home"))
    base = tmp_path / "home" / ".local" / "share" / "Brevonix" / "Terminal"
    base.mkdir(parents=True)
    peer = listening_install(tmp_path, "install")
    data_folder(base, "one", Path(peer.path).parent)

    assert connects_to(peer), quillmark.last_error()


def test_given_path_is_not_replaced_by_discovery(data_home: Path, tmp_path: Path) -> None:
    peer = listening_install(tmp_path, "found")
    data_folder(data_home, "found", Path(peer.path).parent)
    missing = tmp_path / "elsewhere" / "terminal64"
    try:
        assert quillmark.initialize(str(missing)) is False
        assert quillmark.last_error() == (
            -10003,
            f"IPC initialize failed, Process create failed '{missing}'",
        )
    finally:
        peer.stop()


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
def test_terminal_that_started_python_is_preferred(data_home: Path, tmp_path: Path) -> None:
    # The parent terminal is a copy of the shell, so that it is the image of
    # the Python process's parent; its data folder is the older one.
    parent_install = tmp_path / "parent"
    parent_install.mkdir()
    shutil.copy("/bin/sh", parent_install / "terminal64")
    peer = FakePeer(parent_install, keep_existing=True)
    peer.reply(4, 1, u32(4000))
    peer.reply(109, 1, u32(2))
    data_folder(data_home, "newer", unusable_install(tmp_path, "newer"), accounts=9000)
    data_folder(data_home, "parent", parent_install, accounts=1000)

    code = "import quillmark; print(quillmark.initialize(), quillmark.last_error())"
    # "; exit" keeps the shell alive as the parent instead of replacing itself.
    command = f"'{sys.executable}' -c '{code}'; exit $?"
    try:
        result = subprocess.run(
            [str(parent_install / "terminal64"), "-c", command],
            capture_output=True,
            text=True,
            timeout=30,
            env={**os.environ, "XDG_DATA_HOME": str(tmp_path / "data")},
        )
        assert result.stdout.strip() == "True (1, 'Success')", result.stderr
        assert len(peer.requests()) == 2
    finally:
        peer.stop()


def long_folder(root: Path, units: int) -> Path:
    """An existing folder whose path is `units` units long."""
    folder = root
    while len(str(folder)) < units:
        folder = folder / ("d" * min(200, units - len(str(folder)) - 1))
    folder.mkdir(parents=True)
    assert len(str(folder)) == units
    return folder


@pytest.mark.parametrize(
    "variable, units",
    [(DATA_HOME, 300), (DATA_HOME, 250),
     pytest.param("HOME", 300, marks=pytest.mark.skipif(sys.platform == "win32",
                                                        reason="the home folder is POSIX"))],
    ids=["data-home-too-long", "terminals-folder-too-long", "home-too-long"],
)
def test_data_folder_too_long_finds_nothing(
    tmp_path: Path, monkeypatch: pytest.MonkeyPatch, variable: str, units: int
) -> None:
    # A usable terminal sits there, but a cut folder names another place: none
    # is looked for rather than the wrong one.
    folder = long_folder(tmp_path, units)
    monkeypatch.setenv(variable, str(folder))
    if variable == "HOME":
        monkeypatch.delenv("XDG_DATA_HOME", raising=False)
        folder = folder / ".local" / "share"
    base = folder / "Brevonix" / "Terminal"
    base.mkdir(parents=True)
    peer = listening_install(tmp_path, "install")
    data_folder(base, "one", Path(peer.path).parent)
    try:
        assert quillmark.initialize() is False
        assert quillmark.last_error() == NOT_FOUND
    finally:
        quillmark.shutdown()
        peer.stop()
