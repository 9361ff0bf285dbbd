// Command.h - subcommands of utiltool.
//
// A subcommand is one file that defines its run function and registers itself
// with a static UtilTool::Registration; main() needs no change to gain one.
#pragma once

#include <string>
#include <utility>
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

// Writes a file the safe way: the new contents go to a file of their own beside
// the target (a name no other run uses, so a leftover of a killed run is never
// taken for anything), are forced to the disk, and only then renamed over the
// target. Until commit() succeeds the target keeps its old bytes; a
// replacement that is not committed is removed.
class Replacement {
public:
    explicit Replacement(std::string target);
    ~Replacement();
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    // The path to write the new contents to; empty when it could not be made
    // (after printing why, as `command`).
    const std::string& path() const { return temp_; }
    // Syncs the new file and renames it over the target; false (after
    // printing why, as `command`) when either fails: the target is then as
    // it was.
    bool commit(const char* command);

private:
    std::string target_;
    std::string temp_;
};

// Runs utiltool on its arguments (without the program name); the exit status.
int main(const std::vector<std::string>& args);

}  // namespace UtilTool
