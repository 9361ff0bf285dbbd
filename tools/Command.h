// Command.h - subcommands of utiltool.
//
// A subcommand is one file that declares its options and arguments on a
// CLI11 subcommand and registers itself with a static UtilTool::Registration;
// main() needs no change to gain one. Exit statuses: 0 done, 1 refused (the
// input, a file, a write), 2 usage error; `prime is` answers with 0 prime,
// 1 not prime.
#pragma once

#include "Replacement.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace UtilTool {

// What runs once a subcommand's arguments are parsed: the exit status.
using Action = std::function<int()>;

struct Command {
    const char* name;
    const char* summary;  // one line for --help
    // Declares the subcommand's options and arguments on `app` (limits in
    // their descriptions) and returns its action.
    Action (*setup)(CLI::App& app);
};

const std::vector<Command>& commands();

struct Registration {
    explicit Registration(const Command& command);
};

// The exit statuses.
constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;

// Prints "utiltool COMMAND: " and the formatted text, with a newline, on
// standard error; returns kRefused, for `return refuse(...)`.
int refuse(const char* command, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The first character of `text` that is not ASCII, as typed (its whole UTF-8
// sequence); empty when every character is ASCII.
std::string firstNonAscii(const std::string& text);

// Reads a whole file, or standard input for "-"; false when it cannot be read.
bool readInput(const std::string& path, std::string& out);

// Runs utiltool on its arguments (without the program name); the exit status.
int main(const std::vector<std::string>& args);

}  // namespace UtilTool
