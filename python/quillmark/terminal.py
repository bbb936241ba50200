"""Where the bundled terminal program is installed."""

from __future__ import annotations

import os
import sys

__all__ = ["terminal_path"]


def terminal_path() -> str:
    """Return the full path of the bundled terminal program.

    Pass it to ``initialize(path=...)`` to start (or reach) the terminal that
    ships with this package; after its first start ``initialize()`` finds it
    by itself.
    """
    name = "terminal64.exe" if sys.platform == "win32" else "terminal64"
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "bin", name)
