"""initialize, login, shutdown and version against a scripted terminal."""

from __future__ import annotations

import time
from typing import Any, Dict, Tuple

import pytest

import quillmark
from fake_peer import FakePeer
from wire import request, text, u32, u64

HANDSHAKE = request(4, u32(3) + text("Python"))
READY_POLL = request(109)
OTP_MESSAGE = "Unsupported authorization mode, OTP or certificate password needed"


def login_request(login: int, password: str, server: str) -> bytes:
    return request(5, u32(0) + u64(login) + text(password) + text(server))


def queue_handshake(peer: FakePeer, build: int = 4000) -> None:
    peer.reply(4, 1, u32(build))


def test_initialize_introduces_itself_and_waits(fake_terminal: FakePeer) -> None:
    queue_handshake(fake_terminal)
    fake_terminal.reply(109, 1, u32(0))
    fake_terminal.reply(109, 1, u32(2))

    assert quillmark.initialize(fake_terminal.path) is True
    assert quillmark.last_error() == (1, "Success")
    assert READY_POLL == bytes.fromhex("04000000" "6d000000")
    assert fake_terminal.requests() == [HANDSHAKE, READY_POLL, READY_POLL]


@pytest.mark.parametrize(
    "kwargs, login",
    [
        ({"login": 51234, "password": "secret", "server": "Demo-Server"}, (51234, "secret", "Demo-Server")),
        ({"login": 0, "password": "p"}, (0, "p", "")),
        ({"server": "only"}, (0, "", "only")),
        ({}, None),
    ],
    ids=["all", "zero-login-with-password", "server-only", "none"],
)
def test_initialize_logs_in_when_asked(
    fake_terminal: FakePeer, kwargs: Dict[str, Any], login: Any
) -> None:
    queue_handshake(fake_terminal)
    if login is not None:
        fake_terminal.reply(5, 1)
    fake_terminal.reply(109, 1, u32(2))

    assert quillmark.initialize(path=fake_terminal.path, **kwargs) is True
    expected = [HANDSHAKE, READY_POLL]
    if login is not None:
        expected.insert(1, login_request(*login))
    assert fake_terminal.requests() == expected


@pytest.mark.parametrize("status, message", [(-7, OTP_MESSAGE), (-6, "Terminal: Authorization failed")])
def test_initialize_login_failure_closes_link(
    fake_terminal: FakePeer, status: int, message: str
) -> None:
    queue_handshake(fake_terminal)
    fake_terminal.reply(5, status)

    assert quillmark.initialize(path=fake_terminal.path, login=7, password="x") is False
    assert quillmark.last_error() == (status, message)
    quillmark.version()
    assert quillmark.last_error() == (-10004, "No IPC connection")


def test_failed_handshake_leaves_the_pipe_open(fake_terminal: FakePeer) -> None:
    fake_terminal.reply(4, -2)
    assert quillmark.initialize(path=fake_terminal.path) is False
    assert quillmark.last_error() == (-2, "Terminal: Invalid params")

    fake_terminal.reply(1, 1, u32(1) + u32(2) + text("v"))
    assert quillmark.version() == (1, 2, "v")


def test_initialize_twice_replaces_the_link(fake_terminal: FakePeer) -> None:
    fake_terminal.connect()
    # The peer serves one connection at a time: the second handshake is
    # answered only once the first link is closed.
    queue_handshake(fake_terminal)
    fake_terminal.reply(109, 1, u32(2))

    assert quillmark.initialize(path=fake_terminal.path) is True
    assert fake_terminal.requests() == [HANDSHAKE, READY_POLL]


@pytest.mark.parametrize(
    "states, code, polls",
    [
        ((1, 1, 1), -10005, 3),
        ((1, 3), -6, 2),
    ],
    ids=["timeout-250ms", "authorization-failed"],
)
def test_readiness_wait(fake_terminal: FakePeer, states: Tuple[int, ...], code: int, polls: int) -> None:
    queue_handshake(fake_terminal)
    for state in states:
        fake_terminal.reply(109, 1, u32(state))

    started = time.monotonic()
    assert quillmark.initialize(path=fake_terminal.path, timeout=250) is False
    elapsed = time.monotonic() - started

    assert quillmark.last_error()[0] == code
    assert fake_terminal.requests() == [HANDSHAKE] + [READY_POLL] * polls
    assert elapsed >= 0.1 * (polls - 1) + (0.1 if code == -10005 else 0)
    quillmark.version()
    assert quillmark.last_error() == (-10004, "No IPC connection")


def test_readiness_failure_status_is_reported(fake_terminal: FakePeer) -> None:
    queue_handshake(fake_terminal)
    fake_terminal.reply(109, -1)

    assert quillmark.initialize(path=fake_terminal.path) is False
    assert quillmark.last_error() == (-1, "Terminal: Call failed")


def test_login_sends_positional_arguments_in_order(fake_terminal: FakePeer) -> None:
    fake_terminal.connect()
    fake_terminal.reply(5, 1)
    fake_terminal.reply(109, 1, u32(2))
    assert quillmark.login(123, "pw", "srv") is True

    fake_terminal.reply(5, 1)
    fake_terminal.reply(109, 1, u32(2))
    assert quillmark.login(99, server="s2") is True

    assert fake_terminal.requests() == [
        login_request(123, "pw", "srv"),
        READY_POLL,
        login_request(99, "", "s2"),
        READY_POLL,
    ]


def test_login_otp_refusal_keeps_the_link(fake_terminal: FakePeer) -> None:
    fake_terminal.connect()
    fake_terminal.reply(5, -7)
    assert quillmark.login(5, "p") is False
    assert quillmark.last_error() == (-7, OTP_MESSAGE)

    fake_terminal.reply(1, 1, u32(1) + u32(2) + text(""))
    assert quillmark.version() == (1, 2, "")


def test_login_without_link() -> None:
    quillmark.shutdown()
    assert quillmark.login(5) is False
    assert quillmark.last_error() == (-10004, "No IPC connection")


INVALID = -2
REFUSALS = [
    (quillmark.initialize, (1, 2), {}, "Invalid number of arguments"),
    (quillmark.initialize, (5,), {}, "Invalid 1st unnamed argument"),
    (quillmark.initialize, (), {"login": "1"}, 'Invalid "login" argument'),
    (quillmark.initialize, (), {"login": -1}, 'Invalid "login" argument'),
    (quillmark.initialize, (), {"server": 1}, 'Invalid "server" argument'),
    (quillmark.initialize, (), {"password": "p" * 254}, 'Invalid "password" argument'),
    (quillmark.initialize, (), {"timeout": -1}, 'Invalid "timeout" argument'),
    (quillmark.initialize, (), {"timeout": 2**32}, 'Invalid "timeout" argument'),
    (quillmark.initialize, (), {"timeout": 1.5}, 'Invalid "timeout" argument'),
    (quillmark.initialize, (), {"path": "/" + "p" * 257}, 'Invalid "path" argument'),
    (quillmark.initialize, ("x",), {"path": b"x"}, 'Invalid "path" argument'),
    (quillmark.login, (), {}, 'Invalid "login" argument'),
    (quillmark.login, (0,), {}, 'Invalid "login" argument'),
    (quillmark.login, (1, "a", "b", "c"), {}, "Invalid number of arguments"),
    (quillmark.login, ("1",), {}, "Invalid 1st unnamed argument"),
    (quillmark.login, (1, 2), {}, "Invalid 2nd unnamed argument"),
    (quillmark.login, (1, "p", "s" * 254), {}, "Invalid 3rd unnamed argument"),
    (quillmark.login, (1,), {"server": 3}, 'Invalid "server" argument'),
    (quillmark.login, (1,), {"login": 2**64}, 'Invalid "login" argument'),
]


@pytest.mark.parametrize("function, args, kwargs, message", REFUSALS)
def test_argument_refusals(
    fake_terminal: FakePeer, function: Any, args: tuple, kwargs: Dict[str, Any], message: str
) -> None:
    fake_terminal.connect()

    assert function(*args, **kwargs) is False
    assert quillmark.last_error() == (INVALID, message)
    assert fake_terminal.requests() == []


@pytest.mark.parametrize("field", ["password", "server"])
@pytest.mark.parametrize("units, accepted", [(253, True), (254, False)])
def test_server_and_password_limits(
    fake_terminal: FakePeer, field: str, units: int, accepted: bool
) -> None:
    fake_terminal.connect()
    if accepted:
        fake_terminal.reply(5, 1)
        fake_terminal.reply(109, 1, u32(2))
    values = {"password": "", "server": "", field: "x" * units}

    assert quillmark.login(1, **values) is accepted
    sent = [login_request(1, values["password"], values["server"]), READY_POLL]
    assert fake_terminal.requests() == (sent if accepted else [])


def test_path_of_257_units_is_accepted(tmp_path: Any) -> None:
    path = str(tmp_path / ("p" * (257 - len(str(tmp_path)) - 1)))
    assert len(path) == 257

    assert quillmark.initialize(path) is False
    assert quillmark.last_error() == (-10003, f"IPC initialize failed, Process create failed '{path}'")


def test_shutdown_drops_the_link(fake_terminal: FakePeer) -> None:
    fake_terminal.connect()

    assert quillmark.shutdown() is True
    assert quillmark.shutdown() is True
    assert quillmark.last_error() == (1, "Success")
    assert quillmark.version() == (0, 0, "")
    assert quillmark.last_error() == (-10004, "No IPC connection")
    assert fake_terminal.requests() == []
