// A message bus of the test's own (dbus-daemon with a configuration that activates nothing),
// and connections to it whose callbacks run on a thread of their own, so the test can play the
// panel's watcher, a notification server or logind while it calls the host. The daemon is ended
// by its pid and waited for when the object goes.
#pragma once

#include <gio/gio.h>
#include <sys/types.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bundle-fixture.h"

namespace testing_support {

struct VariantUnref {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

class PrivateBus {
public:
    explicit PrivateBus(const fs::path& folder);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool started() const { return !address_.empty(); }
    const std::string& address() const { return address_; }
    // The host's environment on this bus: it is the session and the system bus, and the desktop
    // is left for the host to choose.
    std::map<std::string, std::string> environment() const;

private:
    pid_t pid_ = -1;
    std::string address_;
};

// One connection to the bus, served by a thread of its own.
class BusConnection {
public:
    explicit BusConnection(const std::string& address);
    ~BusConnection();
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

    GDBusConnection* get() const { return connection_; }
    // Runs work on the connection's thread and waits for it.
    void onItsThread(const std::function<void()>& work);
    bool ownName(const std::string& name);

    // A method call; the reply, or none with the error's text.
    std::optional<Variant> call(const std::string& destination, const std::string& path, const std::string& interface,
                                const std::string& method, GVariant* parameters, std::string* error = nullptr);
    // A property through org.freedesktop.DBus.Properties.
    std::optional<Variant> property(const std::string& destination, const std::string& path,
                                    const std::string& interface, const std::string& name);

    // Records the member names of the signals of `interface` that reach this connection.
    void recordSignals(const std::string& interface);
    std::vector<std::string> signalsSeen();
    void forgetSignals();

private:
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    GDBusConnection* connection_ = nullptr;
    std::thread thread_;
    std::mutex lock_;
    std::vector<std::string> signals_;
    std::vector<guint> subscriptions_;
};

// org.kde.StatusNotifierWatcher as a panel runs it: it keeps the items that register. One that
// does not answer holds each registration unanswered until it goes.
class TestWatcher {
public:
    explicit TestWatcher(const std::string& address, bool answers = true);
    ~TestWatcher();
    bool started() const { return started_; }
    std::vector<std::string> registered();

    // Whether the call is to be answered.
    bool registered(const std::string& service, GDBusMethodInvocation* invocation);

private:
    BusConnection bus_;
    bool answers_;
    guint object_ = 0;
    bool started_ = false;
    std::mutex lock_;
    std::vector<std::string> items_;
    std::vector<GDBusMethodInvocation*> unanswered_;
};

// org.freedesktop.Notifications: keeps every notification and answers as the test says.
class TestNotificationServer {
public:
    struct Shown {
        std::uint32_t id;
        std::string appName;
        std::string summary;
        std::string body;
        std::vector<std::string> actions;
    };
    TestNotificationServer(const std::string& address, std::vector<std::string> capabilities);
    ~TestNotificationServer();
    bool started() const { return started_; }
    std::vector<Shown> shown();
    void invoke(std::uint32_t id, const std::string& action);
    void dismiss(std::uint32_t id);
    // From now on alerts are recorded but never answered, as by a server that hangs or dies.
    void withholdReplies() { withholding_ = true; }

    GVariant* notify(GVariant* parameters);
    // Records the alert; answers it unless replies are withheld.
    void notify(GVariant* parameters, GDBusMethodInvocation* invocation);
    const std::vector<std::string>& capabilities() const { return capabilities_; }

private:
    // Released after the connection closes, so the caller hears that nobody will answer.
    struct Withheld {
        std::vector<GDBusMethodInvocation*> calls;
        ~Withheld();
    } withheld_;
    std::atomic<bool> withholding_ = false;
    BusConnection bus_;
    std::vector<std::string> capabilities_;
    guint object_ = 0;
    bool started_ = false;
    std::mutex lock_;
    std::vector<Shown> shown_;
};

// logind's manager, enough to announce a shut-down.
class TestLogind {
public:
    explicit TestLogind(const std::string& address);
    bool started() const { return started_; }
    void announceTheShutdown();

private:
    BusConnection bus_;
    bool started_ = false;
};

// The strings of an "as" value, and the text of a string or object path value.
std::vector<std::string> stringsOf(GVariant* value);
std::string textOf(GVariant* value);

}  // namespace testing_support
