// Fuzzes the pointer-fixing file both ways.
//  - Reading: the input is a file of identities. Each one read is either
//    registered (to one of a few objects) or left to be fixed, as the bits of
//    the identity say, with the table flushed now and then; every checkptrs
//    pass must end. Conflicting registrations are fatal reports.
//  - Round trip: the input picks a sequence of pointers (null or one of the
//    objects); they are written, read back, fixed against a second set of
//    objects, and each field must point at the matching new object.
#include "FuzzFile.h"

#include <UtilPtrfile.h>

#include <PortMsg.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr size_t kObjects = 64;

[[noreturn]] void broken() { std::abort(); }

void readArbitrary(const std::string& path, size_t size) {
    int objects[kObjects] = {};
    std::vector<void*> fields;
    fields.reserve(size / 4 + 1);  // fixptr keeps the field's address: no reallocation
    UT_PTRFILE f(Port::Stream::READ);
    if (!f.open(path.c_str()))
        return;
    try {
        void* p = nullptr;
        while (f.readptr(p) == 1) {
            const auto id = reinterpret_cast<uintptr_t>(p);
            if (id & 1)
                f.registerptr(p, &objects[(id >> 1) % kObjects]);
            else {
                fields.push_back(p);
                f.fixptr(&fields.back());
            }
            if (id % 97 == 3)
                f.flush_fixtable();
        }
        size_t pending = 0;
        while (f.checkptrs())
            if (++pending > fields.size())
                broken();
    } catch (const Port::Exception&) {
    }
    f.close();
}

// Each input byte is a record: 0xFF a null field, 0x80 and up an object
// (which writes itself), below 0x80 a field pointing at an object.
void roundTrip(const std::string& path, const uint8_t* data, size_t size) {
    int before[kObjects] = {}, after[kObjects] = {};
    bool written[kObjects] = {};
    auto object = [](uint8_t b) { return b % kObjects; };
    {
        UT_PTRFILE w(Port::Stream::WRITE);
        if (!w.open(path.c_str()))
            return;
        for (size_t i = 0; i < size; ++i)
            w.writeptr(data[i] == 0xFF ? nullptr : &before[object(data[i])]);
        w.close();
    }
    UT_PTRFILE r(Port::Stream::READ);
    if (!r.open(path.c_str()))
        return;
    std::vector<void*> fields(size);
    for (size_t i = 0; i < size; ++i) {
        if (r.readptr(fields[i]) != 1)
            broken();
        if (data[i] != 0xFF && data[i] >= 0x80) {
            r.registerptr(fields[i], &after[object(data[i])]);
            written[object(data[i])] = true;
        } else {
            r.fixptr(&fields[i]);
        }
    }
    size_t unresolved = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF) {
            if (fields[i])
                broken();
        } else if (data[i] < 0x80) {
            if (written[object(data[i])] ? fields[i] != &after[object(data[i])] : fields[i] == &after[object(data[i])])
                broken();
            unresolved += !written[object(data[i])];
        }
    }
    while (r.checkptrs())
        if (unresolved-- == 0)
            broken();
    if (unresolved != 0)
        broken();
    r.close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = FuzzFile::path("ptrfile");
    static const bool quiet = (Port::setMsgSink([](const Port::Message&) {}), true);
    (void)quiet;
    if (size < 1)
        return 0;
    if (data[0] & 1) {
        roundTrip(path, data + 1, size - 1);
        return 0;
    }
    if (FuzzFile::store(path, data + 1, size - 1))
        readArbitrary(path, size - 1);
    return 0;
}
