#include "support/clock.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace host {

namespace {

// Writes `value` as `width` digits ending at `end`.
void putDigits(char* end, long long value, int width) {
    for (int i = 0; i < width; ++i, value /= 10) *--end = static_cast<char>('0' + value % 10);
}

}  // namespace

// Every log record has one: formatted by hand, the calendar date by arithmetic (no time zone
// lookup, no printf).
std::string isoTime(WallTime time) {
    using namespace std::chrono;
    const auto milliseconds = floor<std::chrono::milliseconds>(time);
    const auto day = floor<days>(milliseconds);
    const year_month_day date{day};
    const hh_mm_ss clock{milliseconds - day};
    const int year = static_cast<int>(date.year());
    if (year < 0 || year > 9999) {
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02lld.%03lldZ", year,
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                      static_cast<long>(clock.hours().count()), static_cast<long>(clock.minutes().count()),
                      static_cast<long long>(clock.seconds().count()), static_cast<long long>(clock.subseconds().count()));
        return text;
    }
    std::string text = "0000-00-00T00:00:00.000Z";
    char* at = text.data();
    putDigits(at + 4, year, 4);
    putDigits(at + 7, static_cast<unsigned>(date.month()), 2);
    putDigits(at + 10, static_cast<unsigned>(date.day()), 2);
    putDigits(at + 13, clock.hours().count(), 2);
    putDigits(at + 16, clock.minutes().count(), 2);
    putDigits(at + 19, clock.seconds().count(), 2);
    putDigits(at + 23, clock.subseconds().count(), 3);
    return text;
}

long long millisecondsSince(WallTime since) {
    std::chrono::duration<double, std::milli> waited = std::chrono::system_clock::now() - since;
    return std::llround(waited.count());
}

}  // namespace host
