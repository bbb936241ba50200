"""The pipe's socket folder must be private to the user, and the server at
the other end must be the same user; otherwise the module refuses the pipe
(and starts no terminal beside it).

Each case runs the module as a second user in a forked child, so that the
real folder of the user running the tests is never disturbed."""

from __future__ import annotations

import os
import sys

import pytest

if sys.platform == "win32":
    pytest.skip("socket folders and user ids are POSIX", allow_module_level=True)

import pwd  # noqa: E402
import shutil
from pathlib import Path
from typing import Iterator

import quillmark
from fake_peer import listen_at
from wire import path_digest

pytestmark = pytest.mark.skipif(
    not hasattr(os, "geteuid") or os.geteuid() != 0, reason="acting as a second user needs root"
)


def spare_uid() -> int:
    for uid in range(54321, 54400):
        try:
            pwd.getpwuid(uid)
        except KeyError:
            return uid
    raise RuntimeError("no free user id")


@pytest.fixture
def other_user() -> Iterator[int]:
    uid = spare_uid()
    folder = Path(f"/tmp/zrv-{uid}")
    yield uid
    if folder.is_symlink() or folder.is_file():
        folder.unlink()
    elif folder.exists():
        shutil.rmtree(folder)


def initialize_as(uid: int, program: str) -> str:
    """initialize(program) in a forked child that has become user `uid`;
    returns the message of last_error()."""
    read_end, write_end = os.pipe()
    child = os.fork()
    if child == 0:
        try:
            os.close(read_end)
            os.setuid(uid)
            quillmark.initialize(program)
            os.write(write_end, quillmark.last_error()[1].encode())
        finally:
            os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as pipe:
        message = pipe.read().decode()
    os.waitpid(child, 0)
    return message


def private_folder(path: Path, uid: int, mode: int = 0o700) -> None:
    path.mkdir()
    os.chown(path, uid, -1)
    path.chmod(mode)


@pytest.mark.parametrize("setup", ["symbolic-link", "open-mode", "other-owner"])
def test_unsafe_folder_is_refused(other_user: int, tmp_path: Path, setup: str) -> None:
    folder = Path(f"/tmp/zrv-{other_user}")
    if setup == "symbolic-link":
        target = tmp_path / "target"
        private_folder(target, other_user)
        folder.symlink_to(target)
        reason = f"'{folder}' is a symbolic link"
    elif setup == "open-mode":
        private_folder(folder, other_user, 0o755)
        reason = f"'{folder}' is open to other users (mode 755)"
    else:
        private_folder(folder, 0)
        reason = f"'{folder}' belongs to another user"

    assert initialize_as(other_user, "/nonexistent/terminal64") == (
        f"IPC initialize failed, CreateFile failed [13], {reason}"
    )


def test_server_of_another_user_is_refused(other_user: int) -> None:
    folder = Path(f"/tmp/zrv-{other_user}")
    private_folder(folder, other_user)
    program = "/nonexistent/terminal64"
    socket_path = f"{folder}/ZRV.Terminal.{path_digest(program)}"
    listener = listen_at(socket_path)  # listening as root
    os.chmod(socket_path, 0o777)
    try:
        assert initialize_as(other_user, program) == (
            "IPC initialize failed, CreateFile failed [13], the pipe's server runs as another user"
        )
    finally:
        listener.close()


def test_private_folder_of_the_user_is_accepted(other_user: int) -> None:
    # The same setup with a missing socket: the pipe is merely absent, so the
    # module goes on to start the terminal.
    private_folder(Path(f"/tmp/zrv-{other_user}"), other_user)
    assert initialize_as(other_user, "/nonexistent/terminal64") == (
        "IPC initialize failed, Process create failed '/nonexistent/terminal64'"
    )
