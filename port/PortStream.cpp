// PortStream.cpp - binary streams on stdio files.
#include "PortStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

#ifdef __GLIBC__
// stdio over our own calls: the buffering stays stdio's, every transfer to
// the system goes through ioCalls. The cookie is the descriptor itself.
int fdOf(void* cookie) { return static_cast<int>(reinterpret_cast<intptr_t>(cookie)); }

ssize_t cookieRead(void* cookie, char* buf, std::size_t n) {
    ssize_t r;
    do
        r = ioCalls.read(fdOf(cookie), buf, n);
    while (r < 0 && errno == EINTR);
    return r;
}

// Writes all or reports how much went: stdio marks the file failed when the
// count is short (a negative result is not allowed here).
ssize_t cookieWrite(void* cookie, const char* buf, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        ssize_t r = ioCalls.write(fdOf(cookie), buf + done, n - done);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += static_cast<std::size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

int cookieSeek(void* cookie, off64_t* offset, int whence) {
    off_t r = ioCalls.lseek(fdOf(cookie), static_cast<off_t>(*offset), whence);
    if (r < 0)
        return -1;
    *offset = r;
    return 0;
}

int cookieClose(void* cookie) { return ioCalls.close(fdOf(cookie)) == 0 ? 0 : -1; }

std::FILE* streamOn(int fd, const char* mode) {
    cookie_io_functions_t io{cookieRead, cookieWrite, cookieSeek, cookieClose};
    return ::fopencookie(reinterpret_cast<void*>(static_cast<intptr_t>(fd)), mode, io);
}
#else
std::FILE* streamOn(int fd, const char* mode) { return ::fdopen(fd, mode); }
#endif

// Opens `name` with an fopen mode ("rb", "wb" or "r+b"); the descriptor is
// returned in `fd`.
std::FILE* openMode(const char* name, const char* mode, int& fd) {
    int flags = mode[0] == 'w' ? O_WRONLY | O_CREAT | O_TRUNC : std::strchr(mode, '+') ? O_RDWR : O_RDONLY;
    do
        fd = ::open(name, flags | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return nullptr;
    std::FILE* f = streamOn(fd, mode);
    if (!f) {
        ::close(fd);
        fd = -1;
    }
    return f;
}

// A stream on a file of its own is used by one thread at a time, so stdio's
// per-call locking is skipped where the C library allows it; shared files
// (standard output) keep it.
std::size_t putBytes(const void* data, std::size_t n, std::FILE* f, bool own) {
#ifdef __GLIBC__
    if (own)
        return ::fwrite_unlocked(data, 1, n, f);
#endif
    (void)own;
    return std::fwrite(data, 1, n, f);
}

std::size_t getBytes(void* data, std::size_t n, std::FILE* f, bool own) {
#ifdef __GLIBC__
    if (own)
        return ::fread_unlocked(data, 1, n, f);
#endif
    (void)own;
    return std::fread(data, 1, n, f);
}

// The buffer of a stream made by File::open: one page.
constexpr unsigned kFileBuffer = 4096;

// String lengths above this are checked against the size of the file.
constexpr unsigned int kCheckedLength = 4096;

bool isDirectory(const char* name) {
    struct stat st;
    return ::stat(name, &st) == 0 && S_ISDIR(st.st_mode);
}

// Bytes between the position of `f` and the end of its file, or -1 when the
// file is not a regular file.
int64_t bytesLeft(std::FILE* f, int fd) {
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    off_t pos = ::ftello(f);
    if (pos < 0)
        return -1;
    return static_cast<int64_t>(st.st_size) - static_cast<int64_t>(pos);
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

bool Stream::attach(std::FILE* file, bool owned, int fd) {
    if (!file)
        return false;
    file_ = file;
    fd_ = fd;
    owned_ = owned;
    // Own files are opened at their start; a shared one's position is asked
    // for each time.
    pos_ = owned ? 0 : -1;
    writeFailed_ = false;
    error_ = ERR_NONE;
    if (bufsize_ > 0 && owned)
        std::setvbuf(file_, nullptr, _IOFBF, bufsize_);
    return true;
}

bool Stream::open(const char* name) {
    if (file_ || !name)
        return false;
    if (access_ == READ && isDirectory(name))
        return false;
    return openFile(name, access_ == READ ? "rb" : "wb");
}

bool Stream::openFile(const char* name, const char* mode) {
    int fd = -1;
    std::FILE* f = openMode(name, mode, fd);
    return attach(f, true, fd);
}

bool Stream::close() {
    if (!file_)
        return true;
    bool ok = std::fflush(file_) == 0 && !writeFailed_;
    if (owned_ && std::fclose(file_) != 0)
        ok = false;
    file_ = nullptr;
    fd_ = -1;
    return ok;
}

bool Stream::writeBytes(const void* data, std::size_t n) {
    if (!file_) {
        fail(ERR_NOTOPEN);
        return false;
    }
    // Bytes written after a lost one would land where the lost ones belong.
    if (writeFailed_) {
        fail(ERR_IO);
        return false;
    }
    if (n > 0 && putBytes(data, n, file_, owned_) != n) {
        pos_ = -1;
        writeFailed_ = true;
        fail(ERR_IO);
        return false;
    }
    if (pos_ >= 0)
        pos_ += static_cast<int64_t>(n);
    return true;
}

bool Stream::readBytes(void* data, std::size_t n) {
    if (!file_) {
        fail(ERR_NOTOPEN);
        return false;
    }
    // After a failed read the position is not to be trusted: nothing more is
    // read until the caller clears the error.
    if (error_ != ERR_NONE)
        return false;
    if (n > 0 && getBytes(data, n, file_, owned_) != n) {
        pos_ = -1;
        fail(std::ferror(file_) ? ERR_IO : ERR_EOF);
        return false;
    }
    if (pos_ >= 0)
        pos_ += static_cast<int64_t>(n);
    return true;
}

void Stream::writeint8(int8_t v) { writeBytes(&v, 1); }

void Stream::writeint16(int16_t v) {
    unsigned char b[2];
    putLE(b, static_cast<uint16_t>(v));
    writeBytes(b, sizeof b);
}

void Stream::writeSlow(unsigned int v) {
    unsigned char b[4];
    putLE(b, static_cast<uint32_t>(v));
    writeBytes(b, sizeof b);
}

void Stream::writestring(const char* s) {
    std::size_t n = s ? std::strlen(s) : 0;
    if (n > UINT32_MAX) {
        fail(ERR_IO);
        writeFailed_ = true;
        return;
    }
    write(static_cast<unsigned int>(n));
    writeBytes(s, n);
}

bool Stream::writebytes(const void* data, std::size_t n) { return writeBytes(data, n); }

bool Stream::readbytes(void* data, std::size_t n) { return readBytes(data, n); }

int8_t Stream::readint8() {
    unsigned char b = 0;
    return readBytes(&b, 1) ? static_cast<int8_t>(b) : 0;
}

int16_t Stream::readint16() {
    unsigned char b[2];
    return readBytes(b, sizeof b) ? static_cast<int16_t>(getLE<uint16_t>(b)) : 0;
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
    if (!readBytes(b, sizeof b)) {
        v = 0;
        return 0;
    }
    v = getLE<uint32_t>(b);
    return 1;
}

unsigned int Stream::readlength() {
    unsigned int len = 0;
    if (!read(len))
        return 0;
    // Long texts are checked against the file before anything is sized by
    // them; a short one that runs past the end fails in readtext.
    if (len > kCheckedLength) {
        int64_t left = bytesLeft(file_, fd_);
        if (left >= 0 && static_cast<int64_t>(len) > left) {
            fail(ERR_CORRUPT);
            return 0;
        }
    }
    return len;
}

bool Stream::readtext(void* data, std::size_t n) {
    if (readBytes(data, n))
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
    text.resize(len);
    if (!readtext(text.data(), len)) {
        text.clear();
        return 0;
    }
    return len;
}

int64_t Stream::getfoffset() {
    if (!file_)
        return -1;
    if (pos_ < 0)
        return static_cast<int64_t>(::ftello(file_));
    return pos_;
}

bool Stream::setfoffset(int64_t offset) {
    // Seeking where the stream already is would only cost stdio its buffer.
    if (file_ && offset >= 0 && offset == pos_)
        return true;
    if (!file_ || offset < 0 || ::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) {
        // A seek flushes what is buffered; for a writing stream its failure
        // may have lost bytes, and writing on would put the next ones in the
        // wrong place.
        if (file_ && access_ == WRITE)
            writeFailed_ = true;
        pos_ = -1;
        fail(file_ ? ERR_IO : ERR_NOTOPEN);
        return false;
    }
    if (owned_)
        pos_ = offset;
    return true;
}

bool Stream::flush() {
    if (!file_)
        return false;
    if (std::fflush(file_) != 0) {
        writeFailed_ = true;
        fail(ERR_IO);
        return false;
    }
    return !writeFailed_;
}

Stream& Stream::operator<<(const char* text) {
    if (text)
        writeBytes(text, std::strlen(text));
    return *this;
}

Stream& Stream::operator<<(char c) {
    writeBytes(&c, 1);
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
    const char* mode = access == Stream::READ ? "rb" : (fromStart ? "wb" : "r+b");
    auto* s = new Stream(access, kFileBuffer);
    if (!s->openFile(name, mode)) {
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
        s->attach(stdout, false, -1);
        return s;
    }();
    return *out;
}

}  // namespace Port
