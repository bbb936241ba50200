"""Replays: a private portable copy of the bundled terminal, started on a
virtual clock, so that a script written for live trading runs over history.

A replay folder holds everything of one replay: the terminal's executable
(its path names its pipe, so the copy has a pipe of its own), its data (a
portable terminal keeps ``config/accounts.dat`` and ``logs/`` beside the
executable) and the per-user data home the terminal writes its markers to,
so that the user's own data folder is never touched.
"""

from __future__ import annotations

import datetime as _dt
import math
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path
from typing import List, Optional, Sequence, Union

from . import _core
from .terminal import stop_terminal, terminal_path, terminal_pids

__all__ = ["replay", "ReplayError"]

# The terminal's clock options, in the order start, speed, until.
CLOCK_OPTIONS = ("--start", "--speed", "--until")

# The account that --deposit opens in a replay.
REPLAY_LOGIN = 20001
REPLAY_PASSWORD = "replay"
REPLAY_SERVER = "Quillmark-Replay"
REPLAY_LEVERAGE = 100

DATA_HOME = "home"
START_ERRORS = os.path.join("logs", "start-errors.txt")
TERMINAL_LOG = os.path.join("logs", "terminal.log")

TimeLike = Union[str, _dt.datetime, _dt.date]
Folder = Union[str, "os.PathLike[str]"]


class ReplayError(Exception):
    """A replay folder could not be prepared or its terminal not started."""


def executable(folder: Folder) -> str:
    """The path of the terminal in a replay folder: the path for
    ``initialize(path=...)``."""
    return os.path.join(os.path.abspath(folder), os.path.basename(terminal_path()))


def data_home(folder: Folder) -> str:
    """The per-user data home of a replay's terminal. Scripts that call
    ``initialize()`` without a path find the replay with ``XDG_DATA_HOME``
    set to it."""
    return os.path.join(os.path.abspath(folder), DATA_HOME)


def clock_time(value: TimeLike) -> str:
    """A time as the clock options take it: 2023-03-01 or 2023-03-01T09:30 (UTC)."""
    if isinstance(value, _dt.datetime):
        if value.tzinfo is not None:
            value = value.astimezone(_dt.timezone.utc).replace(tzinfo=None)
        return value.strftime("%Y-%m-%dT%H:%M")
    if isinstance(value, _dt.date):
        return value.isoformat()
    for form in ("%Y-%m-%d", "%Y-%m-%dT%H:%M"):
        try:
            _dt.datetime.strptime(value, form)
            return value
        except ValueError:
            pass
    raise ReplayError(f"not a date (YYYY-MM-DD or YYYY-MM-DDTHH:MM): {value!r}")


def clock_options(start: TimeLike, speed: float, until: Optional[TimeLike] = None) -> List[str]:
    """The terminal's command-line options for a virtual clock."""
    if not (speed >= 1 and math.isfinite(speed)):
        raise ReplayError(f"the speed must be at least 1, not {speed}")
    # Plain decimals: 1e+06 is no number to a command-line parser.
    rate = f"{speed:.6f}".rstrip("0").rstrip(".")
    values = [clock_time(start), rate] + ([clock_time(until)] if until is not None else [])
    if until is not None and values[2] < values[0]:
        raise ReplayError(f"--until {values[2]} comes before --start {values[0]}")
    options: List[str] = []
    for name, value in zip(CLOCK_OPTIONS, values):
        options += [name, value]
    return options


def deposit_options(amount: float, currency: str = "USD") -> List[str]:
    """Options that open the replay's account with `amount` deposited."""
    if not (amount > 0 and math.isfinite(amount)):
        raise ReplayError(f"the deposit must be a number above 0, not {amount}")
    return ["--add-account", f"{REPLAY_LOGIN}:{REPLAY_PASSWORD}:{REPLAY_SERVER}:{currency}:"
                             f"{amount:.2f}:{REPLAY_LEVERAGE}:hedging"]


def prepare(folder: Folder) -> str:
    """Make `folder` a replay folder with its own copy of the terminal, and
    return that copy's path. The folder must be new or empty: a replay's
    account and history are its own."""
    root = Path(folder).absolute()
    if root.exists() and (not root.is_dir() or any(root.iterdir())):
        raise ReplayError(f"{root} is not an empty folder; a replay needs a folder of its own")
    (root / "logs").mkdir(parents=True, exist_ok=True)
    Path(data_home(root)).mkdir(exist_ok=True)
    exe = executable(root)
    shutil.copy2(terminal_path(), exe)
    return exe


def _log_size(path: str) -> int:
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def _listening(log: str, since: int) -> bool:
    try:
        with open(log, "rb") as file:
            file.seek(since)
            return b" listening at " in file.read()
    except OSError:
        return False


def _refusal(process: "subprocess.Popen[bytes]", errors: str, folder: str) -> str:
    with open(errors, encoding="utf-8", errors="replace") as file:
        text = file.read().strip()
    if process.returncode == 2:
        # The terminal names the refused option on the first line, then its usage.
        return f"the terminal refused its options: {text.splitlines()[0] if text else '?'}"
    if process.returncode == 0:
        return f"a terminal already runs from {folder}"
    return f"the terminal stopped with exit code {process.returncode}: {text}"


def connect(folder: Folder, timeout_ms: int,
            login: Optional[int] = None, password: str = "", server: str = "") -> bool:
    """Open this process's link to the running terminal of a replay folder.

    Should the terminal have stopped meanwhile, initialize() starts it again:
    then as a portable copy with the replay's data home, never in the
    user's own data folder."""
    exe = executable(folder)
    saved = os.environ.get("XDG_DATA_HOME")
    os.environ["XDG_DATA_HOME"] = data_home(folder)
    try:
        if login is None:
            return _core.initialize(path=exe, portable=True, timeout=timeout_ms)
        return _core.initialize(path=exe, portable=True, timeout=timeout_ms, login=login,
                                password=password, server=server)
    finally:
        if saved is None:
            del os.environ["XDG_DATA_HOME"]
        else:
            os.environ["XDG_DATA_HOME"] = saved


def start_terminal(folder: Folder, options: Sequence[str] = (),
          login: Optional[int] = None, password: str = "", server: str = "",
          timeout: float = 60.0) -> str:
    """Start the terminal of a prepared replay folder with `options`, wait
    until it answers (and, with `login`, has logged in to that account), and
    return its path. The check runs over this process's link to a terminal,
    which is closed afterwards."""
    root = os.path.abspath(folder)
    exe = executable(root)
    if terminal_pids(exe):
        raise ReplayError(f"a terminal already runs from {root}")
    log = os.path.join(root, TERMINAL_LOG)
    errors = os.path.join(root, START_ERRORS)
    log_start = _log_size(log)
    env = dict(os.environ, XDG_DATA_HOME=data_home(root))
    with open(errors, "wb") as error_file:
        # A session of its own: the replay outlives this process and its signals.
        process = subprocess.Popen([exe, "/portable", *options], env=env, cwd=root,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=error_file, start_new_session=True)
    deadline = time.monotonic() + timeout
    # Until the terminal listens, initialize() would start a second copy
    # without the options.
    while not _listening(log, log_start):
        if process.poll() is not None:
            raise ReplayError(_refusal(process, errors, root))
        if time.monotonic() > deadline:
            stop_terminal(exe)
            raise ReplayError(f"the terminal in {root} did not start in {timeout:g} s")
        time.sleep(0.05)
    remaining = max(1, int((deadline - time.monotonic()) * 1000))
    answered = connect(root, remaining, login, password, server)
    failure = _core.last_error()
    _core.shutdown()
    if not answered:
        stop_terminal(exe)
        raise ReplayError(f"the terminal in {root} did not answer: {failure}")
    return exe


def replay(folder: Folder, start: TimeLike, speed: float,
           until: Optional[TimeLike] = None, deposit: Optional[float] = None,
           timeout: float = 60.0) -> str:
    """Prepare `folder` as a replay, start its terminal on a virtual clock
    from `start` at `speed` times real time (stopping at `until`), and
    return the path for ``initialize(path=...)``.

    With `deposit`, the replay trades on an account of its own
    (login 20001, password "replay", server "Quillmark-Replay") opened
    with that amount; otherwise on the demo accounts. The replay keeps
    running after this process ends; ``stop(folder)`` ends it.
    """
    options = clock_options(start, speed, until)
    account = deposit_options(deposit) if deposit is not None else []
    prepare(folder)
    try:
        if deposit is None:
            return start_terminal(folder, options, timeout=timeout)
        return start_terminal(folder, options + account, login=REPLAY_LOGIN,
                              password=REPLAY_PASSWORD, server=REPLAY_SERVER, timeout=timeout)
    except ReplayError:
        # The folder was empty before: leave it so, ready for another try.
        for entry in Path(folder).iterdir():
            if entry.is_dir():
                shutil.rmtree(entry)
            else:
                entry.unlink()
        raise


def stop(folder: Folder) -> bool:
    """Stop the terminal of a replay folder; true once none runs."""
    return stop_terminal(executable(folder))


def run_replay_command(folder: str, start_time: Optional[str], speed: Optional[float],
                       until: Optional[str], deposit: Optional[float], stop_it: bool) -> int:
    """``python -m quillmark replay``: print the path, or why there is none."""
    if stop_it:
        stopped = stop(folder)
        print(f"The replay in {os.path.abspath(folder)} "
              f"{'is stopped' if stopped else 'did not stop in time'}.")
        return 0 if stopped else 1
    if start_time is None or speed is None:
        print("python -m quillmark replay: --start and --speed are required", file=sys.stderr)
        return 2
    try:
        path = replay(folder, start_time, speed, until=until, deposit=deposit)
    except (ReplayError, OSError) as error:
        print(f"python -m quillmark replay: {error}", file=sys.stderr)
        return 1
    print(path)
    print(f"Connect with initialize(path={path!r}); scripts that call initialize() "
          f"without a path find it with XDG_DATA_HOME={data_home(folder)}.\n"
          f"Stop it with: python -m quillmark replay --stop {folder}", file=sys.stderr)
    return 0
