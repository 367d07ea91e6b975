#include "panels/panel-host.h"

#include "child/death-log.h"
#include "child/messages-to-the-child.h"
#include "child/shell.h"
#include "panels/views-entry-points.h"
#include "support/event-loop.h"
#include "support/text.h"

namespace host {
namespace {

constexpr const char* ownViewsInTheBundle = "Contents/Frameworks/libViews.dylib";

std::unique_ptr<PanelHost> theHost;

void recordTheMissingEntry(const std::string& symbol, const std::string& viewsPath, const std::string& error) {
    append({{"kind", "panel-entry-missing"}, {"entry", symbol}, {"views", viewsPath}, {"error", error}},
           deathLog(shellPid().value_or(0)));
}

template <typename Signature>
Signature as(platform::LibraryEntry entry) {
    return reinterpret_cast<Signature>(entry);
}

}  // namespace

std::string viewsPathOf(const Environment& environment, const std::filesystem::path& bundleDirectory) {
    auto named = environment.find(viewsLibraryVariable);
    if (named != environment.end() && std::filesystem::exists(named->second)) return named->second;
    const std::filesystem::path own = bundleDirectory / ownViewsInTheBundle;
    if (std::filesystem::exists(own)) return own.string();
    // A bundle nested inside an application bundle falls back to the outer one's library.
    const std::string bundle = bundleDirectory.string();
    const auto app = bundle.find(".app/");
    const std::string outer = app == std::string::npos ? bundle : bundle.substr(0, app + 4);
    return outer + "/" + ownViewsInTheBundle;
}

PanelHost::PanelHost(std::string viewsPath, Loader loader)
    : viewsPath_(std::move(viewsPath)), loader_(std::move(loader)) {}

platform::LibraryEntry PanelHost::entry(const std::string& symbol, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    if (!library_) library_ = loader_(viewsPath_, error);
    if (!library_) return nullptr;
    return library_->entry(symbol, error);
}

void PanelHost::call(const Json& panel) {
    const std::string* name = stringMember(panel, "name");
    const std::string* call = stringMember(panel, "call");
    if (!name || !call || !isLettersAndUnderscores(*name)) return;
    const std::string symbol = *name + "_" + *call;
    std::string error;
    platform::LibraryEntry found = entry(symbol, &error);
    if (!found) return recordTheMissingEntry(symbol, viewsPath_, error);
    const std::string* given = stringMember(panel, "look");
    const std::string look = given ? *given : "";
    if (*call == "prepare" || *call == "open") {
        opened_.insert(*name);
        as<ViewsPanelShow>(found)(look.c_str(), panelAct);
    } else if (*call == "update") {
        as<ViewsPanelUpdate>(found)(look.c_str());
    } else if (*call == "close") {
        as<ViewsPanelClose>(found)();
    }
}

void PanelHost::closeAll() {
    for (const std::string& name : opened_) {
        if (platform::LibraryEntry close = entry(name + "_close")) as<ViewsPanelClose>(close)();
    }
}

void makeThePanelHost(std::string viewsPath) { theHost = std::make_unique<PanelHost>(std::move(viewsPath)); }

PanelHost& panelHost() { return *theHost; }

}  // namespace host

extern "C" void panelAct(const char* text) {
    if (!text) return;
    // Copied now: the text is the library's only for the call. Invalid bytes are repaired so the
    // message can still be written as JSON.
    host::Json message = {{"act", host::withInvalidUTF8Repaired(text)}};
    if (host::loop::onTheMainThread()) return host::tellTheChild(message);
    host::loop::postToTheMainQueue([message = std::move(message)] { host::tellTheChild(message); });
}
