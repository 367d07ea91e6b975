// Which host the benchmarks that run the real binary start: the one built beside them, or the
// one --host names (another build), so that two builds are measured by the same code.
#pragma once

#include "bundle-fixture.h"

namespace bench {

namespace fs = std::filesystem;

void useTheHost(const fs::path& binary);
const fs::path& theHost();

// Puts the host in use into the fixture's bundle in place of the one the fixture copied: the
// host finds its bundle from its own path, so it must stand inside it (a hard link, else a copy).
void placeTheHost(const testing_support::BundleFixture& fixture);

// A stream socket connected to the Unix socket at `path`, or -1.
int connectTo(const fs::path& path);

// A stream socket listening at `path` with room for `backlog` connections, or -1.
int listenOn(const fs::path& path, int backlog);

}  // namespace bench
