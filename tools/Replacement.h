// Replacement.h - writing a file the safe way, for utiltool and the Python
// module alike.
//
// The new contents go to a file of their own beside the target (a name no
// other run uses, so a leftover of a killed run is never taken for anything),
// are forced to the disk, and only then renamed over the target. Until
// commit() succeeds the target keeps its old bytes; a replacement that is not
// committed is removed. Nothing is printed: a failure is told by failure()
// and error(), for the caller to report in its own way.
#pragma once

#include <string>

namespace UtilTool {

class Replacement {
public:
    explicit Replacement(std::string target);
    ~Replacement();
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    // The path to write the new contents to; empty when it could not be made.
    const std::string& path() const { return temp_; }
    // Syncs the new file, renames it over the target and syncs the target's
    // directory, so that the rename survives a power loss; false when any of
    // them fails: the target is then as it was, or (when only the last
    // failed) wholly new.
    bool commit();
    // Drops the new file: the target stays as it was.
    void abandon();

    // Why the last step failed, naming the target, and its errno.
    const std::string& failure() const { return failure_; }
    int error() const { return error_; }

private:
    bool fail(const std::string& what);

    std::string target_;   // the file replaced
    std::string temp_;     // the new file beside it; empty once renamed or abandoned
    std::string failure_;  // empty while nothing failed
    int error_ = 0;        // the errno of the failure
};

}  // namespace UtilTool
