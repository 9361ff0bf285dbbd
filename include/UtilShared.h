// UtilShared.h - a process-wide registry from text keys to shared resources,
// and the exception for operations that must not be called.
//
// The registry maps whole strings (case and blanks count) to one pointer each;
// it never owns or releases what is registered. The first registration of a
// key stays until it is erased. The map exists from library load until
// destroy() or unload; after destroy() every operation finds nothing and
// changes nothing. Calls from several threads are serialised by a lock.
//
// Lives in: s/UtilShared.cpp; tests: tests/shared_test.cpp; docs: docs/utilities.md.
#pragma once

#include "UtilExport.h"

#include <PortMsg.h>

#include <map>
#include <string>

namespace Util {

class UTIL_EXPORT IllegalMethodCalledException : public Port::Exception {
public:
    IllegalMethodCalledException(const char* module, const char* file, const char* revision, int line,
                                 const char* message)
        : Port::Exception(module, file, revision, line, message) {}
    ~IllegalMethodCalledException() override;
};

namespace Details {

class UTIL_EXPORT SharedResourceMgr {
public:
    static void* find(std::string key);
    static void insert(std::string key, void* resource);
    static void erase(std::string key);
    static void destroy();
    SharedResourceMgr& operator=(const SharedResourceMgr&) { return *this; }

private:
    friend struct RegistryLifetime;
    // the resources by key, made on first use; never freed, as callers may hold them to exit
    static std::map<std::string, void*>* type_instance_map;
};

}  // namespace Details
}  // namespace Util
