// PortStream.h - buffered binary streams on files.
//
// Byte order and string encoding, whatever the host:
//
// | item                 | bytes   | encoding                                   |
// |----------------------|---------|--------------------------------------------|
// | writeint8 / readint8 | 1       | two's complement                           |
// | writeint16 / ...16   | 2       | two's complement, little-endian            |
// | writeint32 / ...32   | 4       | two's complement, little-endian            |
// | write / read         | 4       | unsigned, little-endian                    |
// | writestring          | 4 + n   | n as unsigned 32-bit little-endian, then   |
// |                      |         | the n bytes of the text, no terminator     |
//
// A read past the end of the file, a string length longer than what is left of
// the file, or any I/O failure sets geterror() to a non-zero Stream::Error;
// the value read is then 0 (or the empty text) and no buffer is overrun. The
// error stays set, and every further read fails, until clearerror().
//
// A Stream constructed directly is bound to a file by open(name) and released
// by close(); Port::File::open makes and binds one in a single step.
//
// Own files are buffered by the stream itself (not stdio), and every transfer
// to the system goes through the replaceable IoCalls below.
//
// Writing: a failed write, flush or seek of a writing stream marks it failed
// for good: every later write is refused, and close() returns false. So a
// caller that checks close() never takes a half-written file for a whole one.
//
// So a stream has two failure states. geterror() is the first error met
// since the last clearerror(), by a read or a write; clearerror() resets it
// and lets reads go on. The write-failed mark is the file's: clearerror()
// leaves it, and writes stay refused until close(). A write on a reading
// stream is refused the same way (it sets both).
//
// Lives in: port/PortStream.cpp; tests: tests/port_test.cpp, tests/write_fault_test.cpp; docs:
//   docs/streams.md.
#pragma once

#include "PortExport.h"

#include <sys/types.h>

#include <bit>
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace Port {

// The system calls under every file a Stream owns and under File::sync. The
// defaults are the POSIX calls; a test replaces them to make a chosen call
// fail, as a full disk or a failing device would. Replace them only while no
// other thread uses a file.
struct IoCalls {
    ssize_t (*read)(int fd, void* buf, std::size_t n);
    ssize_t (*write)(int fd, const void* buf, std::size_t n);
    off_t (*lseek)(int fd, off_t offset, int whence);
    int (*fsync)(int fd);
    int (*close)(int fd);
};
// Installs `calls` and returns the ones they replace.
PORT_EXPORT IoCalls setIoCalls(const IoCalls& calls);
PORT_EXPORT const IoCalls& defaultIoCalls();

class PORT_EXPORT Stream {
public:
    enum Access { READ = 1, WRITE = 2 };
    enum Error { ERR_NONE = 0, ERR_EOF = 1, ERR_CORRUPT = 2, ERR_IO = 3, ERR_NOTOPEN = 4 };

    // `bufsize` is the size of the stream's buffer in bytes (0: the default).
    Stream(Access access, unsigned bufsize);
    virtual ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // READ: an existing file (not a directory), from its start. WRITE: a new,
    // empty file. Returns false (and stays closed) when the file cannot be
    // opened or the stream is already open.
    bool open(const char* name);
    // Flushes and releases the file. Returns false when anything written to the
    // stream since it was opened failed to reach the file (a failed write,
    // flush, seek or close).
    bool close();
    bool isopen() const { return fd_ >= 0 || file_ != nullptr; }
    Access getaccess() const { return access_; }

    void writeint8(int8_t v);
    void writeint16(int16_t v);
    void writeint32(int32_t v) { write(static_cast<unsigned int>(v)); }
    // Inline on a little-endian host while the buffer has room: the four
    // bytes go straight into it. Elsewhere the out-of-line path orders the
    // bytes, and it handles a full buffer, a failed stream and standard output.
    void write(unsigned int v) {
        if (std::endian::native == std::endian::little && wlim_ - cur_ >= 4) {
            std::memcpy(cur_, &v, 4);
            cur_ += 4;
            return;
        }
        writeSlow(v);
    }
    // Writes the text of `s` (a null `s` as the empty text).
    void writestring(const char* s);
    // Raw bytes, as they are. Returns false when they could not be written.
    bool writebytes(const void* data, std::size_t n);

    int8_t readint8();
    int16_t readint16();
    int32_t readint32() {
        unsigned int v = 0;
        read(v);
        return static_cast<int32_t>(v);
    }
    // The forms with an out parameter return 1 when a value was read and 0 when
    // not; the out parameter is then 0.
    int readint32(int* v);
    // Inline on a little-endian host while the buffer holds the four bytes
    // and no error is set (see write).
    int read(unsigned int& v) {
        if (std::endian::native == std::endian::little && rlim_ - cur_ >= 4) {
            std::memcpy(&v, cur_, 4);
            cur_ += 4;
            return 1;
        }
        return readSlow(v);
    }

    // Raw bytes: true when all `n` were read.
    bool readbytes(void* data, std::size_t n);

    // Reads one string into `buf`, which holds `max` bytes. A text of fewer
    // than `max` characters is stored whole with its terminator and its length
    // is returned. A longer one is cut to max - 1 characters (terminated) and
    // `max` is returned: a result equal to `max` means the text did not fit.
    // The stream always moves past the whole string.
    unsigned readstring(char* buf, unsigned max);
    // Reads one string into `text` when it has at most `max` characters.
    // Returns the length the file gives; when that exceeds `max` the stream
    // moves past the text and `text` stays empty. 0 (and geterror()) on failure.
    std::size_t readstring(std::string& text, std::size_t max);

    // Absolute byte position; -1 when closed or on failure.
    int64_t getfoffset();
    bool setfoffset(int64_t offset);
    // The furthest position the stream has stood at since it was opened: the
    // end of what was written, even after a seek back to patch a byte before
    // it. -1 when closed.
    int64_t getfextent();

    // The first error since the last clearerror() (ERR_NONE: none).
    int geterror() const { return error_; }
    // Resets geterror() and lets reads resume; a write failure stays (see above).
    void clearerror() {
        error_ = ERR_NONE;
        if (access_ == READ)
            rlim_ = end_;
    }
    bool flush();

    // Human-readable output, for dumps.
    Stream& operator<<(const char* text);
    Stream& operator<<(char c);
    Stream& operator<<(int v);
    Stream& operator<<(unsigned int v);
    Stream& operator<<(const void* p);

private:
    friend class File;
    bool openFile(const char* name, int flags);
    void writeSlow(unsigned int v);
    int readSlow(unsigned int& v);
    // A string's length, checked against what is left of the file.
    unsigned int readlength();
    int64_t bytesLeft();
    bool skip(std::size_t n);
    bool readtext(void* data, std::size_t n);
    bool drain();
    bool refill();
    void failWrite();
    void fail(Error e) {
        if (error_ == ERR_NONE)
            error_ = e;
        rlim_ = buf_;  // reads stop until clearerror
    }

    // An own file is read and written through the stream's own buffer, so
    // the position is always known without asking the system:
    //   READ:  buf_ .. end_ holds the file's bytes from bufPos_ on; cur_ is
    //          the next one; the descriptor stands at bufPos_ + (end_ - buf_).
    //   WRITE: buf_ .. cur_ holds bytes not yet written, which belong at
    //          bufPos_; the descriptor stands at bufPos_.
    // The inline paths run while cur_ is 4 or more bytes short of their limit:
    // rlim_ is end_ for a reading stream without error and buf_ otherwise;
    // wlim_ is buf_ + cap_ for a writing stream not failed and buf_ otherwise.
    // Standard output (file_) has no buffer here: all of these stay null.
    Access access_;              // READ or WRITE, fixed at construction
    unsigned bufsize_;           // the buffer's size for an own file (0: the default)
    int fd_ = -1;                // the descriptor of an own file; -1 when none
    std::FILE* file_ = nullptr;  // the shared stdio file (standard output); null otherwise
    char* buf_ = nullptr;        // an own file's buffer; null while closed
    std::size_t cap_ = 0;        // its size in bytes
    char* cur_ = nullptr;        // the next byte to read, or where the next one written goes
    char* end_ = nullptr;        // READ: the end of the bytes read; WRITE: buf_ + cap_
    char* rlim_ = nullptr;       // the inline read path's limit
    char* wlim_ = nullptr;       // the inline write path's limit
    int64_t bufPos_ = 0;         // the file position of buf_[0]
    int64_t extent_ = 0;         // the furthest position left by a seek since the file was opened
    bool writeFailed_ = false;   // a write, flush or seek failed: later writes are refused
    int error_ = ERR_NONE;       // the first error met since the last clearerror
};

class PORT_EXPORT File {
public:
    // A new stream on `name`, or null. With `fromStart` true the stream starts
    // at the beginning of the file (for writing: a new, empty file); with it
    // false an existing file is reopened for writing with its contents kept.
    static Stream* open(const char* name, Stream::Access access, bool fromStart);
    // Closes and deletes a stream that open() returned; returns what
    // Stream::close() returned.
    static bool close(Stream* stream);
    static bool exist(const char* name);
    // The size in bytes of a regular file, or -1.
    static int64_t size(const char* name);
    // True when the file can be written, or can be made in its directory.
    static bool canwrite(const char* name);
    // Forces the file's contents to the device (fsync); false when that fails
    // or the file cannot be opened. A caller replacing a file calls it on the
    // new file before renaming it over the old one.
    static bool sync(const char* name);
    // Forces the directory entry of `name` to the device: after a rename over
    // an old file, the rename itself then survives a power loss. False when
    // that fails; a file system that cannot sync a directory counts as done.
    static bool syncdir(const char* name);
    // Turns every '\' of `path` into '/', in place.
    static void makeunixpath(char* path);
    // The standard-output stream used by dumps without a stream argument.
    static Stream& getCout();
};

}  // namespace Port
