#include "start-up/signals.h"

#include <memory>

namespace host {
namespace {

struct Sources {
    std::unique_ptr<loop::SignalSource> termination, interruption, swap, reopenHeard, menuAsked, updateCheckAsked;
};

Sources& sources() {
    static Sources all;
    return all;
}

std::unique_ptr<loop::SignalSource> ignoredAndWatched(int signalNumber, loop::Callback handler) {
    std::signal(signalNumber, SIG_IGN);
    return std::make_unique<loop::SignalSource>(signalNumber, std::move(handler));
}

}  // namespace

void installTheSignalSources(SignalHandlers handlers) {
    Sources& all = sources();
    all.termination = ignoredAndWatched(SIGTERM, std::move(handlers.termination));
    all.interruption = ignoredAndWatched(SIGINT, std::move(handlers.interruption));
    all.swap = ignoredAndWatched(SHELL_SWAP_SIGNAL, std::move(handlers.swap));
    all.reopenHeard = ignoredAndWatched(REOPEN_READY_SIGNAL, std::move(handlers.reopenHeard));
    all.menuAsked = ignoredAndWatched(MENU_ASKED_SIGNAL, std::move(handlers.menuAsked));
    all.updateCheckAsked = ignoredAndWatched(UPDATE_CHECK_SIGNAL, std::move(handlers.updateCheckAsked));
}

void cancelTheEndingSignalSources() {
    Sources& all = sources();
    for (auto* source : {&all.termination, &all.interruption, &all.swap}) {
        if (*source) (*source)->cancel();
    }
}

}  // namespace host
