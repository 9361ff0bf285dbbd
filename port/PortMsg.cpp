// PortMsg.cpp - message manager, exception base and message translation.
#include "PortMsg.h"

#include "PortString.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace {

// The manager's state lives in a function-local object that is never destroyed,
// so that reports made while other statics are built or torn down still work.
struct SinkState {
    std::mutex lock;  // guards sink
    // the installed sink; a report in progress keeps its own copy; null: the default
    std::shared_ptr<const Port::MsgSink> sink;
};

SinkState& sinkState() {
    static SinkState* state = new SinkState;
    return *state;
}

std::shared_ptr<const Port::MsgSink> currentSink() {
    SinkState& st = sinkState();
    std::lock_guard<std::mutex> hold(st.lock);
    return st.sink;
}

void deliver(const Port::Message& message) {
    auto sink = currentSink();
    if (sink && *sink)
        (*sink)(message);
    else
        Port::defaultMsgSink(message);
}

std::wstring widen(const std::string& s) {
    std::wstring w;
    w.reserve(s.size());
    for (unsigned char c : s)
        w.push_back(static_cast<wchar_t>(c));
    return w;
}

const char* orEmpty(const char* s) { return s ? s : ""; }

}  // namespace

namespace Port {

Exception::Exception(const char* module, const char* file, const char* revision, int line, const char* message)
    : module_(orEmpty(module)), file_(orEmpty(file)), revision_(orEmpty(revision)), line_(line),
      message_(orEmpty(message)) {}

Exception::~Exception() = default;

std::wstring Exception::getLocalized() const { return widen(message_); }

void Exception::report() const { deliver(Message{MsgKind::Error, module_, file_, line_, revision_, 0, message_}); }

const char* msgKindName(MsgKind kind) {
    switch (kind) {
    case MsgKind::Fatal:
        return "fatal";
    case MsgKind::Error:
        return "error";
    case MsgKind::Warning:
        return "warning";
    case MsgKind::Internal:
        return "internal";
    case MsgKind::Status:
        return "status";
    }
    return "unknown";
}

MsgSink setMsgSink(MsgSink sink) {
    auto next = sink ? std::make_shared<const MsgSink>(std::move(sink)) : nullptr;
    SinkState& st = sinkState();
    std::lock_guard<std::mutex> hold(st.lock);
    auto previous = std::move(st.sink);
    st.sink = std::move(next);
    return previous ? *previous : MsgSink();
}

void defaultMsgSink(const Message& m) {
    std::string text = m.text;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::fprintf(stderr, "%s %s [%d] %s:%d: %s\n", msgKindName(m.kind), m.module.c_str(), m.code, m.file.c_str(),
                 m.line, text.c_str());
}

FatalError::FatalError(const Message& m)
    : Exception(m.module.c_str(), m.file.c_str(), m.revision.c_str(), m.line, m.text.c_str()), code_(m.code) {}

}  // namespace Port

Port_MsgManData::Port_MsgManData(const char* module, const char* file, int line, const char* revision)
    : module_(module), file_(file), line_(line), revision_(revision) {}

Port_MsgManData Port_MsgManData::createObject(const char* module, const char* file, int line, const char* revision) {
    return Port_MsgManData(module, file, line, revision);
}

Port::Message Port_MsgManData::make(Port::MsgKind kind, int code, const char* fmt, va_list args) const {
    return Port::Message{kind, orEmpty(module_),        orEmpty(file_), line_, orEmpty(revision_),
                         code, Port::vformat(fmt, args)};
}

void Port_MsgManData::vissueFatal(int code, const char* fmt, va_list args) {
    Port::Message m = make(Port::MsgKind::Fatal, code, fmt, args);
    deliver(m);
    throw Port::FatalError(m);
}

void Port_MsgManData::vissue(Port::MsgKind kind, const char* fmt, va_list args) { deliver(make(kind, 0, fmt, args)); }

void Port_MsgManData::issueFatal(int code, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    Port::Message m = make(Port::MsgKind::Fatal, code, fmt, args);
    va_end(args);
    deliver(m);
    throw Port::FatalError(m);
}

#define PORT_MSG_ISSUE(name, kind)                     \
    void Port_MsgManData::name(const char* fmt, ...) { \
        va_list args;                                  \
        va_start(args, fmt);                           \
        vissue(kind, fmt, args);                       \
        va_end(args);                                  \
    }
PORT_MSG_ISSUE(issueError, Port::MsgKind::Error)
PORT_MSG_ISSUE(issueWarning, Port::MsgKind::Warning)
PORT_MSG_ISSUE(issueInternal, Port::MsgKind::Internal)
PORT_MSG_ISSUE(issueStatus, Port::MsgKind::Status)
#undef PORT_MSG_ISSUE

Port_MsgManInit::Port_MsgManInit() { sinkState(); }

wchar_t* Port_MsgDispatcher::translateMsg(const char* /*module*/, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::wstring w = widen(Port::vformat(fmt, args));
    va_end(args);
    wchar_t* out = new wchar_t[w.size() + 1];
    w.copy(out, w.size());
    out[w.size()] = L'\0';
    return out;
}
