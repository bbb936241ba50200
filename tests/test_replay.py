"""Replay folders: a private portable copy of the bundled terminal each,
started with the options given, side by side and away from the user's own
data folder."""

from __future__ import annotations

import datetime as dt
import os
import subprocess
import sys
import time
from pathlib import Path
from typing import Iterator, List

import pytest

import quillmark
from quillmark import replays as rp

@pytest.fixture
def user_data(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> Path:
    """The user's own data folder, which no replay may touch."""
    folder = tmp_path / "user-data"
    folder.mkdir()
    monkeypatch.setenv("XDG_DATA_HOME", str(folder))
    return folder


@pytest.fixture
def folders(tmp_path: Path, user_data: Path) -> Iterator[List[Path]]:
    made: List[Path] = []
    yield made
    quillmark.shutdown()
    for folder in made:
        rp.stop(folder)


def new_folder(folders: List[Path], tmp_path: Path, name: str) -> Path:
    folder = tmp_path / name
    folders.append(folder)
    return folder


@pytest.mark.parametrize("start, speed, until, expected", [
    (dt.datetime(2023, 3, 1, 9, 30), 1e6, dt.date(2023, 4, 1),
     ["--start", "2023-03-01T09:30", "--speed", "1000000", "--until", "2023-04-01"]),
    (dt.datetime(2023, 3, 1, 11, 30, tzinfo=dt.timezone(dt.timedelta(hours=2))), 1.5,
     "2023-03-01T10:00", ["--start", "2023-03-01T09:30", "--speed", "1.5",
                          "--until", "2023-03-01T10:00"]),
])
def test_clock_options(start: rp.TimeLike, speed: float, until: rp.TimeLike,
                       expected: List[str]) -> None:
    assert rp.clock_options(start, speed, until) == expected


@pytest.mark.parametrize("start, speed, until, deposit", [
    ("2023-03-01", 0.5, None, None),
    ("2023-03-01", float("nan"), None, None),
    ("2023-03-01", float("inf"), None, None),
    ("1 March 2023", 60, None, None),
    ("2023-03-01", 60, "2023-02-28", None),
    ("2023-03-01", 60, None, 0.0),
    ("2023-03-01", 60, None, float("inf")),
])
def test_unusable_settings_are_refused_before_anything_starts(
        tmp_path: Path, start: str, speed: float, until: str, deposit: float) -> None:
    with pytest.raises(rp.ReplayError):
        rp.replay(tmp_path / "run", start, speed, until=until, deposit=deposit)
    assert not (tmp_path / "run").exists()


def test_a_refused_option_fails_clearly_and_leaves_the_folder_empty(
        folders: List[Path], tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    # An option the terminal does not know stands for any it refuses.
    monkeypatch.setattr(rp, "clock_options", lambda *args: ["--no-such-option", "1"])
    folder = new_folder(folders, tmp_path, "run")
    with pytest.raises(rp.ReplayError, match="refused its options: .*--no-such-option"):
        quillmark.replay(folder, "2023-03-01", 60)
    assert list(folder.iterdir()) == []
    assert not rp.terminal_pids(rp.executable(folder))


@pytest.mark.parametrize("content", ["file", "running"])
def test_a_folder_in_use_is_refused(folders: List[Path], tmp_path: Path, content: str) -> None:
    folder = new_folder(folders, tmp_path, "run")
    if content == "file":
        folder.mkdir()
        (folder / "notes.txt").write_text("mine")
        with pytest.raises(rp.ReplayError, match="not an empty folder"):
            rp.prepare(folder)
        assert [p.name for p in folder.iterdir()] == ["notes.txt"]
    else:
        rp.prepare(folder)
        rp.start_terminal(folder)
        with pytest.raises(rp.ReplayError, match="already runs"):
            rp.start_terminal(folder)
        assert len(rp.terminal_pids(rp.executable(folder))) == 1


@pytest.mark.skipif(sys.platform == "win32",
                    reason="a replay's data home is set through XDG_DATA_HOME, which Windows "
                    "does not read")
def test_two_replays_run_side_by_side_away_from_the_user_data(
        folders: List[Path], tmp_path: Path, user_data: Path) -> None:
    first = new_folder(folders, tmp_path, "first")
    second = new_folder(folders, tmp_path, "second")
    rp.prepare(first)
    rp.prepare(second)
    first_exe = rp.start_terminal(first, rp.deposit_options(2500), login=rp.REPLAY_LOGIN,
                         password=rp.REPLAY_PASSWORD, server=rp.REPLAY_SERVER)
    second_exe = rp.start_terminal(second)
    assert first_exe != second_exe

    # The deposit made an account of the replay's own, logged in to.
    assert quillmark.initialize(path=first_exe), quillmark.last_error()
    account = quillmark.account_info()
    assert (account.login, account.balance, account.server) == (20001, 2500.0, "Quillmark-Replay")
    deposits = quillmark.history_deals_get(0, 2**31 - 1)
    assert [(d.type, d.profit) for d in deposits] == [(quillmark.DEAL_TYPE_BALANCE, 2500.0)]
    bought = quillmark.Buy("BTCUSD", 0.01)
    assert bought.retcode == quillmark.TRADE_RETCODE_DONE
    info = quillmark.terminal_info()
    assert Path(info.path) == first and Path(info.data_path) == first

    assert quillmark.initialize(path=second_exe), quillmark.last_error()
    assert quillmark.account_info().login == 10001  # no deposit: the demo account
    assert quillmark.positions_total() == 0
    assert Path(quillmark.terminal_info().data_path) == second
    quillmark.shutdown()

    assert list(user_data.iterdir()) == []
    for folder in (first, second):
        assert (folder / "config" / "accounts.dat").is_file()
        markers = list((folder / rp.DATA_HOME / "Brevonix" / "Terminal").glob("*/portable.txt"))
        assert len(markers) == 1

    stopped = subprocess.run([sys.executable, "-m", "quillmark", "replay", "--stop", str(first)],
                             capture_output=True, text=True, timeout=60)
    assert stopped.returncode == 0 and "is stopped" in stopped.stdout
    assert not rp.terminal_pids(first_exe) and rp.terminal_pids(second_exe)


@pytest.mark.skipif(sys.platform == "win32",
                    reason="a replay's data home is set through XDG_DATA_HOME, which Windows "
                    "does not read")
def test_a_script_without_a_path_finds_the_replay_through_its_data_home(
        folders: List[Path], tmp_path: Path) -> None:
    folder = new_folder(folders, tmp_path, "run")
    rp.prepare(folder)
    rp.start_terminal(folder)
    script = ("import quillmark as mt; assert mt.initialize(login=10001, password='demo', "
              "server='Quillmark-Demo'), mt.last_error(); print(mt.terminal_info().path)")
    env = dict(os.environ, XDG_DATA_HOME=rp.data_home(folder))
    found = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                           timeout=60, env=env)
    assert found.returncode == 0, found.stderr
    assert Path(found.stdout.strip()) == folder


# ---- With the virtual clock ----

def test_replay_serves_the_virtual_clock(folders: List[Path], tmp_path: Path,
                                         user_data: Path) -> None:
    folder = new_folder(folders, tmp_path, "run")
    began = time.time()
    path = rp.replay(folder, "2023-03-01", 3600, until="2023-03-31", deposit=10000)
    assert quillmark.initialize(path=path), quillmark.last_error()
    tick = quillmark.symbol_info_tick("BTCUSD")
    start = dt.datetime(2023, 3, 1, tzinfo=dt.timezone.utc).timestamp()
    assert start <= tick.time <= start + (time.time() - began + 1) * 3600
    bar = quillmark.copy_rates_from_pos("BTCUSD", quillmark.TIMEFRAME_M1, 0, 1)
    assert bar["time"][0] <= tick.time
    assert quillmark.account_info().balance == 10000
    assert list(user_data.iterdir()) == []


def test_replay_command_prints_the_path(folders: List[Path], tmp_path: Path) -> None:
    folder = new_folder(folders, tmp_path, "run")
    result = subprocess.run([sys.executable, "-m", "quillmark", "replay", "--start", "2023-03-01",
                             "--speed", "3600", str(folder)],
                            capture_output=True, text=True, timeout=90)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == rp.executable(folder)
