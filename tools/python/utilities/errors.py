"""The exceptions of the utilities package.

Every report of the library becomes one of these, with the library's own
message.  Each derives from :class:`Error`, so ``except utilities.Error``
catches them all, and from the built-in exception that fits, so
``except ValueError`` (or ``OSError``, ``ZeroDivisionError``,
``OverflowError``) catches them too.
"""

from __future__ import annotations

__all__ = [
    "Error",
    "FormatError",
    "InputError",
    "FileError",
    "ExpressionError",
    "DivisionByZeroError",
    "IntegerOverflowError",
    "EquationError",
    "EquationWarning",
]


class Error(Exception):
    """Base class of every exception the library raises."""


class FormatError(Error, ValueError):
    """A file that is not what it should be: corrupt, truncated, or another format."""


class InputError(Error, ValueError):
    """An argument the library refuses: a name too long, a count out of range, a closed file."""


class FileError(Error, OSError):
    """A file that cannot be opened, written or replaced; ``errno`` and ``filename`` say which and why."""


class ExpressionError(InputError):
    """An expression that cannot be evaluated: a parser error, an undefined variable."""


class DivisionByZeroError(Error, ZeroDivisionError):
    """An expression that divides by zero."""


class IntegerOverflowError(Error, OverflowError):
    """An expression whose value, or a variable's, leaves its integer type."""


class EquationError(InputError):
    """An equation or ROM contents that the converter refuses."""


class EquationWarning(UserWarning):
    """What the converter warns of while still giving a result."""
