"""Runs the C++ tests of the terminal's poller (tests/cpp/poller_test.cpp)
over real socket pairs, once with each implementation: epoll, which Linux
builds use, and poll(), which other POSIX systems use."""

from __future__ import annotations

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="tests/cpp is built on Linux")
@pytest.mark.skipif(shutil.which("cmake") is None, reason="needs cmake")
@pytest.mark.parametrize("target", ["poller_test_epoll", "poller_test_poll"])
def test_poller(target: str) -> None:
    build = ROOT / "build" / "cpp-tests"
    configure = ["cmake", "-S", str(ROOT / "tests" / "cpp"), "-B", str(build)]
    subprocess.run(configure, check=True, capture_output=True)
    compile_ = ["cmake", "--build", str(build), "--target", target, "-j2"]
    built = subprocess.run(compile_, capture_output=True, text=True)
    assert built.returncode == 0, built.stdout[-4000:] + built.stderr[-4000:]
    result = subprocess.run([str(build / target)], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
