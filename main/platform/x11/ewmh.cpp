#include "platform/x11/ewmh.h"

#include <algorithm>

#include "platform/x11/xcb-replies.h"

namespace host::platform::x11 {
namespace {

constexpr const char* WM_STATE = "WM_STATE";
constexpr std::uint32_t ICONIC_STATE = 3;
// Frame extents beyond the X coordinate range are nonsense: the window then stands unframed.
constexpr std::uint32_t LARGEST_FRAME_EXTENT = 32767;

bool has(const std::vector<std::uint32_t>& atoms, xcb_atom_t atom) {
    return std::find(atoms.begin(), atoms.end(), atom) != atoms.end();
}

// Pids are positive; anything else says nothing.
std::optional<std::int32_t> pidIn(const std::vector<std::uint32_t>& values) {
    if (values.empty() || values[0] == 0 || values[0] > 0x7fffffff) return std::nullopt;
    return static_cast<std::int32_t>(values[0]);
}

struct Hints {
    xcb_get_property_cookie_t pid, wmClass, state, wmState, type;
};

struct Placement {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_property_cookie_t pid, state, type, frame;
};

// The window with the manager's frame around it; without it when the extents are absurd.
Rect framed(const xcb_translate_coordinates_reply_t& origin, const xcb_get_geometry_reply_t& geometry,
            const std::vector<std::uint32_t>& extents) {
    const double border = geometry.border_width;
    Rect bounds{origin.dst_x - border, origin.dst_y - border, geometry.width + 2 * border, geometry.height + 2 * border};
    if (extents.size() < 4 || *std::max_element(extents.begin(), extents.begin() + 4) > LARGEST_FRAME_EXTENT) {
        return bounds;
    }
    const double left = extents[0], right = extents[1], top = extents[2], bottom = extents[3];
    return {bounds.x - left, bounds.y - top, bounds.width + left + right, bounds.height + top + bottom};
}

}  // namespace

Ewmh::Ewmh(xcb_connection_t* connection, int screenNumber, xcb_window_t root)
    : connection_(connection), screenNumber_(screenNumber), root_(root) {}

Ewmh::~Ewmh() {
    if (started_) xcb_ewmh_connection_wipe(&ewmh_);
}

bool Ewmh::start() {
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection_, &ewmh_);
    started_ = cookies && xcb_ewmh_init_atoms_replies(&ewmh_, cookies, nullptr);
    wmState_ = atomNamed(connection_, WM_STATE);
    return started_;
}

std::vector<xcb_window_t> Ewmh::clients() const {
    auto reply = owned(xcb_get_property_reply(connection_, propertyOf(connection_, root_, ewmh_._NET_CLIENT_LIST), nullptr));
    return cardinalsOf(reply.get());
}

std::vector<xcb_window_t> Ewmh::clientsBottomToTop() const {
    auto cookie = propertyOf(connection_, root_, ewmh_._NET_CLIENT_LIST_STACKING);
    auto reply = owned(xcb_get_property_reply(connection_, cookie, nullptr));
    return cardinalsOf(reply.get());
}

std::optional<xcb_window_t> Ewmh::activeWindow() const {
    auto cookie = propertyOf(connection_, root_, ewmh_._NET_ACTIVE_WINDOW);
    auto active = cardinalsOf(owned(xcb_get_property_reply(connection_, cookie, nullptr)).get());
    if (active.empty() || active[0] == XCB_WINDOW_NONE) return std::nullopt;
    return active[0];
}

bool Ewmh::changesTheClients(xcb_atom_t property) const {
    return property == ewmh_._NET_CLIENT_LIST || property == ewmh_._NET_ACTIVE_WINDOW;
}

bool Ewmh::changesAClient(xcb_atom_t property) const {
    return property == ewmh_._NET_WM_PID || property == XCB_ATOM_WM_CLASS || property == ewmh_._NET_WM_STATE ||
           property == wmState_ || property == ewmh_._NET_WM_WINDOW_TYPE;
}

std::vector<std::optional<ClientWindow>> Ewmh::describe(const std::vector<xcb_window_t>& windows) const {
    std::vector<Hints> asked;
    const std::uint32_t propertyChanges = XCB_EVENT_MASK_PROPERTY_CHANGE;
    for (xcb_window_t window : windows) {
        xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &propertyChanges);
        asked.push_back({propertyOf(connection_, window, ewmh_._NET_WM_PID),
                         propertyOf(connection_, window, XCB_ATOM_WM_CLASS),
                         propertyOf(connection_, window, ewmh_._NET_WM_STATE),
                         propertyOf(connection_, window, wmState_),
                         propertyOf(connection_, window, ewmh_._NET_WM_WINDOW_TYPE)});
    }
    std::vector<std::optional<ClientWindow>> described;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        auto pid = owned(xcb_get_property_reply(connection_, asked[i].pid, nullptr));
        auto wmClass = owned(xcb_get_property_reply(connection_, asked[i].wmClass, nullptr));
        auto state = owned(xcb_get_property_reply(connection_, asked[i].state, nullptr));
        auto wmState = owned(xcb_get_property_reply(connection_, asked[i].wmState, nullptr));
        auto type = owned(xcb_get_property_reply(connection_, asked[i].type, nullptr));
        if (!pid || !wmClass || !state || !wmState || !type) {
            described.emplace_back();
            continue;
        }
        ClientWindow client;
        client.window = windows[i];
        const auto pids = cardinalsOf(pid.get());
        client.pid = pidIn(pids);
        const std::string names = bytesOf(wmClass.get());
        client.instance = names.substr(0, names.find('\0'));
        if (auto end = names.find('\0'); end != std::string::npos) {
            client.className = names.substr(end + 1, names.find('\0', end + 1) - end - 1);
        }
        const auto states = cardinalsOf(state.get());
        const auto iconic = cardinalsOf(wmState.get());
        client.hidden = has(states, ewmh_._NET_WM_STATE_HIDDEN) || (!iconic.empty() && iconic[0] == ICONIC_STATE);
        client.normal = kindOf(cardinalsOf(type.get())) == WindowKind::normal;
        described.push_back(std::move(client));
    }
    return described;
}

// The first type the window names that this host knows; normal when it names none.
Ewmh::WindowKind Ewmh::kindOf(const std::vector<std::uint32_t>& types) const {
    const std::pair<xcb_atom_t, WindowKind> kinds[] = {
        {ewmh_._NET_WM_WINDOW_TYPE_NORMAL, WindowKind::normal},
        {ewmh_._NET_WM_WINDOW_TYPE_DIALOG, WindowKind::normal},
        {ewmh_._NET_WM_WINDOW_TYPE_UTILITY, WindowKind::above},
        {ewmh_._NET_WM_WINDOW_TYPE_TOOLBAR, WindowKind::above},
        {ewmh_._NET_WM_WINDOW_TYPE_MENU, WindowKind::above},
        {ewmh_._NET_WM_WINDOW_TYPE_SPLASH, WindowKind::above},
        {ewmh_._NET_WM_WINDOW_TYPE_DOCK, WindowKind::dock},
        {ewmh_._NET_WM_WINDOW_TYPE_NOTIFICATION, WindowKind::popUp},
        {ewmh_._NET_WM_WINDOW_TYPE_DROPDOWN_MENU, WindowKind::popUp},
        {ewmh_._NET_WM_WINDOW_TYPE_POPUP_MENU, WindowKind::popUp},
        {ewmh_._NET_WM_WINDOW_TYPE_TOOLTIP, WindowKind::popUp},
        {ewmh_._NET_WM_WINDOW_TYPE_COMBO, WindowKind::popUp},
        {ewmh_._NET_WM_WINDOW_TYPE_DND, WindowKind::popUp},
        {ewmh_._NET_WM_WINDOW_TYPE_DESKTOP, WindowKind::desktop},
    };
    for (std::uint32_t type : types) {
        for (const auto& [atom, kind] : kinds) {
            if (atom == type) return kind;
        }
    }
    return WindowKind::normal;
}

int Ewmh::layerOf(WindowKind kind, const std::vector<std::uint32_t>& states) const {
    switch (kind) {
    case WindowKind::dock: return DOCK_LAYER;
    case WindowKind::popUp: return POP_UP_LAYER;
    case WindowKind::above: return ABOVE_LAYER;
    default: break;
    }
    if (has(states, ewmh_._NET_WM_STATE_ABOVE)) return ABOVE_LAYER;
    if (has(states, ewmh_._NET_WM_STATE_BELOW)) return BELOW_LAYER;
    return NORMAL_LAYER;
}

std::vector<ShownWindow> Ewmh::shownFrontToBack() const {
    const std::vector<xcb_window_t> stacking = clientsBottomToTop();
    std::vector<Placement> asked;
    for (xcb_window_t window : stacking) {
        asked.push_back({xcb_get_window_attributes(connection_, window), xcb_get_geometry(connection_, window),
                         xcb_translate_coordinates(connection_, window, root_, 0, 0),
                         propertyOf(connection_, window, ewmh_._NET_WM_PID),
                         propertyOf(connection_, window, ewmh_._NET_WM_STATE),
                         propertyOf(connection_, window, ewmh_._NET_WM_WINDOW_TYPE),
                         propertyOf(connection_, window, ewmh_._NET_FRAME_EXTENTS)});
    }
    std::vector<ShownWindow> shown;
    for (auto placement = asked.rbegin(); placement != asked.rend(); ++placement) {
        auto attributes = owned(xcb_get_window_attributes_reply(connection_, placement->attributes, nullptr));
        auto geometry = owned(xcb_get_geometry_reply(connection_, placement->geometry, nullptr));
        auto origin = owned(xcb_translate_coordinates_reply(connection_, placement->origin, nullptr));
        auto pid = cardinalsOf(owned(xcb_get_property_reply(connection_, placement->pid, nullptr)).get());
        auto states = cardinalsOf(owned(xcb_get_property_reply(connection_, placement->state, nullptr)).get());
        auto types = cardinalsOf(owned(xcb_get_property_reply(connection_, placement->type, nullptr)).get());
        auto extents = cardinalsOf(owned(xcb_get_property_reply(connection_, placement->frame, nullptr)).get());
        if (!attributes || !geometry || !origin || attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
        const WindowKind kind = kindOf(types);
        if (kind == WindowKind::desktop || has(states, ewmh_._NET_WM_STATE_HIDDEN)) continue;
        shown.push_back({pidIn(pid).value_or(0), layerOf(kind, states),
                         framed(*origin, *geometry, extents)});
    }
    return shown;
}

void Ewmh::requestActivation(xcb_window_t window, std::optional<xcb_window_t> current) const {
    // As a pager would: the host acts for the user, who chose the application.
    xcb_ewmh_request_change_active_window(const_cast<xcb_ewmh_connection_t*>(&ewmh_), screenNumber_, window,
                                          XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, XCB_CURRENT_TIME,
                                          current.value_or(XCB_WINDOW_NONE));
    xcb_flush(connection_);
}

bool Ewmh::compositorRuns() const {
    auto cookie = xcb_get_selection_owner(connection_, ewmh_._NET_WM_CM_Sn[screenNumber_]);
    auto owner = owned(xcb_get_selection_owner_reply(connection_, cookie, nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

}  // namespace host::platform::x11
