// PortMsg.h - message manager, exception base and message translation.
//
// Every report of the library is one Port::Message handed to the current sink.
// The default sink writes one line per report to standard error; a caller
// replaces it with Port::setMsgSink (tests install a capturing one). A fatal
// report never returns: after the sink has seen it, issueFatal throws
// Port::FatalError, which carries the code and the formatted text. A program
// that prefers to end at once on a fatal report installs a sink that exits.
//
// Lives in: port/PortMsg.cpp; tests: tests/port_test.cpp; docs: docs/port.md.
#pragma once

#include "PortExport.h"

#include <cstdarg>
#include <exception>
#include <functional>
#include <string>
#include <utility>

namespace Port {

// Base of the exceptions of the library: copyable, with the message as wide
// text and a way to send it to the message manager.
class PORT_EXPORT Exception : public std::exception {
public:
    Exception(const char* module, const char* file, const char* revision, int line, const char* message);
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;
    ~Exception() override;

    // The message as wide text (each byte widened; the library's texts are ASCII).
    virtual std::wstring getLocalized() const;
    // Sends the message to the message sink as an error report.
    virtual void report() const;

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& getModule() const { return module_; }
    const std::string& getFile() const { return file_; }
    const std::string& getRevision() const { return revision_; }
    int getLine() const { return line_; }
    const std::string& getMessage() const { return message_; }

private:
    std::string module_;    // the module that reported
    std::string file_;      // the reporting source unit's path
    std::string revision_;  // the unit's revision text
    int line_;              // the line in that unit
    std::string message_;   // the report's text
};

enum class MsgKind { Fatal, Error, Warning, Internal, Status };

// "fatal", "error", "warning", "internal", "status".
PORT_EXPORT const char* msgKindName(MsgKind kind);

struct Message {
    MsgKind kind;          // which kind of report
    std::string module;    // "Utilities" for the library's own
    std::string file;      // the reporting unit's path
    int line;              // the line in that unit
    std::string revision;  // the unit's revision text
    int code;              // the fatal code; 0 for the other kinds
    std::string text;      // formatted, exactly as the reporter gave it
};

using MsgSink = std::function<void(const Message&)>;

// Installs `sink` (an empty one restores the default) and returns the previous
// sink. Safe to call from any thread; a report already under way keeps the sink
// it started with. A sink must not throw.
PORT_EXPORT MsgSink setMsgSink(MsgSink sink);

// Installs a sink for one scope and puts the previous one back when the scope
// ends, also when it ends by an exception.
class ScopedMsgSink {
public:
    explicit ScopedMsgSink(MsgSink sink) : previous_(setMsgSink(std::move(sink))) {}
    ~ScopedMsgSink() { setMsgSink(std::move(previous_)); }
    ScopedMsgSink(const ScopedMsgSink&) = delete;
    ScopedMsgSink& operator=(const ScopedMsgSink&) = delete;

private:
    MsgSink previous_;  // what the scope found installed; empty means the default
};

// The default sink: "<kind> <module> [<code>] <file>:<line>: <text>" on
// standard error, one line per report (a trailing newline of the text is not
// doubled).
PORT_EXPORT void defaultMsgSink(const Message& message);

// Thrown by issueFatal after the sink has seen the report.
class PORT_EXPORT FatalError : public Exception {
public:
    explicit FatalError(const Message& message);
    int getCode() const { return code_; }

private:
    int code_;  // the code issueFatal was given
};

}  // namespace Port

// A message object for exactly one report.
class PORT_EXPORT Port_MsgManData {
public:
    static Port_MsgManData createObject(const char* module, const char* file, int line, const char* revision);

    [[noreturn]] void issueFatal(int code, const char* fmt, ...) PORT_PRINTF(3, 4);
    void issueError(const char* fmt, ...) PORT_PRINTF(2, 3);
    void issueWarning(const char* fmt, ...) PORT_PRINTF(2, 3);
    void issueInternal(const char* fmt, ...) PORT_PRINTF(2, 3);
    void issueStatus(const char* fmt, ...) PORT_PRINTF(2, 3);

    // va_list forms, for reporters that forward their own arguments.
    [[noreturn]] void vissueFatal(int code, const char* fmt, va_list args) PORT_PRINTF(3, 0);
    void vissue(Port::MsgKind kind, const char* fmt, va_list args) PORT_PRINTF(3, 0);

private:
    Port_MsgManData(const char* module, const char* file, int line, const char* revision);
    Port::Message make(Port::MsgKind kind, int code, const char* fmt, va_list args) const PORT_PRINTF(4, 0);

    const char* module_;    // the module, as given; must outlive the object
    const char* file_;      // the unit's path, as given; must outlive the object
    int line_;              // the line in that unit
    const char* revision_;  // the unit's revision, as given; must outlive the object
};

// Held by every source unit so that the message manager exists before the
// unit's static initialisation reports anything, and outlives it.
class PORT_EXPORT Port_MsgManInit {
public:
    Port_MsgManInit();
};

class PORT_EXPORT Port_MsgDispatcher {
public:
    // The formatted message as a new wide text, released by the caller with
    // delete[]. There are no translation tables: the text is the format's.
    static wchar_t* translateMsg(const char* module, const char* fmt, ...) PORT_PRINTF(2, 3);
};
