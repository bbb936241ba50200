import quillmark


def test_last_error_right_after_import() -> None:
    assert quillmark._core.__doc__ == "API Connector to Quillmark Terminal"
