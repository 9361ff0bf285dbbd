// core.cpp - utilities._core, the compiled half of the Python module: thin
// calls of the library, with every report of it turned into a Failure that
// the package's __init__ raises as its own exception. The Pythonic face
// (context managers, mappings, generators, warnings) is in __init__.py.
#include "ExactPrime.h"
#include "NameImageFile.h"
#include "Replacement.h"
#include "Rom.h"

#include <UtilCname.h>
#include <UtilEquate.h>
#include <UtilExpression.h>
#include <UtilIfile.h>
#include <UtilNameCache.h>
#include <UtilPrime.h>
#include <UtilPtrfile.h>

#include <PortMsg.h>
#include <PortStream.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace py = pybind11;

namespace {

// ---- reports ---------------------------------------------------------------

// Which of the package's exceptions a failure becomes (errors.py has the
// same names).
enum class Kind { Format, Input, File, Expression, ZeroDivision, Overflow, Equation };

const char* kindName(Kind k) {
    switch (k) {
    case Kind::Format:
        return "FormatError";
    case Kind::Input:
        return "InputError";
    case Kind::File:
        return "FileError";
    case Kind::Expression:
        return "ExpressionError";
    case Kind::ZeroDivision:
        return "DivisionByZeroError";
    case Kind::Overflow:
        return "IntegerOverflowError";
    case Kind::Equation:
        return "EquationError";
    }
    return "Error";
}

struct Failure {
    Failure(Kind k, std::string text, int err = 0, std::string file = {})
        : kind(k), message(std::move(text)), error(err), filename(std::move(file)) {}

    Kind kind;
    std::string message;
    int error;             // errno, for Kind::File
    std::string filename;  // for Kind::File
};

// The reports of the library during one call on this thread. One sink,
// installed at import, hands each report to the capture of the thread that
// made it, so that calls from several Python threads (each without the GIL)
// keep their reports apart and none is printed.
struct Capture;
thread_local Capture* tCapture = nullptr;
Port::MsgSink gPrevious;

struct Capture {
    Capture() : outer_(std::exchange(tCapture, this)) {}
    ~Capture() { tCapture = outer_; }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // The text of the last error or fatal report, without its newline.
    std::string lastError(const char* otherwise) const {
        for (auto m = messages.rbegin(); m != messages.rend(); ++m)
            if (m->kind == Port::MsgKind::Error || m->kind == Port::MsgKind::Fatal)
                return trimmed(m->text);
        return otherwise;
    }
    static std::string trimmed(std::string text) {
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        return text;
    }

    std::vector<Port::Message> messages;

private:
    Capture* outer_;
};

void moduleSink(const Port::Message& m) {
    if (tCapture)
        tCapture->messages.push_back(m);
    else if (gPrevious)
        gPrevious(m);
    else
        Port::defaultMsgSink(m);
}

// Runs `work` without the GIL, under a capture; a fatal report or an
// exception of the library becomes a Failure of `kind`.
template <class Work>
auto unlocked(Kind kind, Work work) {
    Capture capture;
    try {
        py::gil_scoped_release released;
        return work(capture);
    } catch (const Port::FatalError& e) {
        throw Failure{kind, Capture::trimmed(e.getMessage())};
    }
}

[[noreturn]] void fileFailure(int error, const std::string& path) {
    throw Failure{Kind::File, std::strerror(error), error, path};
}

// A path the library may open for reading: an OSError-style failure for one
// that does not exist, cannot be read or is a directory.
void checkReadable(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        fileFailure(errno, path);
    if (S_ISDIR(st.st_mode))
        fileFailure(EISDIR, path);
    if (::access(path.c_str(), R_OK) != 0)
        fileFailure(errno, path);
}

// ---- segmented files -------------------------------------------------------

using SegmentEntry = std::tuple<std::string, int, int, int, int64_t>;  // name, size, type, data, offset

// Segments this large or larger are read without the GIL; smaller reads
// cost less than giving the GIL up and taking it back.
constexpr std::size_t kReleaseAbove = std::size_t{1} << 16;

class SegmentReader {
public:
    explicit SegmentReader(const std::string& path) : path_(path) {
        checkReadable(path);
        unlocked(Kind::Format, [&](Capture& c) {
            if (!file_.load(path.c_str()))
                throw Failure{Kind::Format, c.lastError("not a segmented file")};
            return 0;
        });
        open_ = true;
    }
    ~SegmentReader() { close(); }

    // (name, size, type, data, offset) per segment, in file order.
    std::vector<SegmentEntry> directory() {
        live();
        std::vector<SegmentEntry> out;
        Capture capture;
        UT_IFILESEGINFO info;
        for (int i = 0; file_.getseginfo(i, info); ++i) {
            Port::Stream* s = file_.getdataseg(info.getname(), -1, nullptr);
            const int64_t offset = s ? s->getfoffset() : -1;
            file_.enddataseg();
            out.emplace_back(info.getname(), info.getsize(), info.gettype(), info.getdata(), offset);
        }
        return out;
    }
    py::tuple versions() const {
        live();
        return py::make_tuple(file_.getversion(), file_.getrevision(), file_.getdataversion(), file_.getdatarevision());
    }
    bool contains(const std::string& name) {
        live();
        Capture capture;
        UT_IFILESEGINFO info;
        return file_.getseginfo(const_cast<char*>(name.c_str()), info) != 0;
    }

    py::bytes read(const std::string& name) {
        live();
        Capture capture;
        UT_IFILESEGINFO info;
        Port::Stream* s = file_.getdataseg(const_cast<char*>(name.c_str()), -1, &info);
        if (!s) {
            file_.enddataseg();
            throw py::key_error(name);
        }
        py::bytes out = fill(s, name, static_cast<std::size_t>(info.getsize()), capture);
        file_.enddataseg();
        return out;
    }

    // (name, bytes) per segment, in file order: the whole file in one call.
    py::list items() {
        live();
        Capture capture;
        py::list out;
        UT_IFILESEGINFO info;
        for (int i = 0; file_.getseginfo(i, info); ++i) {
            const std::string name = info.getname();
            Port::Stream* s = file_.getdataseg(const_cast<char*>(name.c_str()), -1, nullptr);
            if (!s) {
                file_.enddataseg();
                throw Failure{Kind::Format, capture.lastError(("segment '" + name + "' cannot be read").c_str())};
            }
            py::bytes data = fill(s, name, static_cast<std::size_t>(info.getsize()), capture);
            file_.enddataseg();
            out.append(py::make_tuple(name, std::move(data)));
        }
        return out;
    }

    void close() {
        if (!open_)
            return;
        open_ = false;
        Capture quiet;  // an unload after reading reports nothing worth raising
        file_.unload();
    }

private:
    void live() const {
        if (!open_)
            throw Failure{Kind::Input, "the segmented file '" + path_ + "' is closed"};
    }

    // The segment's `size` bytes from `s`, read into a new bytes object.
    py::bytes fill(Port::Stream* s, const std::string& name, std::size_t size, const Capture& capture) {
        // Filled in place: the bytes object is nobody else's until returned.
        py::bytes out(nullptr, size);
        char* buffer = PyBytes_AS_STRING(out.ptr());
        bool ok;
        if (size >= kReleaseAbove) {
            py::gil_scoped_release released;
            ok = s->readbytes(buffer, size);
        } else {
            ok = s->readbytes(buffer, size);
        }
        if (!ok) {
            file_.enddataseg();
            throw Failure{Kind::Format, capture.lastError(("segment '" + name + "' is cut short").c_str())};
        }
        return out;
    }

    std::string path_;
    UT_IFILE file_;
    bool open_ = false;
};

class SegmentWriter {
public:
    SegmentWriter(const std::string& path, int dataVersion, int dataRevision) : path_(path), replacement_(path) {
        if (replacement_.path().empty())
            fileFailure(replacement_.error(), path);
        if (dataVersion < 0 || dataVersion > 255 || dataRevision < 0 || dataRevision > 255)
            throw Failure{Kind::Input, "data version and revision are bytes, 0 to 255"};
        unlocked(Kind::Format, [&](Capture& c) {
            if (!file_.create(replacement_.path().c_str())) {
                file_.unload();
                throw Failure{Kind::File, c.lastError("cannot create the new file"), EIO, path_};
            }
            return 0;
        });
        file_.setdataversion(static_cast<unsigned char>(dataVersion));
        file_.setdatarevision(static_cast<unsigned char>(dataRevision));
        open_ = true;
    }
    ~SegmentWriter() { abandon(); }

    void add(const std::string& name, const py::buffer& data, int type, int value) {
        if (!open_)
            throw Failure{Kind::Input, "the writer of '" + path_ + "' is finished"};
        // The exporter lays its bytes out in one run, or refuses: a strided
        // view (memoryview(b)[::2]) would otherwise be written as the run
        // its first byte starts.
        Py_buffer view;
        if (PyObject_GetBuffer(data.ptr(), &view, PyBUF_C_CONTIGUOUS) != 0) {
            PyErr_Clear();
            throw Failure{Kind::Input, "a segment's bytes must be contiguous"};
        }
        std::unique_ptr<Py_buffer, void (*)(Py_buffer*)> held(&view, PyBuffer_Release);
        const auto bytes = static_cast<std::size_t>(view.len);
        const void* from = view.buf;
        unlocked(Kind::Input, [&](Capture& c) {
            Port::Stream* s = file_.putdataseg(const_cast<char*>(name.c_str()), type, value);
            if (!s)
                throw Failure{Kind::Input, c.lastError(("cannot add segment '" + name + "'").c_str())};
            const bool ok = s->writebytes(from, bytes) && file_.enddataseg();
            if (!ok)
                throw Failure{Kind::File, c.lastError("writing the segment failed"), EIO, path_};
            return 0;
        });
    }

    void commit() {
        if (!open_)
            throw Failure{Kind::Input, "the writer of '" + path_ + "' is finished"};
        open_ = false;
        unlocked(Kind::File, [&](Capture& c) {
            if (!file_.unload())
                throw Failure{Kind::File, c.lastError("writing failed"), EIO, path_};
            if (!replacement_.commit())
                throw Failure{Kind::File, replacement_.failure(), replacement_.error(), path_};
            return 0;
        });
    }

    void abandon() {
        if (open_) {
            open_ = false;
            Capture quiet;
            file_.unload();
        }
        replacement_.abandon();
    }

private:
    std::string path_;
    UtilTool::Replacement replacement_;
    UT_IFILE file_;
    bool open_ = false;
};

// ---- name images -----------------------------------------------------------

std::vector<std::pair<std::string, int>> readNames(const std::string& path) {
    checkReadable(path);
    return unlocked(Kind::Format, [&](Capture&) {
        UT_PTRFILE in(Port::Stream::READ);
        errno = 0;
        if (!in.open(path.c_str()))
            throw Failure{Kind::File, std::strerror(errno ? errno : EIO), errno ? errno : EIO, path};
        UT_NCH_CACHE cache(0, UtilTool::kLongestListedName);
        if (const int64_t end = UtilTool::readWholeImage(in, cache); end >= 0)
            throw Failure{Kind::Format, "bytes follow the image at byte " + std::to_string(end)};
        std::vector<std::pair<std::string, int>> out;
        out.reserve(cache.get_count());
        cache.traverse(
            [](void** slot, void* arg) {
                auto* name = static_cast<UT_NCH_NAME*>(*slot);
                static_cast<decltype(out)*>(arg)->emplace_back(name->get_name(), name->getRefCount());
            },
            &out, UT_BTR_TREE::INORDER);
        return out;
    });
}

void writeNames(const std::string& path, const std::vector<std::pair<std::string, long long>>& names,
                const std::string& kind) {
    if (kind != "tree" && kind != "map")
        throw Failure{Kind::Input, "kind is 'tree' or 'map', not '" + kind + "'"};
    for (const auto& [text, count] : names) {
        if (text.size() > UT_NCH_CACHE::kDefaultMaxLen)
            throw Failure{Kind::Input, "a name of " + std::to_string(text.size()) + " characters: names are at most " +
                                           std::to_string(UT_NCH_CACHE::kDefaultMaxLen)};
        if (text.find('\0') != std::string::npos)
            throw Failure{Kind::Input, "a name holds a zero character"};
        if (count < 1 || count > INT_MAX)
            throw Failure{Kind::Input, "the count of '" + text + "' is " + std::to_string(count) +
                                           ": counts are 1 to " + std::to_string(INT_MAX)};
    }
    UtilTool::Replacement replacement(path);
    if (replacement.path().empty())
        fileFailure(replacement.error(), path);
    unlocked(Kind::File, [&](Capture& c) {
        UT_PTRFILE out(Port::Stream::WRITE);
        if (!out.open(replacement.path().c_str()))
            throw Failure{Kind::File, std::strerror(errno), errno, path};
        // The same image from either cache; each writes its names in its own order.
        if (kind == "tree") {
            UT_NCH_CACHE cache;
            for (const auto& [text, count] : names)
                cache.add(text.c_str(), static_cast<int>(count));
            cache.write(&out, 0);
        } else {
            Util::NameCache::Cache cache;
            for (const auto& [text, count] : names)
                cache.add(text.c_str(), static_cast<int>(count));
            cache.write(&out, false);
        }
        if (!out.close())
            throw Failure{Kind::File, c.lastError("writing failed"), EIO, path};
        if (!replacement.commit())
            throw Failure{Kind::File, replacement.failure(), replacement.error(), path};
        return 0;
    });
}

// ---- equations -------------------------------------------------------------

std::string narrow(const wchar_t* w) {
    std::string out;
    for (; w && *w; ++w)
        out += *w < 0x80 ? static_cast<char>(*w) : '?';  // the library's messages are ASCII
    return out;
}

// (result, warning): result is the hex digits, the equation, or "" for a check.
std::pair<std::string, std::optional<std::string>> equation(const std::string& mode, const std::string& text,
                                                            const std::vector<std::string>& lines,
                                                            const std::string& lhs, bool attribute) {
    if (lines.size() < UtilTool::kFewestLines || lines.size() > UtilTool::kMostLines)
        throw Failure{Kind::Equation,
                      std::to_string(lines.size()) + " address lines given; the converter takes 2 to 6"};
    for (const std::string* t : {&text, &lhs})
        for (unsigned char ch : *t)
            if (ch >= 0x80 || ch == 0)
                throw Failure{Kind::Equation, "equations and names are ASCII"};
    return unlocked(Kind::Equation, [&](Capture&) {
        UT_EQUATE e(attribute ? 1 : 0);
        char* out = nullptr;
        const UT_EQUATE::STATUS st = UtilTool::convertRom(e, mode, text, lines, lhs, out);
        if (st != UT_EQUATE::STATUS_OK && st != UT_EQUATE::STATUS_WARNING)
            throw Failure{Kind::Equation, narrow(e.geterrmsg())};
        std::optional<std::string> warning;
        if (st == UT_EQUATE::STATUS_WARNING)
            warning = narrow(e.geterrmsg());
        return std::make_pair(std::string(mode == "check" || !out ? "" : out), warning);
    });
}

// ---- expressions -----------------------------------------------------------

// The library's exceptions, each as the package's own.
template <class Work>
auto evaluating(Work work) {
    Capture capture;
    try {
        return work();
    } catch (const Util::DivZeroException& e) {
        throw Failure{Kind::ZeroDivision, Capture::trimmed(e.what())};
    } catch (const Util::IntOverflowException& e) {
        throw Failure{Kind::Overflow, Capture::trimmed(e.what())};
    } catch (const Port::Exception& e) {
        throw Failure{Kind::Expression, Capture::trimmed(e.what())};
    }
}

// One expression of one value type. The variables' map is kept from call
// to call: a call that names the same variables as the last (the usual
// loop) only stores their values, and the library then reads the map as it
// always does. The GIL is held throughout, which serialises calls on one
// object.
template <class T>
class Compiled {
public:
    explicit Compiled(const char* text) : expression_(text) {}

    py::object evaluate(PyObject* mapping, PyObject* kwargs) {
        given_.clear();
        held_.clear();
        for (PyObject* source : {mapping, kwargs}) {
            if (!source)
                continue;
            if (PyDict_Check(source)) {
                Py_ssize_t pos = 0;
                PyObject *key, *value;
                while (PyDict_Next(source, &pos, &key, &value))
                    given_.emplace_back(key, value);
            } else {
                for (auto item : py::reinterpret_borrow<py::object>(source).attr("items")()) {
                    auto pair = py::reinterpret_borrow<py::tuple>(item);
                    held_.push_back(pair);  // keeps the pair's objects alive for the call
                    given_.emplace_back(pair[0].ptr(), pair[1].ptr());
                }
            }
        }
        // Keyword names are interned, so the same names are the same objects.
        bool same = given_.size() == slots_.size();
        for (std::size_t i = 0; same && i < given_.size(); ++i)
            same = slots_[i].first.ptr() == given_[i].first;
        if (same) {
            for (std::size_t i = 0; i < given_.size(); ++i)
                slots_[i].second->second = toValue(given_[i].second, given_[i].first);
        } else {
            vars_.clear();
            slots_.clear();
            for (auto [key, value] : given_) {
                if (!PyUnicode_Check(key))
                    throw Failure{Kind::Input, "variable names are texts"};
                Py_ssize_t size = 0;
                const char* text = PyUnicode_AsUTF8AndSize(key, &size);
                if (!text)
                    throw py::error_already_set();
                // A name given twice (in the mapping and as a keyword) is one variable: the last value.
                auto at = vars_.insert_or_assign(Port::StringBase<char>(text, size), toValue(value, key)).first;
                slots_.emplace_back(py::reinterpret_borrow<py::object>(key), at);
            }
        }
        held_.clear();
        return py::cast(evaluating([&] { return expression_(vars_.empty() ? nullptr : &vars_); }));
    }

private:
    static T toValue(PyObject* value, PyObject* key) {
        if constexpr (std::is_same_v<T, bool>) {
            const int truth = PyObject_IsTrue(value);
            if (truth < 0)
                throw py::error_already_set();
            return truth != 0;
        } else {
            if (!PyLong_Check(value) || PyBool_Check(value))
                throw Failure{Kind::Input, "the value of '" + py::cast<std::string>(key) + "' is not an integer"};
            int overflow = 0;
            const long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
            if (overflow || v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max())
                throw Failure{Kind::Overflow,
                              "the value of '" + py::cast<std::string>(key) + "' does not fit the expression's type"};
            return static_cast<T>(v);
        }
    }

    using VarMap = typename Util::Expression<T>::VarMap;
    Util::Expression<T> expression_;
    VarMap vars_;                                                          // the last call's variables
    std::vector<std::pair<py::object, typename VarMap::iterator>> slots_;  // their names in call order, and entries
    std::vector<std::pair<PyObject*, PyObject*>> given_;                   // this call's names and values
    std::vector<py::object> held_;                                         // items of a mapping that is not a dict
};

class Expression {
public:
    Expression(const std::string& text, const std::string& type) : text_(text), type_(type) {
        for (unsigned char ch : text)
            if (ch >= 0x80 || ch == 0)
                throw Failure{Kind::Expression, "expressions are ASCII"};
        if (type == "int16")
            compiled_.template emplace<Compiled<short>>(text.c_str());
        else if (type == "int32")
            compiled_.template emplace<Compiled<int>>(text.c_str());
        else if (type == "int64")
            compiled_.template emplace<Compiled<int64_t>>(text.c_str());
        else if (type == "bool")
            compiled_.template emplace<Compiled<bool>>(text.c_str());
        else
            throw Failure{Kind::Input, "type is int16, int32, int64 or bool, not '" + type + "'"};
    }

    py::object call(const py::args& args, const py::kwargs& kwargs) {
        if (args.size() > 1)
            throw py::type_error("an expression takes one mapping of variables, and keywords");
        PyObject* mapping = args.size() == 1 && !args[0].is_none() ? args[0].ptr() : nullptr;
        PyObject* keywords = kwargs && PyDict_GET_SIZE(kwargs.ptr()) ? kwargs.ptr() : nullptr;
        return std::visit(
            [&](auto& c) -> py::object {
                if constexpr (std::is_same_v<std::decay_t<decltype(c)>, std::monostate>)
                    return py::none();  // never: the constructor chose a type
                else
                    return c.evaluate(mapping, keywords);
            },
            compiled_);
    }
    const std::string& text() const { return text_; }
    const std::string& type() const { return type_; }

private:
    std::string text_;
    std::string type_;
    std::variant<std::monostate, Compiled<short>, Compiled<int>, Compiled<int64_t>, Compiled<bool>> compiled_;
};

// ---- primes ----------------------------------------------------------------

std::vector<uint64_t> primesPiece(uint64_t from, uint64_t to) {
    py::gil_scoped_release released;
    Util::Prime sieve;
    return UtilTool::primesBetween(sieve, from, to);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "The compiled calls of the utilities package; use the package itself.";
    gPrevious = Port::setMsgSink(moduleSink);

    // A Failure becomes the package's exception of its kind, found by name
    // in utilities.errors.
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const Failure& f) {
            py::module_ errors = py::module_::import("utilities.errors");
            py::object type = errors.attr(kindName(f.kind));
            py::object error = f.kind == Kind::File ? type(f.error, f.message, f.filename) : type(f.message);
            PyErr_SetObject(type.ptr(), error.ptr());
        }
    });

    py::class_<SegmentReader>(m, "SegmentReader")
        .def(py::init<const std::string&>())
        .def("directory", &SegmentReader::directory)
        .def("items", &SegmentReader::items)
        .def("versions", &SegmentReader::versions)
        .def("contains", &SegmentReader::contains)
        .def("read", &SegmentReader::read)
        .def("close", &SegmentReader::close);
    py::class_<SegmentWriter>(m, "SegmentWriter")
        .def(py::init<const std::string&, int, int>())
        .def("add", &SegmentWriter::add)
        .def("commit", &SegmentWriter::commit)
        .def("abandon", &SegmentWriter::abandon);

    m.def("read_names", &readNames);
    m.def("write_names", &writeNames);
    m.def("equation", &equation);

    py::class_<Expression>(m, "Expression",
                           R"(An expression of the library's rule language, kept to be evaluated many times.

>>> e = Expression("width * 2 + 1")
>>> e(width=8)
17
>>> Expression("a * !b", type="bool")({"a": True, "b": False})
True

type is "int16", "int32" (default), "int64" or "bool". Variables come as one
mapping, as keyword arguments, or both (a keyword wins). Evaluating raises
ExpressionError (bad text, undefined variable), DivisionByZeroError or
IntegerOverflowError.)")
        .def(py::init<const std::string&, const std::string&>(), py::arg("text"), py::kw_only(),
             py::arg("type") = "int32")
        .def("__call__", &Expression::call, "The value, with variables from a mapping, keyword arguments, or both.")
        .def_property_readonly("text", &Expression::text, "The expression's text.")
        .def_property_readonly("type", &Expression::type, "The value type.")
        .def("__repr__", [](const Expression& e) { return "Expression('" + e.text() + "', type='" + e.type() + "')"; });

    m.def("is_prime", [](uint64_t n) { return UtilTool::isPrimeExact(n); });
    m.def("next_prime", [](uint64_t n) {
        py::gil_scoped_release released;
        return UtilTool::nextPrimeExact(n);
    });
    m.def("prev_prime", [](uint64_t n) {
        py::gil_scoped_release released;
        return UtilTool::prevPrimeExact(n);
    });
    m.def("primes_piece", &primesPiece);
    m.def("piece_end", &UtilTool::pieceEnd);
    m.attr("VERSION") = UTIL_VERSION;
}
