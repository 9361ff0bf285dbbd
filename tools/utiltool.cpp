// utiltool - command-line front end of libUtilities, one subcommand per family.
#include "Command.h"

#include <PortMsg.h>

#include <PortStream.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef UTIL_VERSION
#define UTIL_VERSION "unknown"
#endif

namespace UtilTool {

namespace {
std::vector<Command>& table() {
    static std::vector<Command> all;
    return all;
}
}  // namespace

const std::vector<Command>& commands() { return table(); }

Registration::Registration(const Command& command) {
    auto& all = table();
    all.insert(std::upper_bound(all.begin(), all.end(), command,
                                [](const Command& a, const Command& b) {
                                    return std::strcmp(a.name, b.name) < 0;
                                }),
               command);
}

bool Options::parse(const std::vector<std::string>& args, const std::vector<std::string>& valued,
                    const std::vector<std::string>& flags, std::size_t maxPositional) {
    auto known = [](const std::vector<std::string>& list, const std::string& s) {
        return std::find(list.begin(), list.end(), s) != list.end();
    };
    bool onlyPositional = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!onlyPositional && a == "--") {
            onlyPositional = true;
        } else if (onlyPositional) {
            if (positional.size() == maxPositional) {
                std::fprintf(stderr, "utiltool: unexpected argument '%s'\n", a.c_str());
                return false;
            }
            positional.push_back(a);
        } else if (known(flags, a)) {
            values.emplace_back(a, "");
        } else if (known(valued, a)) {
            if (i + 1 == args.size()) {
                std::fprintf(stderr, "utiltool: %s needs a value\n", a.c_str());
                return false;
            }
            values.emplace_back(a, args[++i]);
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "utiltool: unknown option '%s'\n", a.c_str());
            return false;
        } else if (positional.size() < maxPositional) {
            positional.push_back(a);
        } else {
            std::fprintf(stderr, "utiltool: unexpected argument '%s'\n", a.c_str());
            return false;
        }
    }
    return true;
}

bool Options::has(const std::string& name) const {
    return std::any_of(values.begin(), values.end(), [&](const auto& v) { return v.first == name; });
}

bool Options::number(const std::string& name, unsigned long fallback, unsigned long max,
                     unsigned long& out) const {
    out = fallback;
    for (const auto& [key, text] : values) {
        if (key != name)
            continue;
        char* end = nullptr;
        errno = 0;
        unsigned long v = std::strtoul(text.c_str(), &end, 10);
        if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || v > max) {
            std::fprintf(stderr, "utiltool: %s takes a whole number from 0 to %lu, not '%s'\n",
                         name.c_str(), max, text.c_str());
            return false;
        }
        out = v;
    }
    return true;
}

Replacement::Replacement(std::string target) : target_(std::move(target)) {
    std::string temp = target_ + ".utiltool-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        std::fprintf(stderr, "utiltool: cannot make a new file beside '%s': %s\n", target_.c_str(),
                     std::strerror(errno));
        return;
    }
    // The new file gets the old one's permissions, or those of any new file.
    struct stat st;
    mode_t mode;
    if (::stat(target_.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
    ::close(fd);
    temp_ = temp;
}

Replacement::~Replacement() {
    if (!temp_.empty())
        std::remove(temp_.c_str());
}

bool Replacement::commit(const char* command) {
    if (temp_.empty())
        return false;
    if (!Port::File::sync(temp_.c_str()) || std::rename(temp_.c_str(), target_.c_str()) != 0) {
        std::fprintf(stderr, "utiltool %s: writing '%s' failed: %s\n", command, target_.c_str(),
                     std::strerror(errno));
        return false;
    }
    temp_.clear();
    return true;
}

}  // namespace UtilTool

namespace {

void printHelp() {
    std::printf("usage: utiltool <command> [options]\n"
                "       utiltool help <command>\n"
                "       utiltool --help | --version\n\ncommands:\n");
    for (const auto& c : UtilTool::commands())
        std::printf("  %-10s %s\n", c.name, c.summary);
}

const UtilTool::Command* find(const std::string& name) {
    for (const auto& c : UtilTool::commands())
        if (name == c.name)
            return &c;
    return nullptr;
}

// Status reports (dumps, statistics) are the tool's output; everything else
// goes to standard error in the default form.
void toolSink(const Port::Message& m) {
    if (m.kind == Port::MsgKind::Status)
        std::fputs(m.text.c_str(), stdout);
    else
        Port::defaultMsgSink(m);
}

}  // namespace

int UtilTool::main(const std::vector<std::string>& args) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        printHelp();
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "--version") {
        std::printf("utiltool (libUtilities) %s\n", UTIL_VERSION);
        return 0;
    }
    if (args[0] == "help") {
        const UtilTool::Command* c = args.size() > 1 ? find(args[1]) : nullptr;
        if (!c) {
            printHelp();
            return args.size() > 1 ? 2 : 0;
        }
        std::printf("utiltool %s - %s\n%s", c->name, c->summary, c->usage);
        return 0;
    }
    const UtilTool::Command* c = find(args[0]);
    if (!c) {
        std::fprintf(stderr, "utiltool: unknown command '%s' (see utiltool --help)\n",
                     args[0].c_str());
        return 2;
    }
    Port::MsgSink previous = Port::setMsgSink(toolSink);
    struct Restore {
        Port::MsgSink sink;
        ~Restore() { Port::setMsgSink(sink); }
    } restore{previous};
    try {
        return c->run(std::vector<std::string>(args.begin() + 1, args.end()));
    } catch (const Port::FatalError&) {
        return 1;  // the sink has printed the report
    } catch (const std::exception& e) {
        std::fprintf(stderr, "utiltool: %s\n", e.what());
        return 1;
    }
}
