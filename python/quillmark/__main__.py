"""Command line of the package: ``python -m quillmark demo`` and
``python -m quillmark terminal [--stop]``."""

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
                      help="use your own data folder instead of a temporary one")
    demo.add_argument("--symbol", default="EURUSD", help="symbol of the bar table and chart")
    demo.add_argument("--output", default=".", help="folder for the chart image")
    demo.add_argument("--seconds", type=float, default=5.0, help="how long to watch live ticks")
    terminal = commands.add_parser(
        "terminal", help="start the bundled terminal in your data folder and leave it running, "
                         "so that initialize() finds it")
    terminal.add_argument("--stop", action="store_true", help="stop the running terminal")
    terminal.add_argument("--path", help="a terminal program other than the bundled one")
    args = parser.parse_args(argv)

    if args.command == "terminal":
        from .terminal import run_terminal_command

        return run_terminal_command(path=args.path, stop=args.stop)

    from .demo import run_demo

    return run_demo(keep_terminal=args.keep_terminal, user_data=args.user_data,
                    symbol=args.symbol, output=args.output, seconds=args.seconds)


if __name__ == "__main__":
    sys.exit(main())
