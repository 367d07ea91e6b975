// Giving the focus back after a link: the application that was active before the host took
// the link gets it back once the link is with the shell, or, when the shell has announced
// that it replies to links, once it has replied, unless the reply keeps the focus for a panel.
// Every decision is recorded in the link log. Main thread only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/desktop.h"
#include "support/json.h"

namespace host {

// The shell's {"focus": "replies"} announcement, and the "focus" of a reply that keeps it.
inline constexpr const char* FOCUS_REPLIES = "replies";
inline constexpr const char* PANEL_FOCUS = "panel";

class FocusReturn {
public:
    // Observes the desktop in use, for the object's lifetime: other applications becoming
    // active or ending, and the host becoming active. Records go to `linkLog`.
    explicit FocusReturn(std::filesystem::path linkLog);
    FocusReturn(const FocusReturn&) = delete;
    FocusReturn& operator=(const FocusReturn&) = delete;

    // The last other application that became active and is not a windowless accessory.
    std::optional<platform::RunningApplication> previous;
    // A link arrived and the focus has been neither given back nor kept.
    bool owed = false;
    // The latest link handed to the shell.
    std::string link;
    // The shell replies to links; set by its announcement, never cleared (not by a swap either).
    bool childReplies = false;
    // The shell has replied to the latest link.
    bool answered = false;
    // The process that holds the focus for a panel, until it ends.
    std::optional<std::int32_t> panelHeld;

    void linkArrived(const std::string& url);
    // The shell's reply to a link; replies to older links, or when nothing is owed, are ignored.
    void replied(const std::string& url, const std::optional<std::string>& focus, std::optional<std::int32_t> panel);
    // A reopen request cancels the focus owed.
    void reopened() { owed = false; }
    void giveBack();
    // Not a regular application and no on-screen window below the status-window level.
    bool isAWindowlessAccessory(const platform::RunningApplication& application) const;

    void otherActivated(const platform::RunningApplication& application);
    void otherEnded(const platform::RunningApplication& application);
    void becameActive();

private:
    void write(Json record) const;

    std::filesystem::path linkLog_;
    // Observers hold a weak copy: the desktop may outlive this object.
    std::shared_ptr<FocusReturn*> self_;
};

// The host's one focus return, made at start-up once the desktop is connected (it observes
// the desktop in use then). Before that, one without a link log stands in.
FocusReturn& focusReturn();
void makeTheFocusReturn(std::filesystem::path linkLog);

}  // namespace host
