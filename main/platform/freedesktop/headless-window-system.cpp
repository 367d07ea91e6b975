#include <map>

#include "platform/freedesktop/window-system.h"

namespace host::platform {
namespace {

const Rect HEADLESS_SCREEN{0, 0, 1440, 900};

class HeadlessWindowSystem : public WindowSystem {
public:
    void setEvents(WindowSystemEvents) override {}
    std::vector<RunningApplication> runningApplications() const override { return {}; }
    std::optional<std::int32_t> frontmostPid() const override { return std::nullopt; }
    void yieldActivation(std::int32_t) override {}
    bool activate(std::int32_t) override { return false; }
    void activateTheHost() override {}

    HotKeyRegistration registerHotKey(std::uint32_t code, std::uint32_t modifiers, HotKeyId,
                                      std::uint32_t) override {
        for (const auto& [reference, chord] : chords_) {
            if (chord == Chord{code, modifiers}) return {HOT_KEY_EXISTS_STATUS, 0};
        }
        chords_[++lastReference_] = Chord{code, modifiers};
        return {0, lastReference_};
    }
    void unregisterHotKey(std::uint64_t reference) override { chords_.erase(reference); }
    KeyboardLayout keyboardLayoutType() const override { return KeyboardLayout::ansi; }

    std::vector<OnScreenWindow> onScreenWindows() const override { return {}; }
    int statusWindowLevel() const override { return 25; }
    std::vector<Rect> screens() const override { return {HEADLESS_SCREEN}; }
    Point mouseLocation() const override { return {}; }
    void showTheBadgePanel(const BadgePanel&) override {}

private:
    using Chord = std::pair<std::uint32_t, std::uint32_t>;
    std::map<std::uint64_t, Chord> chords_;
    std::uint64_t lastReference_ = 0;
};

}  // namespace

std::unique_ptr<WindowSystem> headlessWindowSystem() { return std::make_unique<HeadlessWindowSystem>(); }

}  // namespace host::platform
