// core.cpp - utilities._core, the compiled half of the Python module: thin
// calls of the library, with every report of it turned into a Failure that
// the package's __init__ raises as its own exception. The Pythonic face
// (context managers, mappings, generators, warnings) is in __init__.py.
#include "ExactPrime.h"
#include "Replacement.h"

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
#include <unordered_map>
#include <utility>
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
    std::vector<std::string> warnings() const {
        std::vector<std::string> out;
        for (const auto& m : messages)
            if (m.kind == Port::MsgKind::Warning)
                out.push_back(trimmed(m.text));
        return out;
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

class SegmentReader {
public:
    explicit SegmentReader(const std::string& path) : path_(path) {
        checkReadable(path);
        unlocked(Kind::Format, [&](Capture& c) {
            if (!file_.load(path.c_str()))
                throw Failure{Kind::Format, c.lastError("not a segmented file")};
            UT_IFILESEGINFO info;
            for (int i = 0; file_.getseginfo(i, info); ++i) {
                Port::Stream* s = file_.getdataseg(info.getname(), -1, nullptr);
                const int64_t offset = s ? s->getfoffset() : -1;
                file_.enddataseg();
                index_.emplace(info.getname(), directory_.size());
                directory_.emplace_back(info.getname(), info.getsize(), info.gettype(), info.getdata(), offset);
            }
            return 0;
        });
        open_ = true;
    }
    ~SegmentReader() { close(); }

    const std::vector<SegmentEntry>& directory() const { return directory_; }
    py::tuple versions() const {
        live();
        return py::make_tuple(file_.getversion(), file_.getrevision(), file_.getdataversion(), file_.getdatarevision());
    }
    bool contains(const std::string& name) const { return index_.count(name) != 0; }

    py::bytes read(const std::string& name) {
        live();
        auto at = index_.find(name);
        if (at == index_.end())
            throw py::key_error(name);
        const auto size = static_cast<py::ssize_t>(std::get<1>(directory_[at->second]));
        // Filled in place: the bytes object is nobody else's until returned.
        py::bytes out(nullptr, size);
        char* buffer = PyBytes_AS_STRING(out.ptr());
        unlocked(Kind::Format, [&](Capture& c) {
            Port::Stream* s = file_.getdataseg(const_cast<char*>(name.c_str()), -1, nullptr);
            const bool ok = s && s->readbytes(buffer, static_cast<std::size_t>(size));
            file_.enddataseg();
            if (!ok)
                throw Failure{Kind::Format, c.lastError(("segment '" + name + "' is cut short").c_str())};
            return 0;
        });
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

    std::string path_;
    UT_IFILE file_;
    std::vector<SegmentEntry> directory_;                 // in file order
    std::unordered_map<std::string, std::size_t> index_;  // name -> entry of directory_
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
        py::buffer_info view = data.request();
        if (!PyBuffer_IsContiguous(reinterpret_cast<Py_buffer*>(&view), 'C') && view.ndim > 1)
            throw Failure{Kind::Input, "a segment's bytes must be contiguous"};
        const auto bytes = static_cast<std::size_t>(view.size * view.itemsize);
        const void* from = view.ptr;
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
        UT_NCH_CACHE cache(0, std::numeric_limits<unsigned int>::max() - 1);
        cache.read(&in);
        const int64_t end = in.getfoffset();
        in.readint8();
        if (!in.geterror())
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

constexpr int kFewestLines = 2;  // the converter's range of address lines
constexpr int kMostLines = 6;

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
    if (lines.size() < kFewestLines || lines.size() > kMostLines)
        throw Failure{Kind::Equation,
                      std::to_string(lines.size()) + " address lines given; the converter takes 2 to 6"};
    for (const std::string* t : {&text, &lhs})
        for (unsigned char ch : *t)
            if (ch >= 0x80 || ch == 0)
                throw Failure{Kind::Equation, "equations and names are ASCII"};
    return unlocked(Kind::Equation, [&](Capture&) {
        std::vector<const char*> names;
        for (const auto& n : lines)
            names.push_back(n.c_str());
        UT_EQUATE e(attribute ? 1 : 0);
        char* out = nullptr;
        UT_EQUATE::STATUS st;
        const int n = static_cast<int>(names.size());
        if (mode == "hex")
            st = e.gen_hex(text.c_str(), names.data(), n, lhs.c_str(), out);
        else if (mode == "eqn")
            st = e.gen_equatestr(text.c_str(), names.data(), n, lhs.c_str(), out);
        else
            st = e.validate(text.c_str(), lhs.c_str(), names.data(), n);
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

template <class T>
class CompiledExpression {
public:
    explicit CompiledExpression(const std::string& text) : text_(text), expression_(text.c_str()) {
        for (unsigned char ch : text)
            if (ch >= 0x80 || ch == 0)
                throw Failure{Kind::Expression, "expressions are ASCII"};
    }
    T evaluate(const py::dict& variables) const {
        typename Util::Expression<T>::VarMap vars;
        for (auto [key, value] : variables)
            vars.emplace(py::cast<std::string>(key).c_str(), toValue(value, py::cast<std::string>(key)));
        return evaluating([&] { return expression_(vars.empty() ? nullptr : &vars); });
    }
    const std::string& text() const { return text_; }

private:
    static T toValue(const py::handle& value, const std::string& name) {
        if constexpr (std::is_same_v<T, bool>) {
            return py::cast<bool>(value);
        } else {
            if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
                throw Failure{Kind::Input, "the value of '" + name + "' is not an integer"};
            const long long v = py::cast<long long>(value);
            if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max())
                throw Failure{Kind::Overflow, "the value of '" + name + "' does not fit the expression's type"};
            return static_cast<T>(v);
        }
    }

    std::string text_;
    Util::Expression<T> expression_;
};

template <class T>
void bindExpression(py::module_& m, const char* name) {
    py::class_<CompiledExpression<T>>(m, name)
        .def(py::init<const std::string&>())
        .def("evaluate", &CompiledExpression<T>::evaluate)
        .def_property_readonly("text", &CompiledExpression<T>::text);
}

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

    bindExpression<short>(m, "Expression16");
    bindExpression<int>(m, "Expression32");
    bindExpression<int64_t>(m, "Expression64");
    bindExpression<bool>(m, "ExpressionBool");

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
