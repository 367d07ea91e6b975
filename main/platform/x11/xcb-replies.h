// Small helpers for xcb: replies freed when they go out of scope, and atoms by name.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <xcb/xcb.h>

namespace host::platform::x11 {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};

template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

// Takes ownership of what an xcb_*_reply call returned (null when the request failed).
template <typename T>
Reply<T> owned(T* reply) {
    return Reply<T>(reply);
}

// XCB_ATOM_NONE when the server does not answer.
inline xcb_atom_t atomNamed(xcb_connection_t* connection, const std::string& name) {
    auto cookie = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str());
    auto reply = owned(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// The value of a property as 32-bit items; empty when it is missing or of another format.
inline std::vector<std::uint32_t> cardinalsOf(const xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 32) return {};
    const auto* items = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    return {items, items + xcb_get_property_value_length(reply) / 4};
}

// The value of a property as bytes; empty when it is missing or not 8-bit.
inline std::string bytesOf(const xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 8) return {};
    const auto* bytes = static_cast<const char*>(xcb_get_property_value(reply));
    return {bytes, static_cast<std::size_t>(xcb_get_property_value_length(reply))};
}

// The property's value, up to 64 KiB of it.
inline xcb_get_property_cookie_t propertyOf(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
    return xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 16384);
}

}  // namespace host::platform::x11
