"""Assembles the Windows wheel of the package from a cross build: the
extension, the Python package and the bundled terminal, with the metadata
and RECORD that pip checks.

    make_wheel.py --root DIR --tag cp311 --extension PYD --terminal EXE --out DIR
"""

from __future__ import annotations

import argparse
import base64
import hashlib
import tomllib
import zipfile
from pathlib import Path
from typing import List, Tuple


def record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def metadata(project: dict, readme: str) -> str:
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {project['version']}",
        f"Summary: {project['description']}",
        f"License: {project['license']['text']}",
        f"Requires-Python: {project['requires-python']}",
    ]
    lines += [f"Requires-Dist: {dependency}" for dependency in project["dependencies"]]
    for extra, dependencies in project.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        lines += [f'Requires-Dist: {d}; extra == "{extra}"' for d in dependencies]
    lines.append("Description-Content-Type: text/markdown")
    return "\n".join(lines) + "\n\n" + readme


def wheel_file(tag: str) -> str:
    return (
        "Wheel-Version: 1.0\n"
        "Generator: quillmark make_wheel.py\n"
        "Root-Is-Purelib: false\n"
        f"Tag: {tag}-{tag}-win_amd64\n"
    )


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", type=Path, required=True)
    parser.add_argument("--tag", required=True)
    parser.add_argument("--extension", type=Path, required=True)
    parser.add_argument("--terminal", type=Path, required=True)
    parser.add_argument("--out", type=Path, required=True)
    args = parser.parse_args()

    project = tomllib.loads((args.root / "pyproject.toml").read_text())["project"]
    name, version = project["name"], project["version"]
    package = args.root / "python" / name
    files: List[Tuple[str, bytes]] = []
    for path in sorted(package.rglob("*")):
        if path.is_file() and "__pycache__" not in path.parts:
            files.append((f"{name}/{path.relative_to(package).as_posix()}", path.read_bytes()))
    files.append((f"{name}/{args.extension.name}", args.extension.read_bytes()))
    files.append((f"{name}/bin/terminal64.exe", args.terminal.read_bytes()))

    dist_info = f"{name}-{version}.dist-info"
    readme = (args.root / project["readme"]).read_text()
    files.append((f"{dist_info}/METADATA", metadata(project, readme).encode()))
    files.append((f"{dist_info}/WHEEL", wheel_file(args.tag).encode()))
    record = [record_line(file_name, data) for file_name, data in files]
    record.append(f"{dist_info}/RECORD,,")

    args.out.mkdir(parents=True, exist_ok=True)
    target = args.out / f"{name}-{version}-{args.tag}-{args.tag}-win_amd64.whl"
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as wheel:
        for file_name, data in files:
            wheel.writestr(file_name, data)
        wheel.writestr(f"{dist_info}/RECORD", "\n".join(record) + "\n")
    print(f"built {target.name}")


if __name__ == "__main__":
    main()
