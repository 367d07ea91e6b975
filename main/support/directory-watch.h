// Watches one directory for entries that appear, go, are renamed or finish being written, on the
// main loop. A directory that cannot be watched gives a watch that never fires.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/event-loop.h"

namespace host::loop {

class DirectoryWatch {
public:
    // `changed` gets the names of the entries that changed since the last call, once per batch.
    using Changed = std::function<void(const std::vector<std::string>& names)>;
    DirectoryWatch(const std::filesystem::path& directory, Changed changed);
    ~DirectoryWatch();
    DirectoryWatch(const DirectoryWatch&) = delete;
    DirectoryWatch& operator=(const DirectoryWatch&) = delete;

    bool watching() const;

private:
    void drain();

    int fd_ = -1;
    Changed changed_;
    std::unique_ptr<FdSource> source_;
};

}  // namespace host::loop
