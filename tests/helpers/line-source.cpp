// Writes lines to its standard output as fast as it can, for throughput measurements:
//   line-source <plain|unmatched|recognised|menu> <count>
// A menu line is a publication of the benchmarks' 500-row menu, its rows also published.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "bench-menus.h"

namespace {

std::string lineOf(const std::string& kind, long n) {
    if (kind == "menu") {
        static const std::string menu = nlohmann::json({{"menu", fiveHundredRows()}, {"publication", fiveHundredRows()}}).dump() + "\n";
        return menu;
    }
    std::string number = std::to_string(n);
    if (kind == "plain") return "plain text output line " + number + " of a shell that talks a lot to its host\n";
    if (kind == "unmatched") return "{\"event\":\"tick\",\"n\":" + number + ",\"note\":\"an object no rule matches\"}\n";
    return "{\"url\":\"demo://open/" + number + "\",\"result\":\"ok\",\"focus\":\"none\"}\n";
}

bool writeAll(const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t n = write(1, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::string kind = argv[1];
    long count = std::atol(argv[2]);
    std::string batch;
    for (long n = 0; n < count; ++n) {
        batch += lineOf(kind, n);
        if (batch.size() >= 65536) {
            if (!writeAll(batch)) return 1;
            batch.clear();
        }
    }
    return writeAll(batch) ? 0 : 1;
}
