"""Runs the C++ tests of the pipe streams (tests/cpp), which count every pipe
call a message costs over a real socket pair."""

from __future__ import annotations

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="needs GNU ld --wrap")
@pytest.mark.skipif(shutil.which("cmake") is None, reason="needs cmake")
def test_stream_buffering_and_failures() -> None:
    build = ROOT / "build" / "cpp-tests"
    configure = ["cmake", "-S", str(ROOT / "tests" / "cpp"), "-B", str(build)]
    subprocess.run(configure, check=True, capture_output=True)
    compile_ = ["cmake", "--build", str(build), "--target", "stream_test", "-j2"]
    subprocess.run(compile_, check=True, capture_output=True)
    result = subprocess.run([str(build / "stream_test")], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
