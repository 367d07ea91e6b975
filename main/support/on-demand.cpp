#include "support/on-demand.h"

#include <dlfcn.h>

#include <mutex>

namespace host {
namespace {
std::mutex loading;
}

bool OnDemandLibraries::load(std::string* why) {
    std::lock_guard lock(loading);
    if (!tried_) {
        tried_ = true;
        for (const char* soname : sonames_) {
            void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                const char* text = dlerror();
                failure_ = text ? text : std::string(soname) + " cannot be loaded";
                handles_.clear();  // all or none: a half set would fail call by call
                break;
            }
            handles_.push_back(handle);  // never closed: its functions stay in use
        }
    }
    if (handles_.empty() && why) *why = failure_;
    return !handles_.empty();
}

void* OnDemandLibraries::symbol(const char* name) {
    if (!load()) return nullptr;
    for (void* handle : handles_) {
        if (void* found = dlsym(handle, name)) return found;
    }
    return nullptr;
}

}  // namespace host
