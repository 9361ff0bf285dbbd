// Command.h - subcommands of utiltool.
//
// A subcommand is one file that defines its run function and registers itself
// with a static UtilTool::Registration; main() needs no change to gain one.
#pragma once

#include <string>
#include <vector>

namespace UtilTool {

struct Command {
    const char* name;
    const char* summary;  // one line for --help
    const char* usage;    // options, for `utiltool help <name>`
    int (*run)(const std::vector<std::string>& args);
};

const std::vector<Command>& commands();

struct Registration {
    explicit Registration(const Command& command);
};

// Parses "--name value" pairs, lone flags and up to `maxPositional` other
// arguments (all arguments after "--" are positional); returns false on an unknown or malformed option, after printing
// why.
struct Options {
    bool parse(const std::vector<std::string>& args, const std::vector<std::string>& valued,
               const std::vector<std::string>& flags, std::size_t maxPositional = 0);
    bool has(const std::string& name) const;
    // The option's value as an unsigned number, or `fallback` when absent;
    // false (after printing why) when the value is not a number in range.
    bool number(const std::string& name, unsigned long fallback, unsigned long max,
                unsigned long& out) const;

    std::vector<std::pair<std::string, std::string>> values;
    std::vector<std::string> positional;
};

}  // namespace UtilTool
