// PortStream.cpp - binary streams on files, buffered by the stream.
#include "PortStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

namespace Port {

namespace {

ssize_t sysRead(int fd, void* buf, std::size_t n) { return ::read(fd, buf, n); }
ssize_t sysWrite(int fd, const void* buf, std::size_t n) { return ::write(fd, buf, n); }
off_t sysSeek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }
int sysSync(int fd) { return ::fsync(fd); }
int sysClose(int fd) { return ::close(fd); }

constexpr IoCalls kSystemCalls{sysRead, sysWrite, sysSeek, sysSync, sysClose};
IoCalls ioCalls = kSystemCalls;

// The buffer of an own file. 64 KiB makes a system call rare against the
// values a caller writes one at a time, and a stream is held per open file,
// not per object.
constexpr unsigned kDefaultBuffer = 64 * 1024;

// String lengths above this are checked against the size of the file.
constexpr unsigned int kCheckedLength = 4096;
// The most of a string's text taken into memory before its bytes are read.
constexpr std::size_t kTextPiece = 65536;

// The open(2) flags of each way a file is opened.
constexpr int kReadFlags = O_RDONLY;
constexpr int kNewFlags = O_WRONLY | O_CREAT | O_TRUNC;
constexpr int kKeepFlags = O_RDWR;

bool isDirectory(const char* name) {
    struct stat st;
    return ::stat(name, &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes all `n` bytes, or returns false.
bool putAll(int fd, const char* data, std::size_t n) {
    while (n > 0) {
        ssize_t r = ioCalls.write(fd, data, n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        data += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

// Reads up to `n` bytes: how many came, 0 at the end of the file, -1 on failure.
ssize_t getSome(int fd, char* data, std::size_t n) {
    ssize_t r;
    do
        r = ioCalls.read(fd, data, n);
    while (r < 0 && errno == EINTR);
    return r;
}

template <class U>
void putLE(unsigned char* out, U v) {
    for (std::size_t i = 0; i < sizeof(U); ++i)
        out[i] = static_cast<unsigned char>(v >> (8 * i));
}

template <class U>
U getLE(const unsigned char* in) {
    U v = 0;
    for (std::size_t i = 0; i < sizeof(U); ++i)
        v = static_cast<U>(v | static_cast<U>(static_cast<U>(in[i]) << (8 * i)));
    return v;
}

}  // namespace

IoCalls setIoCalls(const IoCalls& calls) {
    IoCalls previous = ioCalls;
    ioCalls = calls;
    return previous;
}

const IoCalls& defaultIoCalls() { return kSystemCalls; }

Stream::Stream(Access access, unsigned bufsize) : access_(access), bufsize_(bufsize) {}

Stream::~Stream() { close(); }

bool Stream::open(const char* name) {
    if (isopen() || !name)
        return false;
    if (access_ == READ && isDirectory(name))
        return false;
    return openFile(name, access_ == READ ? kReadFlags : kNewFlags);
}

bool Stream::openFile(const char* name, int flags) {
    const std::size_t cap = bufsize_ > 0 ? bufsize_ : kDefaultBuffer;
    // The buffer first: running out of memory then leaves no descriptor open.
    char* buf = new (std::nothrow) char[cap];
    if (!buf)
        return false;
    int fd;
    do
        fd = ::open(name, flags | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        delete[] buf;
        return false;
    }
    fd_ = fd;
    buf_ = cur_ = buf;
    cap_ = cap;
    end_ = access_ == READ ? buf_ : buf_ + cap_;
    rlim_ = buf_;
    wlim_ = access_ == WRITE ? end_ : buf_;
    bufPos_ = 0;
    extent_ = 0;
    writeFailed_ = false;
    error_ = ERR_NONE;
    return true;
}

bool Stream::close() {
    if (file_) {
        bool ok = std::fflush(file_) == 0 && !writeFailed_;
        file_ = nullptr;
        return ok;
    }
    if (fd_ < 0)
        return true;
    bool ok = access_ != WRITE || (drain() && !writeFailed_);
    if (ioCalls.close(fd_) != 0)
        ok = false;
    delete[] buf_;
    fd_ = -1;
    buf_ = cur_ = end_ = rlim_ = wlim_ = nullptr;
    cap_ = 0;
    return ok;
}

// A write that failed: this and every later write is refused.
void Stream::failWrite() {
    writeFailed_ = true;
    wlim_ = buf_;
    fail(ERR_IO);
}

// Writes out what the buffer holds.
bool Stream::drain() {
    const std::size_t n = static_cast<std::size_t>(cur_ - buf_);
    if (n == 0)
        return true;
    if (!putAll(fd_, buf_, n)) {
        failWrite();
        return false;
    }
    bufPos_ += static_cast<int64_t>(n);
    cur_ = buf_;
    return true;
}

// Reads the next bytes of the file into the emptied buffer.
bool Stream::refill() {
    assert(cur_ == end_ && "the buffer is refilled only once every byte in it was read");
    const int64_t at = bufPos_ + (end_ - buf_);
    ssize_t r = getSome(fd_, buf_, cap_);
    if (r <= 0) {
        fail(r == 0 ? ERR_EOF : ERR_IO);
        return false;
    }
    bufPos_ = at;
    cur_ = buf_;
    end_ = rlim_ = buf_ + r;
    return true;
}

bool Stream::writebytes(const void* data, std::size_t n) {
    if (!isopen()) {
        fail(ERR_NOTOPEN);
        return false;
    }
    // Bytes written after a lost one would land where the lost ones belong.
    if (writeFailed_) {
        fail(ERR_IO);
        return false;
    }
    if (file_) {
        if (n > 0 && std::fwrite(data, 1, n, file_) != n) {
            failWrite();
            return false;
        }
        return true;
    }
    if (access_ != WRITE) {
        failWrite();
        return false;
    }
    const char* from = static_cast<const char*>(data);
    if (n <= static_cast<std::size_t>(end_ - cur_)) {
        if (n > 0)
            std::memcpy(cur_, from, n);
        cur_ += n;
        return true;
    }
    if (!drain())
        return false;
    if (n >= cap_) {
        if (!putAll(fd_, from, n)) {
            failWrite();
            return false;
        }
        bufPos_ += static_cast<int64_t>(n);
        return true;
    }
    std::memcpy(cur_, from, n);
    cur_ += n;
    return true;
}

bool Stream::readbytes(void* data, std::size_t n) {
    if (!isopen()) {
        fail(ERR_NOTOPEN);
        return false;
    }
    // After a failed read the position is not to be trusted: nothing more is
    // read until the caller clears the error.
    if (error_ != ERR_NONE)
        return false;
    if (file_) {
        if (n > 0 && std::fread(data, 1, n, file_) != n) {
            fail(std::ferror(file_) ? ERR_IO : ERR_EOF);
            return false;
        }
        return true;
    }
    if (access_ != READ) {
        fail(ERR_IO);
        return false;
    }
    char* to = static_cast<char*>(data);
    for (;;) {
        const std::size_t have = std::min(n, static_cast<std::size_t>(end_ - cur_));
        if (have > 0)
            std::memcpy(to, cur_, have);
        cur_ += have;
        to += have;
        n -= have;
        if (n == 0)
            return true;
        if (n < cap_) {
            if (!refill())
                return false;
            continue;
        }
        // A large read goes straight into the caller's memory.
        ssize_t r = getSome(fd_, to, n);
        if (r <= 0) {
            fail(r == 0 ? ERR_EOF : ERR_IO);
            return false;
        }
        bufPos_ += (end_ - buf_) + r;
        cur_ = end_ = rlim_ = buf_;
        to += r;
        n -= static_cast<std::size_t>(r);
    }
}

void Stream::writeint8(int8_t v) { writebytes(&v, 1); }

void Stream::writeint16(int16_t v) {
    unsigned char b[2];
    putLE(b, static_cast<uint16_t>(v));
    writebytes(b, sizeof b);
}

void Stream::writeSlow(unsigned int v) {
    unsigned char b[4];
    putLE(b, static_cast<uint32_t>(v));
    writebytes(b, sizeof b);
}

void Stream::writestring(const char* s) {
    std::size_t n = s ? std::strlen(s) : 0;
    if (n > UINT32_MAX) {
        failWrite();
        return;
    }
    write(static_cast<unsigned int>(n));
    writebytes(s, n);
}

int8_t Stream::readint8() {
    unsigned char b = 0;
    return readbytes(&b, 1) ? static_cast<int8_t>(b) : 0;
}

int16_t Stream::readint16() {
    unsigned char b[2];
    return readbytes(b, sizeof b) ? static_cast<int16_t>(getLE<uint16_t>(b)) : 0;
}

int Stream::readint32(int* v) {
    unsigned int u = 0;
    int ok = read(u);
    if (v)
        *v = static_cast<int>(u);
    return ok;
}

int Stream::readSlow(unsigned int& v) {
    unsigned char b[4];
    if (!readbytes(b, sizeof b)) {
        v = 0;
        return 0;
    }
    v = getLE<uint32_t>(b);
    return 1;
}

// Bytes between the position and the end of the file, or -1 when the file is
// not a regular file of the stream's own.
int64_t Stream::bytesLeft() {
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<int64_t>(st.st_size) - getfoffset();
}

unsigned int Stream::readlength() {
    unsigned int len = 0;
    if (!read(len))
        return 0;
    // Long texts are checked against the file before anything is sized by
    // them; a short one that runs past the end fails in readtext.
    if (len > kCheckedLength) {
        int64_t left = bytesLeft();
        if (left >= 0 && static_cast<int64_t>(len) > left) {
            fail(ERR_CORRUPT);
            return 0;
        }
    }
    return len;
}

bool Stream::readtext(void* data, std::size_t n) {
    if (readbytes(data, n))
        return true;
    if (error_ == ERR_EOF)
        error_ = ERR_CORRUPT;  // the length promised more than the file holds
    return false;
}

bool Stream::skip(std::size_t n) {
    // Small steps: no allocation sized by the file.
    while (n > 0) {
        char scratch[512];
        std::size_t step = n < sizeof scratch ? n : sizeof scratch;
        if (!readtext(scratch, step))
            return false;
        n -= step;
    }
    return true;
}

unsigned Stream::readstring(char* buf, unsigned max) {
    if (buf && max > 0)
        buf[0] = '\0';
    unsigned int len = readlength();
    if (error_ != ERR_NONE)
        return 0;
    unsigned keep = (buf && max > 0) ? (len < max ? len : max - 1) : 0;
    if (!readtext(buf, keep))
        return 0;
    if (buf && max > 0)
        buf[keep] = '\0';
    if (!skip(len - keep)) {
        if (buf && max > 0)
            buf[0] = '\0';
        return 0;
    }
    return len < max ? len : max;
}

std::size_t Stream::readstring(std::string& text, std::size_t max) {
    text.clear();
    unsigned int len = readlength();
    if (error_ != ERR_NONE)
        return 0;
    if (len > max)
        return skip(len) ? len : 0;
    // In pieces, so that the memory taken follows the bytes that arrive: a
    // pipe cannot tell that a length announces more than will ever come.
    for (std::size_t done = 0; done < len;) {
        const std::size_t step = std::min<std::size_t>(len - done, kTextPiece);
        text.resize(done + step);
        if (!readtext(text.data() + done, step)) {
            std::string().swap(text);
            return 0;
        }
        done += step;
    }
    return len;
}

int64_t Stream::getfoffset() {
    if (file_)
        return static_cast<int64_t>(::ftello(file_));
    if (fd_ < 0)
        return -1;
    return bufPos_ + (cur_ - buf_);
}

int64_t Stream::getfextent() {
    const int64_t at = getfoffset();
    return at < 0 ? at : std::max(extent_, at);
}

bool Stream::setfoffset(int64_t offset) {
    if (!isopen() || offset < 0 || (file_ && ::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0)) {
        // For a writing stream a failed seek may have lost buffered bytes, and
        // writing on would put the next ones in the wrong place.
        if (isopen() && access_ == WRITE)
            failWrite();
        else
            fail(isopen() ? ERR_IO : ERR_NOTOPEN);
        return false;
    }
    if (file_)
        return true;
    extent_ = std::max(extent_, getfoffset());
    if (access_ == READ) {
        // Inside the bytes already read, the seek costs nothing.
        if (offset >= bufPos_ && offset <= bufPos_ + (end_ - buf_)) {
            cur_ = buf_ + (offset - bufPos_);
            return true;
        }
        if (ioCalls.lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
            fail(ERR_IO);
            return false;
        }
        bufPos_ = offset;
        cur_ = end_ = buf_;
        rlim_ = buf_;
        return true;
    }
    if (offset == getfoffset())
        return true;
    if (!drain())
        return false;
    if (ioCalls.lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
        failWrite();
        return false;
    }
    bufPos_ = offset;
    return true;
}

bool Stream::flush() {
    if (file_) {
        if (std::fflush(file_) != 0) {
            failWrite();
            return false;
        }
        return !writeFailed_;
    }
    if (fd_ < 0)
        return false;
    if (access_ == WRITE)
        drain();
    return !writeFailed_;
}

Stream& Stream::operator<<(const char* text) {
    if (text)
        writebytes(text, std::strlen(text));
    return *this;
}

Stream& Stream::operator<<(char c) {
    writebytes(&c, 1);
    return *this;
}

Stream& Stream::operator<<(int v) { return *this << std::to_string(v).c_str(); }
Stream& Stream::operator<<(unsigned int v) { return *this << std::to_string(v).c_str(); }

Stream& Stream::operator<<(const void* p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", p);
    return *this << buf;
}

Stream* File::open(const char* name, Stream::Access access, bool fromStart) {
    if (!name || isDirectory(name))
        return nullptr;
    const int flags = access == Stream::READ ? kReadFlags : (fromStart ? kNewFlags : kKeepFlags);
    auto* s = new Stream(access, 0);
    if (!s->openFile(name, flags)) {
        delete s;
        return nullptr;
    }
    return s;
}

bool File::sync(const char* name) {
    if (!name)
        return false;
    int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ioCalls.fsync(fd) == 0;
    return ioCalls.close(fd) == 0 && ok;
}

bool File::syncdir(const char* name) {
    if (!name)
        return false;
    std::string dir(name);
    const std::size_t slash = dir.find_last_of('/');
    dir = slash == std::string::npos ? "." : slash == 0 ? "/" : dir.substr(0, slash);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ioCalls.fsync(fd) == 0 || errno == EINVAL;
    return ioCalls.close(fd) == 0 && ok;
}

bool File::close(Stream* stream) {
    if (!stream || stream == &getCout())
        return stream ? stream->flush() : false;
    bool ok = stream->close();
    delete stream;
    return ok;
}

int64_t File::size(const char* name) {
    struct stat st;
    if (!name || ::stat(name, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<int64_t>(st.st_size);
}

bool File::exist(const char* name) {
    struct stat st;
    return name && ::stat(name, &st) == 0;
}

bool File::canwrite(const char* name) {
    if (!name || !*name)
        return false;
    if (::access(name, F_OK) == 0)
        return ::access(name, W_OK) == 0 && !isDirectory(name);
    std::string dir = name;
    std::size_t slash = dir.find_last_of('/');
    dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
    return ::access(dir.c_str(), W_OK) == 0;
}

void File::makeunixpath(char* path) {
    for (; path && *path; ++path)
        if (*path == '\\')
            *path = '/';
}

Stream& File::getCout() {
    static Stream* out = [] {
        Stream* s = new Stream(Stream::WRITE, 0);
        s->file_ = stdout;
        return s;
    }();
    return *out;
}

}  // namespace Port
