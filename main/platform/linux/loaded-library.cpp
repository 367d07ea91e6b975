#include "platform/loaded-library.h"

#include <dlfcn.h>

namespace host::platform {
namespace {

// The loader's latest error text, which reading clears; "" when it has none.
std::string loaderError() {
    const char* text = dlerror();
    return text ? text : "";
}

class DynamicLibrary : public LoadedLibrary {
public:
    explicit DynamicLibrary(void* handle) : handle_(handle) {}

    LibraryEntry entry(const std::string& symbol, std::string* error) const override {
        loaderError();  // a stale text must not be taken for this lookup's
        void* address = dlsym(handle_, symbol.c_str());
        if (!address) {
            if (error) *error = loaderError();
            return nullptr;
        }
        // POSIX guarantees that an object pointer from dlsym converts to a function pointer.
        return reinterpret_cast<LibraryEntry>(address);
    }

private:
    void* handle_;  // never closed
};

}  // namespace

std::unique_ptr<LoadedLibrary> loadLibrary(const std::string& path, std::string* error) {
    // An empty name would hand back the host's own program.
    if (path.empty()) {
        if (error) *error = "no library path";
        return nullptr;
    }
    loaderError();
    void* handle = dlopen(path.c_str(), RTLD_NOW);
    if (!handle) {
        if (error) *error = loaderError();
        return nullptr;
    }
    return std::make_unique<DynamicLibrary>(handle);
}

}  // namespace host::platform
