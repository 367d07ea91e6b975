// The running application as org.freedesktop.Application on the bus name of its bundle
// identifier, at the object path GApplication would give it: the desktop (and a second instance
// of the host) activate it, hand it URIs and ask for its actions. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/freedesktop/bus.h"

namespace host::platform {

// What the bus asks of the application, with the pid of the process that asked when the bus
// can tell it. Each runs after its request has been answered.
struct ApplicationRequests {
    std::function<void(std::optional<std::int32_t> sender)> activate;
    std::function<void(const std::vector<std::string>& uris, std::optional<std::int32_t> sender)> open;
    std::function<void(std::optional<std::int32_t> sender)> quit;
};

// The actions the application offers (a desktop entry lists them).
inline constexpr const char* QUIT_ACTION = "quit";

class ApplicationObject {
public:
    enum class Standing { owner, anotherRuns, failed };

    // Exports the object, then asks for the identifier's bus name without queueing.
    ApplicationObject(GDBusConnection* connection, std::string identity, ApplicationRequests requests);
    ~ApplicationObject();
    ApplicationObject(const ApplicationObject&) = delete;
    ApplicationObject& operator=(const ApplicationObject&) = delete;

    Standing standing() const { return standing_; }
    // Why the name could not be had, when it could not.
    const std::string& failure() const { return failure_; }

    void handle(const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation);

private:
    void withTheSender(GDBusMethodInvocation* invocation, std::function<void(std::optional<std::int32_t>)> work);

    GDBusConnection* connection_;
    std::string identity_;
    ApplicationRequests requests_;
    guint registration_ = 0;
    Standing standing_ = Standing::failed;
    std::string failure_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// "/" + the identifier with "." turned to "/" and "-" to "_", as GApplication makes it.
std::string applicationObjectPath(const std::string& identity);

// The command line's arguments as URIs: a URL as it is, an existing file as its file:// URI
// (relative to the working directory). None when an argument is neither, naming it in *why.
std::optional<std::vector<std::string>> urisOfArguments(const std::vector<std::string>& arguments, std::string* why);

// Hands URIs to the instance that owns the identifier's name (Open), or activates it when there
// are none (Activate); false with the reason when it did not answer.
bool handToTheRunningInstance(GDBusConnection* connection, const std::string& identity,
                              const std::vector<std::string>& uris, std::string* why);

}  // namespace host::platform
