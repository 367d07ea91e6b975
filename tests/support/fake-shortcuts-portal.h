// A GlobalShortcuts portal of the test's own on a private bus, served from a thread of its own
// (the host's side may wait for it). It answers as told and remembers what it was asked.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

typedef struct _GMainLoop GMainLoop;
typedef struct _GDBusConnection GDBusConnection;

namespace testing_support {

class FakeShortcutsPortal {
public:
    struct Answers {
        std::uint32_t session = 0;       // the Response to CreateSession
        std::uint32_t bind = 0;          // the Response to BindShortcuts
        std::set<std::string> unbound;   // shortcut ids a granted bind leaves out
    };
    // Shortcut id to preferred trigger, one map per BindShortcuts call.
    using Bind = std::map<std::string, std::string>;

    FakeShortcutsPortal(const std::string& busAddress, Answers answers);
    ~FakeShortcutsPortal();

    bool ready() const { return ready_; }
    std::vector<Bind> binds() const;
    // The portal says the shortcut of its newest session was pressed.
    void press(const std::string& id);

    // Used by the bus callbacks on the portal's thread.
    void take(GDBusConnection* connection, const char* sender, const char* method, void* parameters, void* invocation);

private:
    void serve(const std::string& busAddress);

    Answers answers_;
    mutable std::mutex lock_;
    std::vector<Bind> binds_;
    std::string session_;
    GDBusConnection* connection_ = nullptr;
    GMainLoop* loop_ = nullptr;
    bool ready_ = false;
    std::thread thread_;
};

}  // namespace testing_support
