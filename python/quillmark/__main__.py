"""Command line of the package: ``python -m quillmark demo``,
``python -m quillmark terminal [--stop]``, ``python -m quillmark replay``
and ``python -m quillmark report``."""

from __future__ import annotations

import argparse
import sys
from typing import List, Optional


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m quillmark")
    commands = parser.add_subparsers(dest="command", required=True)
    demo = commands.add_parser("demo", help="a short tour of the bundled terminal")
    demo.add_argument("--keep-terminal", action="store_true",
                      help="leave the terminal running at the end")
    demo.add_argument("--user-data", action="store_true",
                      help="use your own data folder instead of a temporary one "
                      "(on Windows always your own)")
    demo.add_argument("--symbol", default="EURUSD", help="symbol of the bar table and chart")
    demo.add_argument("--output", default=".", help="folder for the chart image")
    demo.add_argument("--seconds", type=float, default=5.0, help="how long to watch live ticks")
    terminal = commands.add_parser(
        "terminal", help="start the bundled terminal in your data folder and leave it running, "
                         "so that initialize() finds it")
    terminal.add_argument("--stop", action="store_true", help="stop the running terminal")
    terminal.add_argument("--path", help="a terminal program other than the bundled one")
    replay = commands.add_parser(
        "replay", help="start a private copy of the terminal on a virtual clock in DIR "
                       "and print the path for initialize(path=...)")
    replay.add_argument("folder", metavar="DIR", help="a new or empty folder for the replay")
    replay.add_argument("--start", help="virtual start, YYYY-MM-DD or YYYY-MM-DDTHH:MM (UTC)")
    replay.add_argument("--speed", type=float, help="virtual seconds per real second")
    replay.add_argument("--until", help="where the virtual clock stops")
    replay.add_argument("--deposit", type=float,
                        help="open the replay's own account (login 20001, password 'replay', "
                             "server 'Quillmark-Replay') with this deposit in USD")
    replay.add_argument("--stop", action="store_true", help="stop the replay in DIR")
    report = commands.add_parser(
        "report", help="write a chart and a report of a replay's account")
    report.add_argument("folder", metavar="DIR", help="the replay's folder")
    report.add_argument("--login", type=int,
                        help="the account to report (default: the last one logged in to)")
    report.add_argument("--output", help="folder for report.md and equity.png (default: DIR)")
    args = parser.parse_args(argv)

    if args.command == "replay":
        from .replays import run_replay_command

        return run_replay_command(args.folder, args.start, args.speed, args.until,
                                  args.deposit, args.stop)
    if args.command == "report":
        from .report import run_report_command

        return run_report_command(args.folder, login=args.login, output=args.output)

    if args.command == "terminal":
        from .terminal import run_terminal_command

        return run_terminal_command(path=args.path, stop=args.stop)

    from .demo import run_demo

    return run_demo(keep_terminal=args.keep_terminal, user_data=args.user_data,
                    symbol=args.symbol, output=args.output, seconds=args.seconds)


if __name__ == "__main__":
    sys.exit(main())
