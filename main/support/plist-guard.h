// Property-list bytes the plist library must not be given. It recurses without bound over
// nested arrays and dictionaries (reading binary lists, freeing any list), it reads a binary
// list's shared objects once per reference (a small file can stand for billions of values), and
// it asserts, so aborts the process, when a dictionary key holds U+0000. Such bytes are refused
// before the library sees them.
#pragma once

#include <cstddef>
#include <string_view>

namespace host {

// True when arrays and dictionaries nest deeper than `limit`, or when a binary list names a
// dictionary key that holds U+0000, or stands for more than 262,144 values. XML is judged by
// its tags (a tag spelled inside a comment counts too), binary by its object table; bytes of
// neither form pass, as the library refuses them itself.
bool propertyListIsRefused(std::string_view bytes, std::size_t limit);

}  // namespace host
