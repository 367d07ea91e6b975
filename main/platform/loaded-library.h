// Shared libraries loaded into the host at run time: the views library, found by file path.
#pragma once

#include <memory>
#include <string>

namespace host::platform {

// An entry point's address; the caller casts it to the entry's real C signature.
using LibraryEntry = void (*)();

// A library loaded for the rest of the process. It is never unloaded: its own threads may still
// be running its code, and calls back into the host may come at any time.
class LoadedLibrary {
public:
    virtual ~LoadedLibrary() = default;
    // The exported symbol's address; null with the loader's text in *error ("" when the loader
    // gives none). Safe from any thread.
    virtual LibraryEntry entry(const std::string& symbol, std::string* error) const = 0;
};

// Loads the library at `path` with every symbol bound now, so a missing dependency shows here
// rather than at a later call. None with the loader's text in *error.
std::unique_ptr<LoadedLibrary> loadLibrary(const std::string& path, std::string* error);

}  // namespace host::platform
