"""Finding and ending the processes that run a terminal executable on
Windows, with the system's own calls: a process snapshot, each process's
image path, and TerminateProcess."""

from __future__ import annotations

import sys

assert sys.platform == "win32"

import ctypes  # noqa: E402
import os  # noqa: E402
from ctypes import wintypes  # noqa: E402
from typing import List, Optional  # noqa: E402

TH32CS_SNAPPROCESS = 0x00000002
PROCESS_TERMINATE = 0x0001
PROCESS_QUERY_LIMITED_INFORMATION = 0x1000
SYNCHRONIZE = 0x00100000
INVALID_HANDLE_VALUE = ctypes.c_void_p(-1).value


class PROCESSENTRY32W(ctypes.Structure):
    _fields_ = [
        ("dwSize", wintypes.DWORD),
        ("cntUsage", wintypes.DWORD),
        ("th32ProcessID", wintypes.DWORD),
        ("th32DefaultHeapID", ctypes.c_size_t),
        ("th32ModuleID", wintypes.DWORD),
        ("cntThreads", wintypes.DWORD),
        ("th32ParentProcessID", wintypes.DWORD),
        ("pcPriClassBase", wintypes.LONG),
        ("dwFlags", wintypes.DWORD),
        ("szExeFile", wintypes.WCHAR * 260),
    ]


_kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
_kernel32.CreateToolhelp32Snapshot.restype = wintypes.HANDLE
_kernel32.CreateToolhelp32Snapshot.argtypes = [wintypes.DWORD, wintypes.DWORD]
_kernel32.Process32FirstW.argtypes = [wintypes.HANDLE, ctypes.POINTER(PROCESSENTRY32W)]
_kernel32.Process32NextW.argtypes = [wintypes.HANDLE, ctypes.POINTER(PROCESSENTRY32W)]
_kernel32.OpenProcess.restype = wintypes.HANDLE
_kernel32.OpenProcess.argtypes = [wintypes.DWORD, wintypes.BOOL, wintypes.DWORD]
_kernel32.QueryFullProcessImageNameW.argtypes = [
    wintypes.HANDLE, wintypes.DWORD, wintypes.LPWSTR, ctypes.POINTER(wintypes.DWORD)]
_kernel32.TerminateProcess.argtypes = [wintypes.HANDLE, wintypes.UINT]
_kernel32.WaitForSingleObject.argtypes = [wintypes.HANDLE, wintypes.DWORD]
_kernel32.CloseHandle.argtypes = [wintypes.HANDLE]


def _process_ids() -> List[int]:
    snapshot = _kernel32.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)
    if snapshot is None or snapshot == INVALID_HANDLE_VALUE:
        return []
    ids: List[int] = []
    entry = PROCESSENTRY32W()
    entry.dwSize = ctypes.sizeof(PROCESSENTRY32W)
    try:
        more = _kernel32.Process32FirstW(snapshot, ctypes.byref(entry))
        while more:
            ids.append(int(entry.th32ProcessID))
            more = _kernel32.Process32NextW(snapshot, ctypes.byref(entry))
    finally:
        _kernel32.CloseHandle(snapshot)
    return ids


def _image_path(pid: int) -> Optional[str]:
    process = _kernel32.OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, False, pid)
    if not process:
        return None
    try:
        buffer = ctypes.create_unicode_buffer(32768)
        size = wintypes.DWORD(32768)
        if not _kernel32.QueryFullProcessImageNameW(process, 0, buffer, ctypes.byref(size)):
            return None
        return str(buffer.value)
    finally:
        _kernel32.CloseHandle(process)


def terminal_pids(path: str) -> List[int]:
    """Processes running the executable at `path`."""
    wanted = os.path.normcase(os.path.realpath(path))
    return [pid for pid in _process_ids()
            if (image := _image_path(pid)) is not None
            and os.path.normcase(os.path.realpath(image)) == wanted]


def stop_terminal(path: str, timeout: float = 5.0) -> bool:
    """End every process running the executable at `path` and wait until
    they are gone. A windowless terminal has no console to send a stop to,
    so it is ended outright; its account is committed as it goes."""
    for pid in terminal_pids(path):
        process = _kernel32.OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, False, pid)
        if process:
            _kernel32.TerminateProcess(process, 1)
            _kernel32.WaitForSingleObject(process, int(timeout * 1000))
            _kernel32.CloseHandle(process)
    return not terminal_pids(path)
