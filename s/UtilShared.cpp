// UtilShared.cpp - the shared resource registry.
#include "UtilStatics.h"

#include <UtilShared.h>

#include <mutex>

namespace {

std::mutex& registryLock() {
    static std::mutex* lock = new std::mutex;  // outlives every caller
    return *lock;
}

}  // namespace

namespace Util {

IllegalMethodCalledException::~IllegalMethodCalledException() = default;

namespace Details {

std::map<std::string, void*>* SharedResourceMgr::type_instance_map = nullptr;

// Makes the map at load and releases it at unload, unless destroy() did.
struct RegistryLifetime {
    ~RegistryLifetime() { SharedResourceMgr::destroy(); }
    static void create() {
        static RegistryLifetime lifetime;
        std::lock_guard<std::mutex> hold(registryLock());
        if (!SharedResourceMgr::type_instance_map)
            SharedResourceMgr::type_instance_map = new std::map<std::string, void*>;
    }
};

void* SharedResourceMgr::find(std::string key) {
    std::lock_guard<std::mutex> hold(registryLock());
    if (!type_instance_map)
        return nullptr;
    auto it = type_instance_map->find(key);
    return it == type_instance_map->end() ? nullptr : it->second;
}

void SharedResourceMgr::insert(std::string key, void* resource) {
    std::lock_guard<std::mutex> hold(registryLock());
    if (type_instance_map)
        type_instance_map->emplace(std::move(key), resource);
}

void SharedResourceMgr::erase(std::string key) {
    std::lock_guard<std::mutex> hold(registryLock());
    if (type_instance_map)
        type_instance_map->erase(key);
}

void SharedResourceMgr::destroy() {
    std::lock_guard<std::mutex> hold(registryLock());
    delete type_instance_map;
    type_instance_map = nullptr;
}

}  // namespace Details
}  // namespace Util

namespace Util::Statics {

void makeSharedResourceMap() { Details::RegistryLifetime::create(); }

}  // namespace Util::Statics
