// C libraries the host loads on their first use instead of linking them: a linked library is
// mapped and relocated at every start, before the shell can be spawned, though many hosts never
// call it. A file of forwarders defines each function the host calls under its own name; each
// forwards to the library's, found once, and without the library returns a zero value.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace host {

class OnDemandLibraries {
public:
    // Opens nothing yet; `sonames` are opened together, each with its own dependencies.
    explicit OnDemandLibraries(std::initializer_list<const char*> sonames) : sonames_(sonames) {}

    // Opens them all on the first call (thread-safe); false, with the loader's text, when one of
    // them is missing, and then every symbol is null.
    bool load(std::string* why = nullptr);
    // The function or variable of that name in the first library that has it, or null.
    void* symbol(const char* name);

private:
    std::vector<const char*> sonames_;
    std::vector<void*> handles_;
    std::string failure_;
    bool tried_ = false;
};

}  // namespace host

// The body of a forwarder: the library's function of the same name, found once, called with the
// forwarder's arguments; without it, a zero value of the function's result type.
#define FORWARD_ON_DEMAND(libraries, name, ...)                                            \
    static const auto real = reinterpret_cast<decltype(&name)>((libraries).symbol(#name)); \
    if (!real) return decltype(real(__VA_ARGS__))();                                       \
    return real(__VA_ARGS__)
