"""Imported at start-up by every Python process of the sanitizer run (through
a .pth file that tests/reliability/sanitizers.sh installs).

The sanitized extension needs the AddressSanitizer runtime preloaded into the
interpreter, which leaks by design and so runs with leak detection off. Its
children must not inherit either setting: the sanitized terminal finds the
runtime by itself and runs with leak detection on, and compilers and shells
run without it. Python children get both back through a wrapper that takes
the place of sys.executable.
"""

from __future__ import annotations

import os
import sys

_child_options = os.environ.get("QUILLMARK_CHILD_ASAN_OPTIONS")
_wrapper = os.environ.get("QUILLMARK_PYTHON_WRAPPER")
if _child_options is not None and _wrapper is not None:
    os.environ["ASAN_OPTIONS"] = _child_options
    os.environ.pop("LD_PRELOAD", None)
    sys.executable = _wrapper
