"""terminal_info and account_info against a scripted terminal."""

from __future__ import annotations

import struct
from typing import Any, Callable

import pytest

import quillmark
from wire import request, utf16_field

TERMINAL_INFO = 180
ACCOUNT_INFO = 190

U32_MAX = 0xFFFFFFFF
U64_MAX = 0xFFFFFFFFFFFFFFFF


def terminal_record(
    *,
    build: int = 4000,
    flags: tuple[int, ...] = (0,) * 8,
    maxbars: int = 100000,
    bxid: int = 0,
    codepage: int = 1252,
    ping_last: int = 35,
    community_balance: float = 0.0,
    retransmission: float = 0.0,
    texts: tuple[str, ...] = ("",) * 6,
    tradeapi_disabled: int = 0,
) -> bytes:
    """flags: community_account .. notifications_enabled in wire order."""
    head = struct.pack("<I8BIBiidd", build, *flags, maxbars, bxid, codepage, ping_last,
                       community_balance, retransmission)
    body = b"".join(utf16_field(t, 260) for t in texts)
    data = head + body + bytes([tradeapi_disabled])
    assert len(data) == 3162
    return data


def account_record(
    *,
    login: int = 0,
    numbers: tuple[int, ...] = (0, 0, 0, 0),
    trade_allowed: int = 0,
    trade_expert: int = 0,
    margin_mode: int = 0,
    currency_digits: int = 0,
    fifo_close: int = 0,
    doubles: tuple[float, ...] = (0.0,) * 14,
    name: str = "",
    server: str = "",
    currency: str = "",
    company: str = "",
) -> bytes:
    data = (
        struct.pack("<Q4I2B2IB14d", login, *numbers, trade_allowed, trade_expert, margin_mode,
                    currency_digits, fifo_close, *doubles)
        + utf16_field(name, 128)
        + utf16_field(server, 64)
        + utf16_field(currency, 32)
        + utf16_field(company, 128)
    )
    assert len(data) == 851
    return data


def test_terminal_info_decodes_every_field(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    # Flags of 2 count as true; only the byte after trade_allowed is false so
    # that tradeapi_disabled must come from the last byte.
    flags = (2, 1, 1, 1, 1, 0, 1, 1)
    company = "C" * 260  # fills its field: no NUL, must not run into name
    payload = terminal_record(
        build=U32_MAX, flags=flags, maxbars=U32_MAX, bxid=2, codepage=-1, ping_last=-2147483648,
        community_balance=-1.5, retransmission=1e300,
        texts=(company, "Quillmark", "English", "/opt/q", "/data/q", "/common/q"),
        tradeapi_disabled=1,
    )
    peer.reply(TERMINAL_INFO, 0, payload)

    info = quillmark.terminal_info()

    assert peer.requests() == [request(TERMINAL_INFO)]
    assert quillmark.last_error() == (1, "Success")
    assert isinstance(info, quillmark.TerminalInfo)
    assert info._asdict() == {
        "community_account": True, "community_connection": True, "connected": True,
        "dlls_allowed": True, "trade_allowed": True, "tradeapi_disabled": True,
        "email_enabled": False, "ftp_enabled": True, "notifications_enabled": True,
        "bxid": True, "build": U32_MAX, "maxbars": U32_MAX, "codepage": -1,
        "ping_last": -2147483648, "community_balance": -1.5, "retransmission": 1e300,
        "company": company, "name": "Quillmark", "language": "English", "path": "/opt/q",
        "data_path": "/data/q", "commondata_path": "/common/q",
    }
    assert all(type(info[i]) is bool for i in range(10))


def test_account_info_decodes_every_field(fake_terminal: Any) -> None:
    peer = fake_terminal
    peer.connect()
    doubles = tuple(float(i) + 0.25 for i in range(14))
    payload = account_record(
        login=U64_MAX, numbers=(U32_MAX, 500, 200, 1), trade_allowed=2, trade_expert=0,
        margin_mode=U32_MAX, currency_digits=2, fifo_close=1, doubles=doubles,
        name="N" * 128, server="Demo-Server", currency="USD", company="\U0001F600 Broker",
    )
    peer.reply(ACCOUNT_INFO, 0, payload)

    account = quillmark.account_info()

    assert peer.requests() == [request(ACCOUNT_INFO)]
    assert quillmark.last_error() == (1, "Success")
    assert isinstance(account, quillmark.AccountInfo)
    assert tuple(account) == (
        U64_MAX, U32_MAX, 500, 200, 1, True, False, U32_MAX, 2, True, *doubles,
        "N" * 128, "Demo-Server", "USD", "\U0001F600 Broker",
    )


CALLS: list[tuple[Callable[[], Any], int, bytes]] = [
    (quillmark.terminal_info, TERMINAL_INFO, terminal_record()),
    (quillmark.account_info, ACCOUNT_INFO, account_record()),
]


@pytest.mark.parametrize("call, command, payload", CALLS)
@pytest.mark.parametrize(
    "outcome, expected",
    [
        ("status", (-4, "Terminal: Not found")),
        ("status_with_payload", (-7, "Terminal: Unsupported function")),
        ("short", (-10002, "IPC recv failed")),
        ("long", (-10002, "IPC recv failed")),
        ("echo", (-10000, "IPC call failed")),
        ("positive", (1, "Success")),
    ],
)
def test_reply_outcomes(
    fake_terminal: Any, call: Callable[[], Any], command: int, payload: bytes, outcome: str,
    expected: tuple[int, str],
) -> None:
    peer = fake_terminal
    peer.connect()
    if outcome == "status":
        peer.reply(command, -4)
    elif outcome == "status_with_payload":
        peer.reply(command, -7, payload)
    elif outcome == "short":
        peer.reply(command, 0, payload[:-1])
    elif outcome == "long":
        peer.reply(command, 0, payload + b"\0")
    elif outcome == "echo":
        other = ACCOUNT_INFO if command == TERMINAL_INFO else TERMINAL_INFO
        peer.reply(other, 0, payload)
    else:
        peer.reply(command, 7, payload)

    result = call()

    assert (result is not None) == (outcome == "positive")
    assert quillmark.last_error() == expected


@pytest.mark.parametrize("call", [quillmark.terminal_info, quillmark.account_info])
def test_without_link(call: Callable[[], Any]) -> None:
    quillmark.shutdown()
    assert call() is None
    assert quillmark.last_error() == (-10004, "No IPC connection")
