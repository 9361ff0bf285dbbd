// Fuzzes reading a name-cache image into both caches, then fixing up the
// pointers that follow it. A bad image must end in a fatal report with the
// caches unchanged; a good one must read back the same from both caches.
#include "FuzzFile.h"

#include <UtilCname.h>
#include <UtilNameCache.h>
#include <UtilPtrfile.h>

#include <PortMsg.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "name_image_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Port::setMsgSink([](const Port::Message&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = FuzzFile::path("name_image_fuzz");
    if (!FuzzFile::store(path, data, size))
        return 0;
    UT_NCH_CACHE tree(0, 64);
    tree.add("kept_name", 3);
    Util::NameCache::Cache map(64u);
    map.add("kept_name", 3);

    bool treeRead = false, mapRead = false;
    {
        UT_PTRFILE in(Port::Stream::READ);
        if (!in.open(path.c_str()))
            return 0;
        try {
            tree.read(&in);
            treeRead = true;
            // Whatever follows: pointer fields waiting for the names' identities.
            void* fields[16] = {};
            for (auto& field : fields) {
                if (!in.readptr(field))
                    break;
                in.fixptr(&field);
            }
            while (in.checkptrs()) {
            }
            in.flush_fixtable();
        } catch (const Port::FatalError&) {
        }
    }
    {
        UT_PTRFILE in(Port::Stream::READ);
        if (!in.open(path.c_str()))
            return 0;
        try {
            map.read(&in);
            mapRead = true;
        } catch (const Port::FatalError&) {
        }
    }
    if (treeRead != mapRead)
        broken("the caches disagree on the image");
    if (tree.get_count() != map.size())
        broken("the caches read different names");
    if (!treeRead && (tree.get_count() != 1 || tree.find("kept_name")->getRefCount() != 3 ||
                      map.find("kept_name")->getRefCount() != 3))
        broken("a refused image changed a cache");
    tree.clean();
    tree.flush();
    return 0;
}
