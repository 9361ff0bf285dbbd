"""The Python module against utiltool and its own promises: files round trip
byte for byte, every failure is the documented exception, nothing is printed."""

from __future__ import annotations

import inspect
import os
import pathlib
import re
import subprocess
import threading
import warnings

import pytest

import utilities as u

UTILTOOL = os.environ["UTILTOOL"].split()  # may start with an emulator
SOURCE = pathlib.Path(__file__).resolve().parents[2]
CORPUS = SOURCE / "fuzz" / "corpus"


def tool(*args: str | os.PathLike[str], stdin: bytes = b"") -> bytes:
    return subprocess.run([*UTILTOOL, *map(str, args)], input=stdin, capture_output=True, check=True).stdout


@pytest.fixture(autouse=True)
def silent(capfd):
    """No report of the library is printed behind the script's back."""
    yield
    out, err = capfd.readouterr()
    assert (out, err) == ("", "")


SEGMENTS = [("netlist", b"\x00\x01" * 300, 0, 0), ("pins", b"clk reset_n", 2, 7), ("empty", b"", 0, 0)]


def write_with_module(path: pathlib.Path) -> None:
    with u.SegmentedFileWriter(path) as w:
        for name, data, kind, value in SEGMENTS:
            w.add(name, memoryview(data), type=kind, value=value)


# ---- segmented files ----------------------------------------------------------


def test_a_file_written_by_the_module_is_the_tools_byte_for_byte(tmp_path):
    write_with_module(tmp_path / "module.seg")
    tool("segfile", "new", tmp_path / "tool.seg")
    for name, data, _, _ in SEGMENTS:
        tool("segfile", "put", tmp_path / "tool.seg", name, "-", stdin=data)
    # The tool gives added segments type and data 0: compare those files whose segments agree.
    with u.SegmentedFile(tmp_path / "tool.seg") as f:
        assert [(s.name, f[s.name]) for s in f] == [(n, d) for n, d, _, _ in SEGMENTS]
    for name, data, _, _ in SEGMENTS:
        assert tool("segfile", "get", tmp_path / "module.seg", name) == data
    listing = tool("segfile", "ls", tmp_path / "module.seg").decode()
    assert "pins                     offset 728        size 11         type 2      data 7" in listing


def test_files_of_the_same_segments_are_the_same_bytes(tmp_path):
    with u.SegmentedFileWriter(tmp_path / "module.seg") as w:
        w.add("a", b"first")
        w.add("b", bytearray(b"second"))
    tool("segfile", "new", tmp_path / "tool.seg")
    tool("segfile", "put", tmp_path / "tool.seg", "a", "-", stdin=b"first")
    tool("segfile", "put", tmp_path / "tool.seg", "b", "-", stdin=b"second")
    assert (tmp_path / "module.seg").read_bytes() == (tmp_path / "tool.seg").read_bytes()


def test_the_directory_and_versions_read_as_the_tool_lists_them(tmp_path):
    with u.SegmentedFileWriter(tmp_path / "v.seg", data_version=3, data_revision=9) as w:
        w.add("x", b"12345")
    with u.SegmentedFile(tmp_path / "v.seg") as f:
        assert f.versions == u.Versions(2, 0, 3, 9)
        assert list(f) == [u.Segment("x", 5, 0, 0, 128)]
        assert "x" in f and "y" not in f and len(f) == 1
        assert f.items() == [("x", b"12345")] and f.keys() == ["x"]
        with pytest.raises(KeyError):
            f["y"]
    assert tool("segfile", "ls", tmp_path / "v.seg").decode().startswith("version 2.0, data version 3.9, 1 segments")


def test_a_writer_left_by_an_exception_keeps_the_old_file_and_leaves_nothing(tmp_path):
    target = tmp_path / "keep.seg"
    write_with_module(target)
    before = target.read_bytes()
    with pytest.raises(RuntimeError):
        with u.SegmentedFileWriter(target) as w:
            w.add("new", b"data")
            raise RuntimeError("the script fails")
    assert target.read_bytes() == before
    assert sorted(p.name for p in tmp_path.iterdir()) == ["keep.seg"]


def test_a_refused_segment_keeps_the_old_file(tmp_path):
    target = tmp_path / "keep.seg"
    write_with_module(target)
    before = target.read_bytes()
    with pytest.raises(u.InputError):
        with u.SegmentedFileWriter(target) as w:
            w.add("n" * 300, b"a name longer than the directory holds")
    assert target.read_bytes() == before
    assert sorted(p.name for p in tmp_path.iterdir()) == ["keep.seg"]


def test_files_that_cannot_be_read_are_os_errors(tmp_path):
    with pytest.raises(u.FileError) as missing:
        u.SegmentedFile(tmp_path / "absent.seg")
    assert isinstance(missing.value, FileNotFoundError) or missing.value.errno == 2
    assert missing.value.filename == str(tmp_path / "absent.seg")
    with pytest.raises(OSError) as directory:
        u.read_names(tmp_path)
    assert directory.value.errno == 21
    with pytest.raises(u.FileError):
        u.SegmentedFileWriter(tmp_path / "no" / "such" / "dir.seg")


def every_truncation(path: pathlib.Path, out: pathlib.Path):
    data = path.read_bytes()
    for n in range(0, len(data), max(1, len(data) // 64)):
        out.write_bytes(data[:n])
        yield out


def test_corrupt_and_truncated_files_are_refused_as_format_errors(tmp_path):
    write_with_module(tmp_path / "good.seg")
    u.write_names(tmp_path / "good.names", ["a/b", "a/c", "d"])
    cases = [(u.SegmentedFile, p) for p in sorted((CORPUS / "segfile").iterdir())]
    cases += [(u.read_names, p) for p in sorted((CORPUS / "name_image").iterdir())]
    for opener, path in cases:
        try:
            result = opener(path)
            if isinstance(result, u.SegmentedFile):
                for segment in result:
                    result[segment.name]
        except u.FormatError:
            pass
    for path in every_truncation(tmp_path / "good.seg", tmp_path / "cut.seg"):
        with pytest.raises(u.FormatError):
            u.SegmentedFile(path)
    for path in every_truncation(tmp_path / "good.names", tmp_path / "cut.names"):
        with pytest.raises(ValueError):
            u.read_names(path)


def test_a_strided_buffer_is_refused_not_written_as_a_run(tmp_path):
    with pytest.raises(u.InputError, match="contiguous"):
        with u.SegmentedFileWriter(tmp_path / "s.seg") as w:
            w.add("every_other", memoryview(b"abcdef")[::2])
    assert not (tmp_path / "s.seg").exists()


def test_a_closed_file_refuses_to_read(tmp_path):
    write_with_module(tmp_path / "f.seg")
    f = u.SegmentedFile(tmp_path / "f.seg")
    f.close()
    with pytest.raises(u.InputError):
        f["pins"]


def test_separate_files_in_separate_threads(tmp_path):
    errors = []

    def work(i: int) -> None:
        try:
            path = tmp_path / f"t{i}.seg"
            for _ in range(30):
                with u.SegmentedFileWriter(path) as w:
                    w.add("me", str(i).encode() * 1000)
                with u.SegmentedFile(path) as f:
                    assert f["me"] == str(i).encode() * 1000
            with pytest.raises(u.FormatError):
                u.read_names(path)
        except Exception as e:  # noqa: BLE001 - handed to the main thread
            errors.append(e)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


# ---- name images ----------------------------------------------------------------


@pytest.mark.parametrize("kind", ["tree", "map"])
def test_name_images_round_trip_through_the_tool(tmp_path, kind):
    names = {"top/u_core/n1": 3, "top/u_core/n2": 1, "clk": 2}
    u.write_names(tmp_path / "m.names", names, kind=kind)
    assert tool("names", tmp_path / "m.names").decode() == "2\tclk\n3\ttop/u_core/n1\n1\ttop/u_core/n2\n"
    tool("names", "--save", tmp_path / "t.names", "clk", "x", "clk")
    assert u.read_names(tmp_path / "t.names") == {"clk": 2, "x": 1}
    u.write_names(tmp_path / "again.names", ["clk", "x", "clk"], kind=kind)
    assert (tmp_path / "again.names").read_bytes() == (tmp_path / "t.names").read_bytes()


def test_names_the_image_cannot_hold_are_refused(tmp_path):
    with pytest.raises(u.InputError, match="at most 2047"):
        u.write_names(tmp_path / "n", ["x" * 2048])
    with pytest.raises(ValueError):
        u.write_names(tmp_path / "n", {"x": 0})
    with pytest.raises(ValueError):
        u.write_names(tmp_path / "n", ["a\0b"])
    assert not (tmp_path / "n").exists()


# ---- equations --------------------------------------------------------------------


def test_equations_agree_with_the_tool():
    lines = ["A0", "A1", "A2"]
    assert u.rom_hex("O = A0*~A1 + A2", lines) == tool("rom", "hex", "O = A0*~A1 + A2", "--lines=A0,A1,A2").decode().strip()
    assert u.rom_equation("F2", lines) == tool("rom", "eqn", "F2", "--lines=A0,A1,A2").decode().strip()
    assert u.rom_hex("X = A0", ["A0", "A1"], lhs="X", attribute=True) == "X=0xA"
    u.rom_check("O = A0 * A1", ["A0", "A1"])


def test_equation_warnings_are_python_warnings_and_refusals_exceptions():
    with pytest.warns(u.EquationWarning):
        assert u.rom_equation("1E", ["A0", "A1"]) == "O = A0*~A1 + ~A0*A1 + A0*A1"
    with pytest.raises(u.EquationError):
        u.rom_hex("O = A0 * B7", ["A0", "A1"])
    with pytest.raises(u.EquationError, match="2 to 6"):
        u.rom_hex("O = A0", ["A0"])


# ---- expressions --------------------------------------------------------------------


def test_expressions_evaluate_with_keywords_or_a_mapping():
    e = u.Expression("a + b * c")
    assert e(a=1, b=2, c=3) == 7 and e({"a": 1, "b": 2}, c=0) == 1
    assert u.Expression("a * !b", type="bool")(a=True, b=False) is True
    assert u.Expression("x * 2", type="int64")(x=2**62) == -(2**63)  # int64 wraps


def test_a_call_sees_only_its_own_variables():
    e = u.Expression("a + b")
    assert e(a=1, b=2) == 3 and e(b=5, a=1) == 6 and e({"a": 1}, b=9) == 10
    with pytest.raises(u.ExpressionError):
        e(a=1)  # b from an earlier call is not kept
    assert e({"a": 1, "b": 1}, b=4) == 5  # a keyword wins over the mapping
    with pytest.raises(u.InputError):
        e(a=1, b="2")
    assert e(a=1, b=2) == 3


@pytest.mark.parametrize(
    "text, kind, variables, error, builtin",
    [
        ("1 / 0", "int32", {}, u.DivisionByZeroError, ZeroDivisionError),
        ("a * 2", "int16", {"a": 20000}, u.IntegerOverflowError, OverflowError),
        ("a", "int16", {"a": 40000}, u.IntegerOverflowError, OverflowError),
        ("a +", "int32", {"a": 1}, u.ExpressionError, ValueError),
        ("a + b", "int32", {"a": 1}, u.ExpressionError, ValueError),
        ("a", "int32", {}, u.ExpressionError, ValueError),
    ],
)
def test_expression_failures_are_their_exceptions(text, kind, variables, error, builtin):
    with pytest.raises(error) as raised:
        u.Expression(text, type=kind)(variables)
    assert isinstance(raised.value, builtin) and isinstance(raised.value, u.Error)
    assert str(raised.value)


# ---- primes -------------------------------------------------------------------------------


def test_primes_are_exact_over_64_bits_as_the_tool():
    for n in (0, 1, 2, 97, 2**61 - 1, 2**64 - 59, 2**64 - 1, 3215031751):
        expected = tool_prime("is", n)
        assert u.is_prime(n) == (expected == "prime"), n
    assert u.next_prime(2**64 - 58) == 0 and u.prev_prime(1) == 0
    assert u.next_prime(2**40) == int(tool_prime("next", 2**40))
    assert list(u.primes(2**40, 2**40 + 200)) == [int(v) for v in tool_prime("range", 2**40, 2**40 + 200).split()]
    with pytest.raises(OverflowError):
        u.is_prime(2**64)


def tool_prime(*args: object) -> str:
    result = subprocess.run([*UTILTOOL, "prime", *map(str, args)], capture_output=True)
    return result.stdout.decode().strip()


def test_primes_are_lazy():
    it = u.primes(0, 2**64 - 1)
    assert [next(it) for _ in range(5)] == [2, 3, 5, 7, 11]


# ---- conventions ------------------------------------------------------------------------------


def test_every_public_name_has_help_and_stubs_ship():
    for name in u.__all__:
        obj = getattr(u, name)
        assert inspect.getdoc(obj), name
    assert re.fullmatch(r"\d+\.\d+\.\d+", u.__version__)
    package = pathlib.Path(u.__file__).parent
    assert (package / "py.typed").exists() and (package / "_core.pyi").exists()


def test_the_documented_examples_run(tmp_path, monkeypatch, capfd):
    text = (SOURCE / "docs" / "python.md").read_text()
    blocks = re.findall(r"```python\n(.*?)```", text, re.S)
    assert blocks
    monkeypatch.chdir(tmp_path)
    for block in blocks:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", u.EquationWarning)
            exec(compile(block, "docs/python.md", "exec"), {})
    capfd.readouterr()  # what the examples print is theirs
