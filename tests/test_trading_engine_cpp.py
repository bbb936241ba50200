"""Runs the C++ tests of the trading engine (tests/cpp/engine_test.cpp): the
engine over a real SQLite file in a temporary folder, with a stand-in market
whose prices and clock the tests move."""

from __future__ import annotations

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent


@pytest.mark.skipif(sys.platform == "win32", reason="built with the POSIX test harness")
@pytest.mark.skipif(shutil.which("cmake") is None, reason="needs cmake")
def test_engine_units() -> None:
    build = ROOT / "build" / "cpp-tests"
    configure = ["cmake", "-S", str(ROOT / "tests" / "cpp"), "-B", str(build)]
    subprocess.run(configure, check=True, capture_output=True)
    compile_ = ["cmake", "--build", str(build), "--target", "engine_test", "-j2"]
    built = subprocess.run(compile_, capture_output=True, text=True)
    assert built.returncode == 0, built.stdout[-4000:] + built.stderr[-4000:]
    result = subprocess.run([str(build / "engine_test")], capture_output=True, text=True)
    print(result.stdout)
    assert result.returncode == 0, result.stdout + result.stderr
