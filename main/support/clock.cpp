#include "support/clock.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace host {

std::string isoTime(WallTime time) {
    auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
    long long fraction = milliseconds % 1000;
    if (fraction < 0) fraction += 1000, seconds -= 1;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03lldZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, fraction);
    return text;
}

long long millisecondsSince(WallTime since) {
    std::chrono::duration<double, std::milli> waited = std::chrono::system_clock::now() - since;
    return std::llround(waited.count());
}

}  // namespace host
