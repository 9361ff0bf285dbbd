// utiltool - command-line front end of libUtilities, one subcommand per family.
#include "Command.h"

#include <PortMsg.h>
#include <PortStream.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#ifndef UTIL_VERSION
#define UTIL_VERSION "unknown"
#endif

namespace UtilTool {

namespace {
std::vector<Command>& table() {
    static std::vector<Command> all;
    return all;
}

// The subcommand running now, for the reports of the library.
std::string current = "utiltool";
}  // namespace

const std::vector<Command>& commands() { return table(); }

Registration::Registration(const Command& command) {
    auto& all = table();
    all.insert(std::upper_bound(all.begin(), all.end(), command,
                                [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; }),
               command);
}

int refuse(const char* command, const char* format, ...) {
    std::fprintf(stderr, "utiltool %s: ", command);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    return kRefused;
}

std::string firstNonAscii(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80)
            continue;
        // The whole sequence: the lead byte says how long it is.
        std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return text.substr(i, std::min(n, text.size() - i));
    }
    return "";
}

bool readInput(const std::string& path, std::string& out) {
    if (path == "-") {
        out.assign(std::istreambuf_iterator<char>(std::cin.rdbuf()), {});
        return !std::cin.bad();
    }
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

}  // namespace UtilTool

namespace {

// A help text as a whole line: CLI11 ends it with the footer's last line.
std::string lines(std::string text) {
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    return text;
}

// Status reports (dumps, statistics) are the tool's output; everything else
// goes to standard error as "utiltool COMMAND: text", without the library's
// source places, which mean nothing to the tool's user.
void toolSink(const Port::Message& m) {
    if (m.kind == Port::MsgKind::Status) {
        std::fputs(m.text.c_str(), stdout);
        return;
    }
    std::string text = m.text;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    const char* kind = m.kind == Port::MsgKind::Warning ? "warning: " : "";
    std::fprintf(stderr, "utiltool %s: %s%s\n", UtilTool::current.c_str(), kind, text.c_str());
}

// The innermost subcommand the arguments chose, "" for none.
std::string chosen(CLI::App& app) {
    std::string name;
    for (CLI::App* at = &app; !at->get_subcommands().empty();) {
        at = at->get_subcommands().front();
        name += (name.empty() ? "" : " ") + at->get_name();
    }
    return name;
}

}  // namespace

int UtilTool::main(const std::vector<std::string>& args) {
    CLI::App app{"The command line of libUtilities.", "utiltool"};
    app.set_version_flag("--version", std::string("utiltool (libUtilities) ") + UTIL_VERSION);
    app.require_subcommand(1, 1);
    app.footer(
        "Exit status: 0 done, 1 refused (the input, a file or a write), 2 usage error;\n"
        "`prime is` answers 0 for a prime, 1 for a number that is not.\n"
        "utiltool help COMMAND, or COMMAND --help, shows a command's options.");
    std::vector<std::pair<CLI::App*, Action>> actions;
    for (const auto& c : commands()) {
        CLI::App* sub = app.add_subcommand(c.name, c.summary);
        actions.emplace_back(sub, c.setup(*sub));
    }
    std::string topic;
    CLI::App* help = app.add_subcommand("help", "the options of one command");
    help->add_option("command", topic, "a command");

    // A first word that names no command is named back, not taken for a
    // missing one.
    if (!args.empty() && !args[0].empty() && args[0][0] != '-' && args[0] != "help" &&
        std::none_of(commands().begin(), commands().end(), [&](const Command& c) { return args[0] == c.name; })) {
        std::fprintf(stderr, "utiltool: unknown command '%s' (see utiltool --help)\n", args[0].c_str());
        return kUsage;
    }
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::cout << lines(app.help());
        return std::cout.flush() ? kDone : kRefused;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << lines(app.help("", CLI::AppFormatMode::All));
        return std::cout.flush() ? kDone : kRefused;
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << "\n";
        return std::cout.flush() ? kDone : kRefused;
    } catch (const CLI::ParseError& e) {
        const std::string where = chosen(app);
        if (where.empty() && args.empty()) {
            std::cerr << lines(app.help());
            return kUsage;
        }
        std::fprintf(stderr, "utiltool%s%s: %s\n", where.empty() ? "" : " ", where.c_str(), e.what());
        std::fprintf(stderr, "see: utiltool %s%s--help\n", where.c_str(), where.empty() ? "" : " ");
        return kUsage;
    }
    if (help->parsed()) {
        if (topic.empty()) {
            std::cout << lines(app.help());
        } else {
            CLI::App* sub = nullptr;
            for (auto& [s, action] : actions)
                if (s->get_name() == topic)
                    sub = s;
            if (!sub) {
                std::fprintf(stderr, "utiltool help: unknown command '%s' (see utiltool --help)\n", topic.c_str());
                return kUsage;
            }
            std::cout << lines(sub->help());
        }
        return std::cout.flush() ? kDone : kRefused;
    }
    CLI::App* sub = app.get_subcommands().front();
    current = sub->get_name();
    Port::ScopedMsgSink sink(toolSink);
    struct ForgetCommand {
        ~ForgetCommand() { UtilTool::current = "utiltool"; }
    } forget;
    int status = kUsage;
    try {
        for (auto& [s, action] : actions)
            if (s == sub)
                status = action();
    } catch (const Port::FatalError&) {
        status = kRefused;  // the sink has printed the report
    } catch (const std::exception& e) {
        status = refuse(current.c_str(), "%s", e.what());
    }
    // Output that could not be written is a failure like any other.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        int error = errno;
        std::clearerr(stdout);
        return refuse(current.c_str(), "cannot write to standard output: %s", std::strerror(error));
    }
    return status;
}
