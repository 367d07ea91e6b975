#include "platform/x11/randr-screens.h"

#include <algorithm>

#include <xcb/randr.h>

#include "platform/x11/xcb-replies.h"

namespace host::platform::x11 {
namespace {

constexpr std::uint16_t CHANGES = XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                  XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE;

}  // namespace

RandrScreens::RandrScreens(xcb_connection_t* connection, xcb_window_t root) : connection_(connection), root_(root) {}

void RandrScreens::start() {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection_, &xcb_randr_id);
    if (!extension || !extension->present) return;
    // Outputs and CRTCs need 1.2; the client says which version it speaks before it selects.
    auto version = owned(xcb_randr_query_version_reply(connection_, xcb_randr_query_version(connection_, 1, 5), nullptr));
    if (!version || (version->major_version == 1 && version->minor_version < 2)) return;
    present_ = true;
    firstEvent_ = extension->first_event;
    xcb_randr_select_input(connection_, root_, CHANGES);
    xcb_flush(connection_);
}

bool RandrScreens::takeChangeEvent(const xcb_generic_event_t& event) {
    const std::uint8_t type = event.response_type & 0x7f;
    if (!present_ || (type != firstEvent_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY && type != firstEvent_ + XCB_RANDR_NOTIFY)) {
        return false;
    }
    frames_.reset();
    return true;
}

const std::vector<Rect>& RandrScreens::frames() {
    if (!frames_ || frames_->empty()) frames_ = read();
    return *frames_;
}

std::vector<Rect> RandrScreens::rootFrame() const {
    auto geometry = owned(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, root_), nullptr));
    if (!geometry) return {};
    return {Rect{0, 0, static_cast<double>(geometry->width), static_cast<double>(geometry->height)}};
}

std::vector<Rect> RandrScreens::read() const {
    if (!present_) return rootFrame();
    auto resourcesCookie = xcb_randr_get_screen_resources_current(connection_, root_);
    auto primaryCookie = xcb_randr_get_output_primary(connection_, root_);
    auto resources = owned(xcb_randr_get_screen_resources_current_reply(connection_, resourcesCookie, nullptr));
    auto primary = owned(xcb_randr_get_output_primary_reply(connection_, primaryCookie, nullptr));
    if (!resources) return rootFrame();
    xcb_randr_crtc_t primaryCrtc = XCB_NONE;
    if (primary && primary->output != XCB_NONE) {
        auto cookie = xcb_randr_get_output_info(connection_, primary->output, resources->config_timestamp);
        auto output = owned(xcb_randr_get_output_info_reply(connection_, cookie, nullptr));
        if (output) primaryCrtc = output->crtc;
    }
    const xcb_randr_crtc_t* crtcs = xcb_randr_get_screen_resources_current_crtcs(resources.get());
    const int count = xcb_randr_get_screen_resources_current_crtcs_length(resources.get());
    std::vector<xcb_randr_get_crtc_info_cookie_t> asked;
    for (int i = 0; i < count; ++i) asked.push_back(xcb_randr_get_crtc_info(connection_, crtcs[i], resources->config_timestamp));
    std::vector<Rect> frames;
    for (int i = 0; i < count; ++i) {
        auto crtc = owned(xcb_randr_get_crtc_info_reply(connection_, asked[static_cast<std::size_t>(i)], nullptr));
        if (!crtc || crtc->mode == XCB_NONE || crtc->num_outputs == 0 || crtc->width == 0 || crtc->height == 0) continue;
        const Rect frame{static_cast<double>(crtc->x), static_cast<double>(crtc->y), static_cast<double>(crtc->width),
                         static_cast<double>(crtc->height)};
        // Mirrored outputs share one frame.
        if (auto same = std::find(frames.begin(), frames.end(), frame); same != frames.end()) {
            if (crtcs[i] == primaryCrtc) std::rotate(frames.begin(), same, same + 1);
            continue;
        }
        if (crtcs[i] == primaryCrtc) frames.insert(frames.begin(), frame);
        else frames.push_back(frame);
    }
    return frames.empty() ? rootFrame() : frames;
}

}  // namespace host::platform::x11
