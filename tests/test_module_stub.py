"""The typed stub describes the module as it is."""

from __future__ import annotations

import ast
from pathlib import Path

import quillmark
from quillmark import _core

STUB = Path(quillmark.__file__).with_name("_core.pyi")


def stub_tree() -> ast.Module:
    return ast.parse(STUB.read_text(encoding="utf-8"))


def test_stub_and_marker_are_installed() -> None:
    assert STUB.is_file()
    assert STUB.with_name("py.typed").is_file()


def test_stub_declares_every_function() -> None:
    declared = {node.name for node in stub_tree().body if isinstance(node, ast.FunctionDef)}
    functions = {name for name, value in vars(_core).items() if callable(value)}
    functions -= {name for name, value in vars(_core).items() if isinstance(value, type)}
    assert declared == functions


def test_stub_records_list_the_fields_in_order() -> None:
    classes = [node for node in stub_tree().body if isinstance(node, ast.ClassDef)]
    assert {node.name for node in classes} == {
        name for name, value in vars(_core).items() if isinstance(value, type)
    }
    for node in classes:
        properties = [
            item.name
            for item in node.body
            if isinstance(item, ast.FunctionDef) and not item.name.startswith("_")
        ]
        assert properties == list(getattr(_core, node.name)(range(len(properties)))._asdict())
