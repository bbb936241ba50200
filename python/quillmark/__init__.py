"""Drive a Quillmark trading terminal from Python."""

from ._core import *  # noqa: F401,F403
from ._core import last_error  # noqa: F401
