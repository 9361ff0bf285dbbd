// Fuzzes loading a segmented file and reading every segment, with the file
// cache on and off. A bad file must be refused (false or a fatal report);
// whatever loads must read back, from inside the file, the bytes of the
// segment each name finds (of two entries with one name, the later).
#include "FuzzFile.h"

#include <UtilIfile.h>

#include <PortMsg.h>
#include <PortStream.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void readEverything(const std::string& path, unsigned char cache, size_t size) {
    UT_IFILE f;
    f.setfilecache(cache);
    try {
        if (!f.load(path.c_str())) {
            f.unload();
            return;
        }
        UT_IFILESEGINFO info;
        for (int i = 0; f.getseginfo(i, info); ++i) {
            std::string name = info.getName();
            Port::Stream* s = f.getdataseg(const_cast<char*>(name.c_str()), -1, &info);
            if (!s)
                continue;
            if (size_t(s->getfoffset()) + size_t(info.getsize()) > size)
                std::abort();  // a loaded segment must lie inside the file
            std::vector<char> bytes(static_cast<size_t>(info.getsize()));
            if (!s->readbytes(bytes.data(), bytes.size()))
                std::abort();
            f.enddataseg();
        }
    } catch (const Port::FatalError&) {
    }
    f.unload();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Port::setMsgSink([](const Port::Message&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = FuzzFile::path("segfile_fuzz");
    if (!FuzzFile::store(path, data, size))
        return 0;
    readEverything(path, 1, size);
    readEverything(path, 0, size);
    return 0;
}
