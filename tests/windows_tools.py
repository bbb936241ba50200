"""The Windows side of the test helpers: named pipes that behave like the
sockets the helpers use on POSIX, the package's finding and ending of the
processes that run a terminal executable, and the roaming folder. Only
CPython's own `_winapi` and `ctypes` are used.

Pipe ends are opened for overlapped I/O, so that every wait (for a client,
for bytes) can have a time limit, as a socket's can.
"""

from __future__ import annotations

import ctypes
import sys
from typing import Any, Optional, Tuple

assert sys.platform == "win32"

import _winapi  # noqa: E402

PIPE_BUFFER = 65536
PIPE_TYPE_BYTE = 0
PIPE_READMODE_BYTE = 0
ERROR_BROKEN_PIPE = 109
ERROR_NO_DATA = 232
ERROR_PIPE_BUSY = 231


class PipeTimeout(OSError):
    pass


def _finish(overlapped: Any, timeout: Optional[float]) -> Tuple[int, int]:
    """Waits for an overlapped operation; cancels it when the time is up."""
    wait = _winapi.INFINITE if timeout is None else int(timeout * 1000)
    if _winapi.WaitForMultipleObjects([overlapped.event], False, wait) == _winapi.WAIT_TIMEOUT:
        overlapped.cancel()
        overlapped.GetOverlappedResult(True)
        raise PipeTimeout("timed out")
    return overlapped.GetOverlappedResult(True)


class PipeConnection:
    """One end of a connected pipe, with the socket calls the helpers use."""

    def __init__(self, handle: int) -> None:
        self.handle: Optional[int] = handle
        self.timeout: Optional[float] = None

    def settimeout(self, seconds: Optional[float]) -> None:
        self.timeout = seconds

    def recv(self, size: int) -> bytes:
        """Up to `size` bytes; b"" once the other end has gone."""
        try:
            overlapped, _ = _winapi.ReadFile(self.handle, size, overlapped=True)
            _finish(overlapped, self.timeout)
        except (BrokenPipeError, OSError) as error:
            if isinstance(error, PipeTimeout):
                raise
            if getattr(error, "winerror", None) in (ERROR_BROKEN_PIPE, ERROR_NO_DATA):
                return b""
            raise
        return bytes(overlapped.getbuffer())

    def recv_into(self, view: memoryview) -> int:
        data = self.recv(len(view))
        view[: len(data)] = data
        return len(data)

    def sendall(self, data: bytes) -> None:
        view = memoryview(data)
        while view:
            overlapped, _ = _winapi.WriteFile(self.handle, bytes(view), overlapped=True)
            written, _ = _finish(overlapped, self.timeout)
            view = view[written:]

    def close(self) -> None:
        if self.handle is not None:
            _winapi.CloseHandle(self.handle)
            self.handle = None

    def __enter__(self) -> "PipeConnection":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


class PipeListener:
    """A server of the pipe `name`. An instance is always waiting, so that a
    client that comes while another is served finds the pipe, as a socket's
    backlog lets it."""

    def __init__(self, name: str, instances: int = _winapi.PIPE_UNLIMITED_INSTANCES) -> None:
        self.name = name
        self.instances = instances
        self.timeout: Optional[float] = None
        self.waiting: Optional[int] = self._new_instance()

    def _new_instance(self) -> int:
        return _winapi.CreateNamedPipe(
            self.name,
            _winapi.PIPE_ACCESS_DUPLEX | _winapi.FILE_FLAG_OVERLAPPED,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | _winapi.PIPE_WAIT,
            self.instances,
            PIPE_BUFFER,
            PIPE_BUFFER,
            0,
            _winapi.NULL,
        )

    def settimeout(self, seconds: Optional[float]) -> None:
        self.timeout = seconds

    def listen(self, backlog: int) -> None:
        pass

    def accept(self) -> Tuple[PipeConnection, None]:
        handle = self.waiting
        if handle is None:
            raise OSError("listener closed")
        try:
            overlapped = _winapi.ConnectNamedPipe(handle, overlapped=True)
            _finish(overlapped, self.timeout)
        except OSError as error:
            # A client that came and went before the wait ended.
            if getattr(error, "winerror", None) != ERROR_NO_DATA:
                raise
        self.waiting = self._new_instance()
        return PipeConnection(handle), None

    def close(self) -> None:
        if self.waiting is not None:
            _winapi.CloseHandle(self.waiting)
            self.waiting = None

    def __enter__(self) -> "PipeListener":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


def connect(name: str) -> PipeConnection:
    """A client end of the pipe `name`, as the module opens it: while every
    instance is busy, it waits for one to be free."""
    while True:
        try:
            handle = _winapi.CreateFile(
                name,
                _winapi.GENERIC_READ | _winapi.GENERIC_WRITE,
                0,
                _winapi.NULL,
                _winapi.OPEN_EXISTING,
                _winapi.FILE_FLAG_OVERLAPPED,
                _winapi.NULL,
            )
            return PipeConnection(handle)
        except OSError as error:
            if getattr(error, "winerror", None) != ERROR_PIPE_BUSY:
                raise
        _winapi.WaitNamedPipe(name, 30000)


def pipe_exists(name: str) -> bool:
    """Whether a server has the pipe `name` open. Unlike a stat or an open,
    this takes no instance away from the server."""
    try:
        _winapi.WaitNamedPipe(name, 1)
    except FileNotFoundError:
        return False
    except OSError:
        return True  # there, but every instance busy
    return True


# ---- Processes ----

# The package's own: `python -m quillmark terminal --stop` and the demo end
# their terminals the same way.
from quillmark._windows import stop_terminal, terminal_pids  # noqa: E402,F401


# ---- The per-user roaming folder ----

class GUID(ctypes.Structure):
    _fields_ = [("data", ctypes.c_ubyte * 16)]


def roaming_folder() -> Optional[str]:
    """The roaming application-data folder as the module and the terminal
    find it (the known folder, not the environment)."""
    import uuid

    folder_id = GUID()
    ctypes.memmove(folder_id.data, uuid.UUID("3EB685DB-65F9-4CF6-A03A-E3EF65729F3D").bytes_le, 16)
    path = ctypes.c_wchar_p()
    shell32 = ctypes.windll.shell32
    if shell32.SHGetKnownFolderPath(ctypes.byref(folder_id), 0, None, ctypes.byref(path)) != 0:
        return None
    try:
        return path.value
    finally:
        ctypes.windll.ole32.CoTaskMemFree(path)
