"""The bundled terminal end to end: starting, finding, logging in, serving
several clients, and standing up to malformed requests."""

from __future__ import annotations

import os
import signal
import struct
import subprocess
import sys
import textwrap
import time
from pathlib import Path

import pytest

import quillmark
from terminal_tools import RawClient, TerminalHome
from wire import text

DEMO_LOGIN, DEMO_PASSWORD, DEMO_SERVER = 10001, "demo", "Quillmark-Demo"


def marker_folder(home: TerminalHome) -> Path:
    folders = list((home.data_home / "Brevonix" / "Terminal").iterdir())
    folders = [f for f in folders if f.name != "Common"]
    assert len(folders) == 1
    return folders[0]


def test_start_by_path_writes_markers_and_reports_folders(home: TerminalHome) -> None:
    assert quillmark.initialize(path=home.exe), quillmark.last_error()
    info = quillmark.terminal_info()
    marker = marker_folder(home)
    assert info.path == str(home.install)
    assert info.data_path == str(marker)
    assert info.connected and info.build == 4000
    origin = (marker / "origin.txt").read_bytes()
    assert origin[:2] == b"\xff\xfe" and origin[2:].decode("utf-16-le") == str(home.install)
    assert (marker / "VORN").is_dir() and not (marker / "portable.txt").exists()
    assert (marker / "config" / "accounts.dat").read_bytes()[:16] == b"SQLite format 3\x00"
    assert "listening at" in (marker / "logs" / "terminal.log").read_text()
    assert len(home.running_pids()) == 1


def test_discovery_without_path_after_first_start(home: TerminalHome) -> None:
    assert quillmark.initialize(path=home.exe)
    quillmark.shutdown()
    home.stop_all()
    assert not home.running_pids()
    # No path: found through its data folder and started again.
    assert quillmark.initialize(), quillmark.last_error()
    assert quillmark.terminal_info().path == str(home.install)


def test_portable_start_keeps_data_in_installation(home: TerminalHome) -> None:
    assert quillmark.initialize(path=home.exe, portable=True), quillmark.last_error()
    marker = marker_folder(home)
    assert (marker / "portable.txt").exists()
    assert quillmark.terminal_info().data_path == str(home.install)
    assert (home.install / "config" / "accounts.dat").exists()
    quillmark.shutdown()
    home.stop_all()
    # Discovery brings it back in portable mode.
    assert quillmark.initialize()
    assert quillmark.terminal_info().data_path == str(home.install)


@pytest.mark.skipif(sys.platform == "win32", reason="stops the terminal with a POSIX signal")
@pytest.mark.parametrize("stop", [signal.SIGTERM, signal.SIGINT])
def test_second_start_exits_quietly_and_signal_removes_socket(home: TerminalHome,
                                                              stop: int) -> None:
    first = home.start()
    second = subprocess.run([home.exe], env=home.env(), capture_output=True, timeout=10)
    assert second.returncode == 0 and second.stderr == b""
    assert home.running_pids() == [first.pid]
    first.send_signal(stop)
    assert first.wait(timeout=5) == 0
    assert not os.path.exists(home.socket_path)


OPTIONS = ["/portable", "--build", "--symbols", "--history-days", "--seed", "--no-autotrading",
           "--test-controls", "--import-bars", "--import-ticks", "--add-account",
           "--positions", "--start", "--speed", "--until", "--recover-db", "--help"]


@pytest.mark.parametrize(
    "argv, code, offender",
    [(["--help"], 0, ""), (["-h"], 0, ""), (["/portable", "--seed", "3", "-h"], 0, ""),
     (["--build", "x"], 2, "--build"), (["--frobnicate"], 2, "--frobnicate"),
     (["--help", "--frobnicate"], 2, "--frobnicate")],
)
def test_help_and_bad_options_start_nothing(home: TerminalHome, argv: list, code: int,
                                            offender: str) -> None:
    result = subprocess.run([home.exe, *argv], env=home.env(), capture_output=True, timeout=10)
    assert result.returncode == code
    usage = result.stdout if code == 0 else result.stderr
    assert all(option.encode() in usage for option in OPTIONS), usage
    assert offender.encode() in result.stderr.split(b"\n")[0]
    assert not home.running_pids()
    assert not os.path.exists(home.socket_path)
    assert not home.data_home.exists() or not any(home.data_home.iterdir())


def test_version_reports_major_500_and_release_date(home: TerminalHome) -> None:
    assert quillmark.initialize(path=home.exe)
    major, build, date = quillmark.version()
    assert (major, build) == (500, 4000)
    time.strptime(date, "%d %b %Y")
    assert len(date.split()[0]) == 2


@pytest.mark.parametrize(
    "kwargs, code",
    [
        (dict(login=DEMO_LOGIN, password="wrong", server=DEMO_SERVER), -6),
        (dict(login=777, password="secret", server=DEMO_SERVER), -7),
    ],
    ids=["wrong-password", "otp-account"],
)
def test_login_failures(home: TerminalHome, kwargs: dict, code: int) -> None:
    home.start("--add-account", "777:secret:Quillmark-Demo:USD:5000:50:netting:otp")
    assert not quillmark.initialize(path=home.exe, timeout=3000, **kwargs)
    assert quillmark.last_error()[0] == code


def test_login_switches_account_after_connecting_phase(home: TerminalHome) -> None:
    home.start("--add-account", "555:pw:Quillmark-Demo:EUR:2500:30:netting")
    assert quillmark.initialize(path=home.exe)
    assert quillmark.login(555, password="pw", server=DEMO_SERVER), quillmark.last_error()
    account = quillmark.account_info()
    assert (account.login, account.currency, account.balance) == (555, "EUR", 2500.0)
    with RawClient(home.socket_path) as raw:
        raw.call(5, struct.pack("<IQ", 0, DEMO_LOGIN) + text(DEMO_PASSWORD) + text(DEMO_SERVER))
        states = [struct.unpack("<I", raw.call(109)[1])[0]]
        time.sleep(0.35)
        states.append(struct.unpack("<I", raw.call(109)[1])[0])
    assert states == [1, 2]


def test_old_build_sends_short_symbol_record(home: TerminalHome) -> None:
    home.start("--build", "2300")
    assert quillmark.initialize(path=home.exe)
    assert quillmark.version()[1] == 2300
    assert quillmark.symbol_info("EURUSD").name == "EURUSD"
    assert quillmark.symbols_total() is None and quillmark.last_error()[0] == -5
    with RawClient(home.socket_path) as raw:
        status, body = raw.call(170, text("EURUSD"))
        assert status == 0 and len(body) == 2929
        assert raw.call(174)[0] == -5
        assert raw.call(175, text("EUR*"))[0] == -5


def test_no_autotrading(home: TerminalHome) -> None:
    home.start("--no-autotrading")
    assert quillmark.initialize(path=home.exe)
    info = quillmark.terminal_info()
    assert info.tradeapi_disabled and not info.trade_allowed
    request = dict(action=quillmark.TRADE_ACTION_DEAL, symbol="EURUSD", volume=0.1,
                   type=quillmark.ORDER_TYPE_BUY)
    assert quillmark.order_send(request) is None
    assert quillmark.last_error()[0] == -8


def test_second_client_in_another_process(home: TerminalHome) -> None:
    assert quillmark.initialize(path=home.exe)
    script = textwrap.dedent(f"""
        import quillmark
        assert quillmark.initialize(path={home.exe!r}), quillmark.last_error()
        for _ in range(50):
            assert quillmark.symbol_info_tick("EURUSD") is not None
        print(quillmark.symbols_total())
    """)
    other = subprocess.Popen([sys.executable, "-c", script], env=home.env(),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    for _ in range(50):
        assert quillmark.symbol_info("GBPUSD") is not None
    out, err = other.communicate(timeout=30)
    assert other.returncode == 0, err.decode()
    assert int(out) == quillmark.symbols_total()


MALFORMED = [
    pytest.param(struct.pack("<II", 4, 9999), id="unknown-command"),
    pytest.param(struct.pack("<II", 8, 170) + struct.pack("<I", 1000), id="string-past-end"),
    pytest.param(struct.pack("<II", 14, 170) + text("EU") + b"\x00\x00", id="extra-bytes"),
    pytest.param(struct.pack("<II", 4, 4), id="handshake-without-payload"),
    pytest.param(struct.pack("<II", 4 + 8, 108) + text("EURUSD")[:8], id="rates-cut-short"),
    pytest.param(struct.pack("<II", 4 + 4, 171) + struct.pack("<I", 0xFFFFFFFF), id="huge-count"),
]


@pytest.mark.parametrize("request_bytes", MALFORMED)
def test_malformed_request_gets_negative_status(home: TerminalHome, request_bytes: bytes) -> None:
    home.start()
    with RawClient(home.socket_path) as raw:
        raw.send_raw(request_bytes)
        command, status, payload = raw.reply()
        assert command == struct.unpack("<I", request_bytes[4:8])[0]
        assert status < 0 and payload == b""
        # The connection still serves.
        assert raw.call(109)[0] == 0


@pytest.mark.parametrize("length", [0, 3, 64 * 1024 + 1, 0xFFFFFFFF])
def test_impossible_length_closes_only_that_client(home: TerminalHome, length: int) -> None:
    home.start()
    with RawClient(home.socket_path) as good, RawClient(home.socket_path) as bad:
        bad.send_raw(struct.pack("<II", length, 4))
        with pytest.raises(ConnectionError):
            bad.reply()
        assert good.call(173)[0] == 0


def test_stalled_client_does_not_block_others(home: TerminalHome) -> None:
    home.start()
    with RawClient(home.socket_path) as stalled, RawClient(home.socket_path) as other, \
            RawClient(home.socket_path) as greedy:
        stalled.send_raw(struct.pack("<II", 100, 170) + b"\x01\x00")  # never finished
        # A server blocked on the stalled client would run into the 10 s
        # socket timeout here.
        status, body = other.call(170, text("EURUSD"))
        assert status == 0 and len(body) == 2993
        # A client that never reads its large replies holds up nobody either.
        # (Not the stalled one: its bytes would finish the unfinished request
        # with nonsense, and the terminal drops it, racing these sends.)
        for _ in range(5):
            greedy.request(108, text("BTCUSD") + struct.pack("<iii", 1, 0, 200000))
        assert other.call(173)[0] == 0
    assert home.running_pids()


def test_positions_option_opens_test_positions(home: TerminalHome) -> None:
    home.start("--positions", "300")
    assert quillmark.initialize(path=home.exe)
    assert quillmark.positions_total() == 300
    assert len(quillmark.positions_get()) == 300


def cpu_seconds(pid: int) -> float:
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


@pytest.mark.skipif(sys.platform == "win32", reason="limits descriptors with rlimit, reads /proc")
def test_running_out_of_descriptors_turns_clients_away_without_spinning(
        home: TerminalHome) -> None:
    import resource

    process = home.start()
    resource.prlimit(process.pid, resource.RLIMIT_NOFILE, (24, 24))
    with RawClient(home.socket_path) as first:
        extra = []
        try:
            for _ in range(30):
                extra.append(RawClient(home.socket_path))
            time.sleep(0.3)
            before = cpu_seconds(process.pid)
            time.sleep(1.0)
            assert cpu_seconds(process.pid) - before < 0.5
            assert first.call(173)[0] == 0
        finally:
            for client in extra:
                client.close()
        time.sleep(0.2)
        with RawClient(home.socket_path) as late:
            assert late.call(173)[0] == 0
