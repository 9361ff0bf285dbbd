"""libUtilities from Python: segmented files, name images, equations to ROM
contents, rule expressions and primes.

>>> import utilities
>>> utilities.rom_hex("O = A0 * A1", ["A0", "A1"])
'8'

Failures raise the exceptions of :mod:`utilities.errors`; the converter's
warnings are :class:`EquationWarning` warnings.  Paths may be ``str`` or
``os.PathLike``.  File and long work runs without the GIL; separate objects
may be used from separate threads.
"""

from __future__ import annotations

import os
import warnings
from collections.abc import Iterable, Iterator, Mapping
from typing import Literal, NamedTuple, Union

from . import _core, errors
from .errors import (
    DivisionByZeroError,
    EquationError,
    EquationWarning,
    Error,
    ExpressionError,
    FileError,
    FormatError,
    InputError,
    IntegerOverflowError,
)

__version__: str = _core.VERSION

__all__ = [
    "Segment",
    "Versions",
    "SegmentedFile",
    "SegmentedFileWriter",
    "read_names",
    "write_names",
    "rom_hex",
    "rom_equation",
    "rom_check",
    "Expression",
    "is_prime",
    "next_prime",
    "prev_prime",
    "primes",
    *errors.__all__,
]

PathLike = Union[str, "os.PathLike[str]"]

_UINT64_MAX = (1 << 64) - 1


def _path(path: PathLike) -> str:
    return os.fsdecode(os.fspath(path))


# ---- segmented files --------------------------------------------------------


class Segment(NamedTuple):
    """One entry of a segmented file's directory."""

    name: str
    size: int
    type: int
    data: int
    offset: int


class Versions(NamedTuple):
    """The four version bytes of a segmented file."""

    version: int
    revision: int
    data_version: int
    data_revision: int


class SegmentedFile:
    """A segmented file opened for reading.

    >>> with SegmentedFile("design.seg") as f:       # doctest: +SKIP
    ...     for seg in f:                            # the directory, in file order
    ...         print(seg.name, seg.size)
    ...     netlist = f["netlist"]                   # a segment's bytes

    Raises :class:`FileError` for a file that cannot be read and
    :class:`FormatError` for one that is not a segmented file.
    """

    def __init__(self, path: PathLike) -> None:
        self.path = _path(path)
        self._file = _core.SegmentReader(self.path)
        self._directory: list[Segment] | None = None

    def __enter__(self) -> SegmentedFile:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> None:
        """Releases the file; reading afterwards raises :class:`InputError`."""
        self._file.close()

    @property
    def versions(self) -> Versions:
        """The file's format version and revision, and the data version and revision its writer set."""
        return Versions(*self._file.versions())

    @property
    def segments(self) -> list[Segment]:
        """The directory, in file order (read once, when first asked for)."""
        if self._directory is None:
            self._directory = [tuple.__new__(Segment, entry) for entry in self._file.directory()]
        return self._directory

    def __iter__(self) -> Iterator[Segment]:
        return iter(self.segments)

    def __len__(self) -> int:
        return len(self.segments)

    def __contains__(self, name: object) -> bool:
        return isinstance(name, str) and self._file.contains(name)

    def __getitem__(self, name: str) -> bytes:
        """The bytes of the segment called *name*; :class:`KeyError` when there is none."""
        return self._file.read(name)

    def read(self, name: str) -> bytes:
        """The bytes of the segment called *name*, as ``f[name]``."""
        return self._file.read(name)

    def items(self) -> list[tuple[str, bytes]]:
        """Every segment's name and bytes, in file order, read in one pass."""
        return self._file.items()

    def keys(self) -> list[str]:
        """The segments' names, in file order."""
        return [segment.name for segment in self.segments]

    def __repr__(self) -> str:
        return f"SegmentedFile({self.path!r}, {len(self)} segments)"


class SegmentedFileWriter:
    """Writes a new segmented file in place of *path*, as ``utiltool`` does.

    The segments go to a file beside *path*; leaving the ``with`` block
    normally syncs that file and renames it over *path*.  When the block
    raises, *path* keeps its old bytes and nothing is left beside it.

    >>> with SegmentedFileWriter("design.seg") as w:  # doctest: +SKIP
    ...     w.add("netlist", b"...")
    """

    def __init__(self, path: PathLike, *, data_version: int = 0, data_revision: int = 0) -> None:
        self.path = _path(path)
        self._writer = _core.SegmentWriter(self.path, data_version, data_revision)

    def __enter__(self) -> SegmentedFileWriter:
        return self

    def __exit__(self, exc_type: object, exc: object, tb: object) -> None:
        if exc_type is None:
            self.commit()
        else:
            self.abandon()

    def add(self, name: str, data: bytes | bytearray | memoryview, *, type: int = 0, value: int = 0) -> None:
        """Adds a segment of the bytes of *data* (any contiguous buffer), with its type and data words."""
        self._writer.add(name, data, type, value)

    def commit(self) -> None:
        """Puts the new file in place of the old one (``with`` does this on a normal exit)."""
        self._writer.commit()

    def abandon(self) -> None:
        """Drops the new file; the old one stays as it was."""
        self._writer.abandon()


# ---- name images ------------------------------------------------------------


def read_names(path: PathLike) -> dict[str, int]:
    """The names of a saved name-cache image, each with its reference count, in ascending order."""
    return dict(_core.read_names(_path(path)))


def write_names(
    path: PathLike, names: Mapping[str, int] | Iterable[str], *, kind: Literal["tree", "map"] = "tree"
) -> None:
    """Saves an image of *names*: a mapping of name to count, or an iterable of names (a
    name given k times gets k references).  *kind* chooses the cache that writes it, the
    tree cache or the map cache; either reads what the other wrote.  *path* is replaced
    as :class:`SegmentedFileWriter` replaces a file."""
    if isinstance(names, Mapping):
        pairs = list(names.items())
    else:
        counts: dict[str, int] = {}
        for name in names:
            counts[name] = counts.get(name, 0) + 1
        pairs = list(counts.items())
    _core.write_names(_path(path), pairs, kind)


# ---- equations and ROM contents --------------------------------------------


def _equation(mode: str, text: str, lines: Iterable[str], lhs: str, attribute: bool) -> str:
    result, warning = _core.equation(mode, text, list(lines), lhs, attribute)
    if warning is not None:
        warnings.warn(warning, EquationWarning, stacklevel=3)
    return result


def rom_hex(equation: str, lines: Iterable[str], *, lhs: str = "O", attribute: bool = False) -> str:
    """The hexadecimal ROM contents of *equation* over the address *lines* (2 to 6 names, A0 first).

    With *attribute*, the attribute form: case-sensitive names and ``LHS=0x...`` texts."""
    return _equation("hex", equation, lines, lhs, attribute)


def rom_equation(contents: str, lines: Iterable[str], *, lhs: str = "O", attribute: bool = False) -> str:
    """The equation of the hexadecimal ROM *contents* over the address *lines*."""
    return _equation("eqn", contents, lines, lhs, attribute)


def rom_check(equation: str, lines: Iterable[str], *, lhs: str = "O", attribute: bool = False) -> None:
    """Checks *equation*; raises :class:`EquationError` with the converter's message when it is refused."""
    _equation("check", equation, lines, lhs, attribute)


# ---- expressions ------------------------------------------------------------

# Made in C++ whole, calls included: an evaluation is a few hundred
# nanoseconds, where a Python-level call would add a third.
Expression = _core.Expression
Expression.__module__ = __name__


# ---- primes -----------------------------------------------------------------


def _uint64(n: int) -> int:
    n = int(n)
    if n < 0 or n > _UINT64_MAX:
        raise IntegerOverflowError(f"{n} is not a 64-bit unsigned number")
    return n


def is_prime(n: int) -> bool:
    """Whether *n* is prime: exact for every number from 0 to 2**64 - 1."""
    return _core.is_prime(_uint64(n))


def next_prime(n: int) -> int:
    """The least prime >= *n*, or 0 above the largest 64-bit prime."""
    return _core.next_prime(_uint64(n))


def prev_prime(n: int) -> int:
    """The greatest prime <= *n*, or 0 below 2."""
    return _core.prev_prime(_uint64(n))


def primes(start: int, stop: int) -> Iterator[int]:
    """The primes from *start* to *stop* inclusive, ascending, computed a piece at a time as they are taken."""
    lo, hi = sorted((_uint64(start), _uint64(stop)))
    while True:
        to = _core.piece_end(lo, hi)
        yield from _core.primes_piece(lo, to)
        if to == hi:
            return
        lo = to + 1
