#include "platform/freedesktop/portal-window-system.h"

#include <functional>
#include <map>
#include <set>

#include <gio/gio.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/freedesktop/linux-keys.h"
#include "support/event-loop.h"

namespace host::platform {
namespace {

constexpr const char* PORTAL = "org.freedesktop.portal.Desktop";
constexpr const char* PORTAL_PATH = "/org/freedesktop/portal/desktop";
constexpr const char* SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* REQUEST = "org.freedesktop.portal.Request";
constexpr const char* SESSION = "org.freedesktop.portal.Session";
constexpr const char* PROPERTIES = "org.freedesktop.DBus.Properties";
constexpr int ANSWER_LIMIT_MS = 5000;
constexpr std::int32_t NO_KEY_FOR_THE_CHORD = -50;
// The Request's answers: 0 granted, 1 cancelled by the user, anything else ended otherwise.
constexpr std::uint32_t GRANTED = 0;
constexpr std::uint32_t CANCELLED = 1;

// The shortcut's trigger as the XDG shortcuts format writes it: "CTRL+SHIFT+k".
std::optional<std::string> triggerOf(std::uint32_t code, std::uint32_t modifiers) {
    static constexpr std::pair<std::uint32_t, const char*> MODIFIERS[] = {
        {4096, "CTRL"}, {2048, "ALT"}, {512, "SHIFT"}, {256, "LOGO"}};
    const LinuxKey* key = linuxKeyOf(code);
    char name[64];
    if (!key || xkb_keysym_get_name(key->keysym, name, sizeof name) <= 0) return std::nullopt;
    std::string trigger;
    for (const auto& [mask, token] : MODIFIERS) {
        if (modifiers & mask) trigger += std::string(token) + "+";
        modifiers &= ~mask;
    }
    if (modifiers != 0) return std::nullopt;
    return trigger + name;
}

// The portal's id of a hot key: its signature's four characters and its number.
std::string shortcutIdOf(HotKeyId id) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((id.signature >> shift) & 0xff);
        text += g_ascii_isalnum(c) ? c : '_';
    }
    return text + "-" + std::to_string(id.id);
}

// A request object's path is known before the call, so its answer is never missed.
std::string requestPathOf(GDBusConnection* connection, const std::string& token) {
    std::string sender = g_dbus_connection_get_unique_name(connection) + 1;
    for (char& c : sender) c = c == '.' ? '_' : c;
    return std::string(PORTAL_PATH) + "/request/" + sender + "/" + token;
}

class PortalWindowSystem final : public WindowSystem {
public:
    PortalWindowSystem(GDBusConnection* connection, std::unique_ptr<WindowSystem> headless);
    ~PortalWindowSystem() override;

    void setEvents(WindowSystemEvents events) override { events_ = std::move(events); }
    std::vector<RunningApplication> runningApplications() const override { return headless_->runningApplications(); }
    std::optional<std::int32_t> frontmostPid() const override { return headless_->frontmostPid(); }
    void yieldActivation(std::int32_t pid) override { headless_->yieldActivation(pid); }
    bool activate(std::int32_t pid) override { return headless_->activate(pid); }
    void activateTheHost() override { headless_->activateTheHost(); }
    HotKeyRegistration registerHotKey(std::uint32_t code, std::uint32_t modifiers, HotKeyId id,
                                      std::uint32_t options) override;
    void unregisterHotKey(std::uint64_t reference) override;
    KeyboardLayout keyboardLayoutType() const override { return headless_->keyboardLayoutType(); }
    std::vector<OnScreenWindow> onScreenWindows() const override { return headless_->onScreenWindows(); }
    int statusWindowLevel() const override { return headless_->statusWindowLevel(); }
    std::vector<Rect> screens() const override { return headless_->screens(); }
    Point mouseLocation() const override { return headless_->mouseLocation(); }
    void showTheBadgePanel(const BadgePanel& panel) override { headless_->showTheBadgePanel(panel); }

private:
    struct Shortcut {
        HotKeyId id;
        std::string trigger;
    };
    using Answer = std::function<void(std::uint32_t response, GVariant* results)>;

    void bindSoon();
    void bindAll();
    void bind(const std::string& session);
    void refuse(const std::set<std::string>& bound, std::int32_t status);
    void ask(const char* method, GVariant* parameters, const std::string& token, Answer then);
    void answer(const std::string& path, GVariant* signal);
    void pressed(const std::string& session, const std::string& id);
    std::string nextToken();

    static void onResponse(GDBusConnection*, const gchar*, const gchar* path, const gchar*, const gchar*,
                           GVariant* parameters, gpointer self);
    static void onActivated(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                            GVariant* parameters, gpointer self);

    GDBusConnection* connection_;
    std::unique_ptr<WindowSystem> headless_;
    WindowSystemEvents events_;
    std::map<std::uint64_t, Shortcut> shortcuts_;
    std::uint64_t lastReference_ = 0;
    std::string session_;
    unsigned generation_ = 0;
    unsigned tokens_ = 0;
    bool bindPosted_ = false;
    guint activations_ = 0;
    // Requests waiting for their Response, by path: the signal's subscription and what follows.
    std::map<std::string, std::pair<guint, Answer>> waiting_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// What a call or a signal finds when it comes back: nothing, once the window system is gone.
struct Pending {
    std::weak_ptr<bool> alive;
    std::function<void(GVariant*, GError*)> then;
};

void answered(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (pending->alive.lock()) pending->then(reply, error);
    if (reply) g_variant_unref(reply);
    if (error) g_error_free(error);
}

PortalWindowSystem::PortalWindowSystem(GDBusConnection* connection, std::unique_ptr<WindowSystem> headless)
    : connection_(connection), headless_(std::move(headless)) {
    activations_ = g_dbus_connection_signal_subscribe(connection_, PORTAL, SHORTCUTS, "Activated", PORTAL_PATH, nullptr,
                                                      G_DBUS_SIGNAL_FLAGS_NONE, onActivated, this, nullptr);
}

PortalWindowSystem::~PortalWindowSystem() {
    *alive_ = false;
    g_dbus_connection_signal_unsubscribe(connection_, activations_);
    for (const auto& [path, waiting] : waiting_) g_dbus_connection_signal_unsubscribe(connection_, waiting.first);
    if (!session_.empty()) {
        g_dbus_connection_call(connection_, PORTAL, session_.c_str(), SESSION, "Close", nullptr, nullptr,
                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    }
    g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
}

HotKeyRegistration PortalWindowSystem::registerHotKey(std::uint32_t code, std::uint32_t modifiers, HotKeyId id,
                                                      std::uint32_t) {
    auto trigger = triggerOf(code, modifiers);
    if (!trigger) return {NO_KEY_FOR_THE_CHORD, 0};
    for (const auto& [reference, shortcut] : shortcuts_) {
        if (shortcut.trigger == *trigger || shortcut.id == id) return {HOT_KEY_EXISTS_STATUS, 0};
    }
    shortcuts_[++lastReference_] = Shortcut{id, *trigger};
    bindSoon();
    return {0, lastReference_};
}

void PortalWindowSystem::unregisterHotKey(std::uint64_t reference) {
    if (shortcuts_.erase(reference) > 0) bindSoon();
}

// The chords of one turn of the loop go to the portal together. Answers about an older set
// no longer apply.
void PortalWindowSystem::bindSoon() {
    ++generation_;
    if (bindPosted_) return;
    bindPosted_ = true;
    std::weak_ptr<bool> alive = alive_;
    loop::postToTheMainQueue([this, alive] {
        if (!alive.lock()) return;
        bindPosted_ = false;
        bindAll();
    });
}

std::string PortalWindowSystem::nextToken() { return "menu_bar_host_" + std::to_string(++tokens_); }

// Portals bind a session's shortcuts once: every new set gets a session of its own.
void PortalWindowSystem::bindAll() {
    const unsigned generation = generation_;
    if (!session_.empty()) {
        g_dbus_connection_call(connection_, PORTAL, session_.c_str(), SESSION, "Close", nullptr, nullptr,
                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
        session_.clear();
    }
    if (shortcuts_.empty()) return;
    const std::string token = nextToken();
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string(token.c_str()));
    ask("CreateSession", g_variant_new("(a{sv})", &options), token, [this, generation](std::uint32_t response, GVariant* results) {
        if (generation != generation_) return;
        const gchar* session = nullptr;
        GVariant* handle = results ? g_variant_lookup_value(results, "session_handle", nullptr) : nullptr;
        if (handle && (g_variant_is_of_type(handle, G_VARIANT_TYPE_STRING) ||
                       g_variant_is_of_type(handle, G_VARIANT_TYPE_OBJECT_PATH))) {
            session = g_variant_get_string(handle, nullptr);
        }
        if (response == GRANTED && session) bind(session);
        else refuse({}, response == CANCELLED ? PORTAL_DECLINED_STATUS : PORTAL_REFUSED_STATUS);
        if (handle) g_variant_unref(handle);
    });
}

void PortalWindowSystem::bind(const std::string& session) {
    session_ = session;
    const unsigned generation = generation_;
    GVariantBuilder shortcuts;
    g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
    for (const auto& [reference, shortcut] : shortcuts_) {
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&properties, "{sv}", "description", g_variant_new_string(shortcut.trigger.c_str()));
        g_variant_builder_add(&properties, "{sv}", "preferred_trigger", g_variant_new_string(shortcut.trigger.c_str()));
        g_variant_builder_add(&shortcuts, "(sa{sv})", shortcutIdOf(shortcut.id).c_str(), &properties);
    }
    const std::string token = nextToken();
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    GVariant* parameters = g_variant_new("(oa(sa{sv})sa{sv})", session.c_str(), &shortcuts, "", &options);
    ask("BindShortcuts", parameters, token, [this, generation](std::uint32_t response, GVariant* results) {
        if (generation != generation_) return;
        if (response != GRANTED) {
            refuse({}, response == CANCELLED ? PORTAL_DECLINED_STATUS : PORTAL_REFUSED_STATUS);
            return;
        }
        std::set<std::string> bound;
        GVariant* list = results ? g_variant_lookup_value(results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})")) : nullptr;
        GVariantIter entries;
        const gchar* id = nullptr;
        if (list) {
            g_variant_iter_init(&entries, list);
            while (g_variant_iter_next(&entries, "(&s@a{sv})", &id, nullptr)) bound.insert(id);
            g_variant_unref(list);
        }
        refuse(bound, PORTAL_REFUSED_STATUS);
    });
}

// Every current shortcut but the bound ones is refused with that status: it is let go and its
// owner told, so that its next registration asks the portal again.
void PortalWindowSystem::refuse(const std::set<std::string>& bound, std::int32_t status) {
    std::vector<std::pair<std::uint64_t, HotKeyId>> refused;
    for (const auto& [reference, shortcut] : shortcuts_) {
        if (!bound.contains(shortcutIdOf(shortcut.id))) refused.emplace_back(reference, shortcut.id);
    }
    for (const auto& [reference, id] : refused) shortcuts_.erase(reference);
    const auto tell = events_.hotKeyRefused;
    if (!tell) return;
    for (const auto& [reference, id] : refused) tell(id, reference, status);
}

// Calls a method that answers through a Request object. A call that fails is an answer of its
// own: the portal's "ended otherwise".
void PortalWindowSystem::ask(const char* method, GVariant* parameters, const std::string& token, Answer then) {
    const std::string path = requestPathOf(connection_, token);
    const guint subscription = g_dbus_connection_signal_subscribe(connection_, PORTAL, REQUEST, "Response", path.c_str(),
                                                                  nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onResponse, this,
                                                                  nullptr);
    waiting_[path] = {subscription, std::move(then)};
    std::weak_ptr<bool> alive = alive_;
    g_dbus_connection_call(connection_, PORTAL, PORTAL_PATH, SHORTCUTS, method, parameters, G_VARIANT_TYPE("(o)"),
                           G_DBUS_CALL_FLAGS_NONE, ANSWER_LIMIT_MS, nullptr, answered,
                           new Pending{alive, [this, path](GVariant*, GError* error) {
                               if (error) answer(path, nullptr);
                           }});
}

void PortalWindowSystem::answer(const std::string& path, GVariant* signal) {
    auto found = waiting_.find(path);
    if (found == waiting_.end()) return;
    auto [subscription, then] = std::move(found->second);
    waiting_.erase(found);
    g_dbus_connection_signal_unsubscribe(connection_, subscription);
    std::uint32_t response = 2;
    GVariant* results = nullptr;
    if (signal && g_variant_is_of_type(signal, G_VARIANT_TYPE("(ua{sv})"))) {
        g_variant_get(signal, "(u@a{sv})", &response, &results);
    }
    then(response, results);
    if (results) g_variant_unref(results);
}

void PortalWindowSystem::onResponse(GDBusConnection*, const gchar*, const gchar* path, const gchar*, const gchar*,
                                    GVariant* parameters, gpointer self) {
    static_cast<PortalWindowSystem*>(self)->answer(path, parameters);
}

void PortalWindowSystem::onActivated(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                     GVariant* parameters, gpointer self) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})"))) return;
    const gchar* session = nullptr;
    const gchar* id = nullptr;
    g_variant_get(parameters, "(&o&st@a{sv})", &session, &id, nullptr, nullptr);
    static_cast<PortalWindowSystem*>(self)->pressed(session, id);
}

void PortalWindowSystem::pressed(const std::string& session, const std::string& id) {
    if (session != session_ || !events_.hotKeyPressed) return;
    for (const auto& [reference, shortcut] : shortcuts_) {
        if (shortcutIdOf(shortcut.id) == id) {
            const auto press = events_.hotKeyPressed;
            press(shortcut.id);
            return;
        }
    }
}

GDBusConnection* busAt(const char* address, std::string* why) {
    GError* error = nullptr;
    GDBusConnection* connection =
        address ? g_dbus_connection_new_for_address_sync(
                      address,
                      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                      nullptr, nullptr, &error)
                : g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!connection) {
        if (why) *why = std::string("no session bus: ") + (error ? error->message : "unknown error");
        if (error) g_error_free(error);
        return nullptr;
    }
    // A bus that goes away must not end the host.
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    return connection;
}

}  // namespace

std::unique_ptr<WindowSystem> openThePortalWindowSystem(const char* busAddress, std::string* why) {
    GDBusConnection* connection = busAt(busAddress, why);
    if (!connection) return nullptr;
    GError* error = nullptr;
    GVariant* version = g_dbus_connection_call_sync(connection, PORTAL, PORTAL_PATH, PROPERTIES, "Get",
                                                    g_variant_new("(ss)", SHORTCUTS, "version"), G_VARIANT_TYPE("(v)"),
                                                    G_DBUS_CALL_FLAGS_NONE, ANSWER_LIMIT_MS, nullptr, &error);
    if (!version) {
        if (why) *why = std::string("no GlobalShortcuts portal: ") + (error ? error->message : "unknown error");
        if (error) g_error_free(error);
        g_object_unref(connection);
        return nullptr;
    }
    g_variant_unref(version);
    return std::make_unique<PortalWindowSystem>(connection, headlessWindowSystem());
}

}  // namespace host::platform
