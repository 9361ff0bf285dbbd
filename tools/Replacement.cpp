// Replacement.cpp - writing a file beside its target and renaming it over.
#include "Replacement.h"

#include <PortStream.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace UtilTool {

Replacement::Replacement(std::string target) : target_(std::move(target)) {
    std::string temp = target_ + ".utiltool-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        fail("cannot make a new file beside '" + target_ + "'");
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

Replacement::~Replacement() { abandon(); }

void Replacement::abandon() {
    if (!temp_.empty())
        std::remove(temp_.c_str());
    temp_.clear();
}

bool Replacement::fail(const std::string& what) {
    error_ = errno;
    failure_ = what + ": " + std::strerror(error_);
    return false;
}

bool Replacement::commit() {
    if (temp_.empty())
        return false;
    if (!Port::File::sync(temp_.c_str()) || std::rename(temp_.c_str(), target_.c_str()) != 0)
        return fail("writing '" + target_ + "' failed");
    temp_.clear();
    if (!Port::File::syncdir(target_.c_str()))
        return fail("'" + target_ + "' was written, but its directory could not be synced");
    return true;
}

}  // namespace UtilTool
