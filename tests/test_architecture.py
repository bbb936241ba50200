"""The layers of the C++ sources: every #include "..." in src/ points from a
folder to one that folder may use, and the folders form no circle."""

from __future__ import annotations

import re
from pathlib import Path
from typing import Dict, List, Set, Tuple

import pytest

SRC = Path(__file__).resolve().parent.parent / "src"

# Each folder and the folders its files may include, besides its own. An
# arrow may skip layers (app may use the market directly), never go upwards.
_TERMINAL_BELOW_SERVER = {"terminal/engine", "terminal/market", "terminal/storage", "link", "wire"}
ALLOWED: Dict[str, Set[str]] = {
    "wire": set(),
    "link": {"wire"},
    "module": {"link", "wire"},
    "api": {"module", "link", "wire"},
    "terminal/storage": {"link", "wire"},
    "terminal/market": {"wire"},
    "terminal/engine": {"terminal/market", "terminal/storage", "link", "wire"},
    "terminal/server": _TERMINAL_BELOW_SERVER,
    "terminal/app": _TERMINAL_BELOW_SERVER | {"terminal/server"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
SOURCE_SUFFIXES = {".cpp", ".h"}


def folder_of(relative: str) -> str:
    """The layer a path under src/ belongs to: "terminal/<part>" inside the
    terminal, else the top folder ("link/platform" is part of "link")."""
    parts = relative.split("/")
    if parts[0] == "terminal":
        return "/".join(parts[:2]) if len(parts) > 2 else "terminal"
    return parts[0] if len(parts) > 1 else ""


def arrows(src: Path) -> Dict[Tuple[str, str], List[str]]:
    """Every include between two folders, with the lines that make it."""
    found: Dict[Tuple[str, str], List[str]] = {}
    for path in sorted(src.rglob("*")):
        if path.suffix not in SOURCE_SUFFIXES:
            continue
        relative = path.relative_to(src).as_posix()
        source = folder_of(relative)
        for target in INCLUDE.findall(path.read_text(encoding="utf-8")):
            destination = folder_of(target)
            if destination and destination != source:
                found.setdefault((source, destination), []).append(f"{relative} -> {target}")
    return found


def layer_faults(src: Path) -> List[str]:
    faults = []
    for (source, destination), lines in sorted(arrows(src).items()):
        if source not in ALLOWED:
            faults.append(f"{source} is no known folder: {lines[0]}")
        elif destination not in ALLOWED[source]:
            faults.append(f"{source} may not include {destination}: {lines[0]}")
    return faults


def circles(src: Path) -> List[List[str]]:
    """The circles of the folder graph, each once, from its smallest name."""
    graph: Dict[str, Set[str]] = {}
    for source, destination in arrows(src):
        graph.setdefault(source, set()).add(destination)
    found: List[List[str]] = []

    def walk(path: List[str]) -> None:
        for step in sorted(graph.get(path[-1], ())):
            if step == path[0]:
                found.append(list(path))
            elif step not in path and step > path[0]:
                walk(path + [step])

    for start in sorted(graph):
        walk([start])
    return found


def test_includes_follow_the_layers() -> None:
    assert layer_faults(SRC) == []


def test_folders_form_no_circle() -> None:
    assert circles(SRC) == []


def test_no_source_directly_in_the_terminal_folder() -> None:
    loose = [p.name for p in (SRC / "terminal").iterdir()
             if p.is_file() and p.suffix in SOURCE_SUFFIXES]
    assert loose == []


def test_every_source_says_what_it_is_for() -> None:
    silent = [p.relative_to(SRC).as_posix() for p in sorted(SRC.rglob("*"))
              if p.suffix in SOURCE_SUFFIXES
              and not p.read_text(encoding="utf-8").startswith("//")]
    assert silent == []


def write(root: Path, relative: str, *includes: str) -> None:
    path = root / relative
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("// a file\n" + "".join(f'#include "{i}"\n' for i in includes))


@pytest.mark.parametrize("files, fault", [
    ({"wire/a.h": ["link/b.h"], "link/b.h": []}, "wire may not include link"),
    ({"terminal/market/a.cpp": ["terminal/engine/b.h"], "terminal/engine/b.h": []},
     "terminal/market may not include terminal/engine"),
    ({"terminal/storage/a.cpp": ["terminal/engine/state.h"]},
     "terminal/storage may not include terminal/engine"),
    ({"terminal/loose.cpp": ["wire/a.h"]}, "terminal is no known folder"),
    ({"tools/x.cpp": ["wire/a.h"]}, "tools is no known folder"),
])
def test_a_wrong_arrow_is_caught(tmp_path: Path, files: Dict[str, List[str]],
                                 fault: str) -> None:
    for relative, includes in files.items():
        write(tmp_path, relative, *includes)
    faults = layer_faults(tmp_path)
    assert len(faults) == 1 and faults[0].startswith(fault), faults


def test_a_circle_is_caught(tmp_path: Path) -> None:
    write(tmp_path, "terminal/engine/a.cpp", "terminal/storage/b.h")
    write(tmp_path, "terminal/storage/b.cpp", "terminal/market/c.h")
    write(tmp_path, "terminal/market/c.cpp", "terminal/engine/a.h")
    write(tmp_path, "wire/d.h", "wire/e.h")  # within one folder: no arrow
    assert circles(tmp_path) == [["terminal/engine", "terminal/storage", "terminal/market"]]
