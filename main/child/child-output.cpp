#include "child/child-output.h"

#include "platform/descriptors.h"
#include "platform/processes.h"
#include "support/event-loop.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace host {
namespace {

struct Delivery {
    bool currentShellOnly, menuMessage;
};
constexpr Delivery anyShell{false, false};
constexpr Delivery currentShell{true, false};
constexpr Delivery currentShellMenu{true, true};

// The values are captured by the action, as the message is gone by the time it runs. An empty
// handler leaves the action empty: the message is recognised and dropped.
template <typename Handler, typename... Values>
Dispatch dispatchTo(const Handler& handler, Delivery delivery, Values... values) {
    Dispatch dispatch{{}, delivery.currentShellOnly, delivery.menuMessage};
    // An action runs once: its values are moved into the handler, so a large menu is never copied.
    if (handler) dispatch.action = [handler, ... values = std::move(values)]() mutable { handler(std::move(values)...); };
    return dispatch;
}

// Only called for a key known to be present; moving saves copying large menus.
Json takenMember(Json& message, const char* key) { return std::move(*message.find(key)); }

// A value of another type never equals `expected` (true is not 1).
bool memberEquals(const Json& message, const char* key, const Json& expected) {
    auto found = message.find(key);
    return found != message.end() && *found == expected;
}

bool isExactly(const Json& message, const char* key, const Json& expected) {
    return message.size() == 1 && memberEquals(message, key, expected);
}

bool hasArrayOfObjects(const Json& message, const char* key) {
    const Json* value = arrayMember(message, key);
    return value && isArrayOfObjects(*value);
}

using Match = std::optional<Dispatch>;
// A menu's rows and publication, read aside as the menu takes them (each null in the message).
using Aside = MembersSetAside;
using Rule = Match (*)(Json& message, Aside& aside, const RecognisedMessages& flags, const MessageHandlers& handlers);

Match quitSenders(Json& message, Aside&, const RecognisedMessages&, const MessageHandlers& handlers) {
    const Json* senders = arrayMember(message, "setupQuitSenders");
    if (!senders || !isArrayOfStrings(*senders)) return std::nullopt;
    std::set<std::string> names;
    for (const Json& sender : *senders) names.insert(sender.get_ref<const std::string&>());
    return dispatchTo(handlers.setupQuitSenders, currentShell, std::move(names));
}

Match quitSettled(Json& message, Aside&, const RecognisedMessages&, const MessageHandlers& handlers) {
    if (!memberEquals(message, "setupQuit", "settled")) return std::nullopt;
    return dispatchTo(handlers.setupQuitSettled, currentShell, memberEquals(message, "restarting", true));
}

Match panelRequest(Json& message, Aside&, const RecognisedMessages& flags, const MessageHandlers& handlers) {
    if (!flags.hostsTheChildsPanel || !objectMember(message, "panel")) return std::nullopt;
    return dispatchTo(handlers.panel, anyShell, takenMember(message, "panel"));
}

Match hotKeys(Json& message, Aside&, const RecognisedMessages& flags, const MessageHandlers& handlers) {
    if (!flags.childOwnsHotKeys || !hasArrayOfObjects(message, "hotkeys")) return std::nullopt;
    return dispatchTo(handlers.hotKeys, anyShell, takenMember(message, "hotkeys"));
}

Match watchApps(Json& message, Aside&, const RecognisedMessages&, const MessageHandlers& handlers) {
    if (!isExactly(message, "watch", "apps")) return std::nullopt;
    return dispatchTo(handlers.watchApps, anyShell);
}

Match menuUnavailable(Json& message, Aside&, const RecognisedMessages& flags, const MessageHandlers& handlers) {
    const std::string* text = stringMember(message, "menuUnavailable");
    if (!flags.drawsTheChildsMenu || !text) return std::nullopt;
    return dispatchTo(handlers.menuUnavailable, currentShell, *text);
}

// The rows come read flat, and the publication written out as menu.json will hold it: it is
// never read, only written.
Match menu(Json& message, Aside& aside, const RecognisedMessages& flags, const MessageHandlers& handlers) {
    if (!flags.drawsTheChildsMenu || !aside.flat) return std::nullopt;
    std::optional<std::string> written;
    if (aside.written && aside.written->isArrayOfObjects) written = std::move(aside.written->sorted);
    return dispatchTo(handlers.menu, currentShellMenu, std::move(*aside.flat), memberEquals(message, "submenuUpdates", true),
                      std::move(written));
}

Match menuBranch(Json& message, Aside&, const RecognisedMessages& flags, const MessageHandlers& handlers) {
    if (!flags.drawsTheChildsMenu || !objectMember(message, "menuBranch")) return std::nullopt;
    Json& branch = *message.find("menuBranch");
    const std::string* id = stringMember(branch, "id");
    if (!id || !hasArrayOfObjects(branch, "rows")) return std::nullopt;
    return dispatchTo(handlers.menuBranch, currentShellMenu, std::string(*id), takenMember(branch, "rows"));
}

Match popUp(Json& message, Aside&, const RecognisedMessages& flags, const MessageHandlers& handlers) {
    if (!flags.drawsTheChildsMenu || !isExactly(message, "popUp", true)) return std::nullopt;
    return dispatchTo(handlers.popUp, currentShellMenu);
}

Match badge(Json& message, Aside&, const RecognisedMessages& flags, const MessageHandlers& handlers) {
    if (!flags.drawsTheChildsMenu) return std::nullopt;
    std::optional<Badge> shown = badgeOf(message);
    if (!shown) return std::nullopt;
    return dispatchTo(handlers.badge, anyShell, std::move(*shown));
}

Match focusReplies(Json& message, Aside&, const RecognisedMessages&, const MessageHandlers& handlers) {
    if (!isExactly(message, "focus", "replies")) return std::nullopt;
    Dispatch dispatch = dispatchTo(handlers.focusReplies, anyShell);
    dispatch.announcesURLReplies = true;
    return dispatch;
}

// Presence of "result" or "error" alone marks a reply; their values are never read.
Match urlReply(Json& message, Aside&, const RecognisedMessages&, const MessageHandlers& handlers) {
    const std::string* url = stringMember(message, "url");
    if (!url || !(message.contains("result") || message.contains("error"))) return std::nullopt;
    if (handlers.urlRepliesAnnounced && !*handlers.urlRepliesAnnounced) return Dispatch{};  // nobody waits for it
    std::optional<std::string> focus;
    if (const std::string* value = stringMember(message, "focus")) focus = *value;
    return dispatchTo(handlers.urlReply, anyShell, *url, std::move(focus), int32Member(message, "panel"));
}

// First match wins.
constexpr Rule rules[] = {quitSenders, quitSettled, panelRequest, hotKeys, watchApps,    menuUnavailable,
                          menu,        menuBranch,  popUp,        badge,   focusReplies, urlReply};

// Only an object can be a message; most of what a shell prints is not one, so skip parsing it.
bool mayBeAnObject(std::string_view line) {
    auto first = line.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && line[first] == '{';
}

// Every rule needs one of these keys among the message's own members.
constexpr std::string_view ruleKeys[] = {"url",   "menu",    "panel",     "watch",      "popUp",           "badge",
                                         "focus", "hotkeys", "setupQuit", "menuBranch", "menuUnavailable", "setupQuitSenders"};

bool isARuleKey(std::string_view name) {
    return std::find(std::begin(ruleKeys), std::end(ruleKeys), name) != std::end(ruleKeys);
}

// For each byte, the rule keys that end with it, one bit a key.
constexpr std::array<std::uint16_t, 256> ruleKeysEndingWith = [] {
    std::array<std::uint16_t, 256> keys{};
    for (std::size_t n = 0; n < std::size(ruleKeys); ++n) keys[static_cast<unsigned char>(ruleKeys[n].back())] |= 1u << n;
    return keys;
}();

// Whether the name that `close` (its closing quote) ends, within `begin`, is a rule's key:
// most names are turned away by their last letter alone.
bool nameEndingAtIsARuleKey(const char* begin, const char* close) {
    if (close == begin) return false;
    const std::size_t room = static_cast<std::size_t>(close - begin);
    for (unsigned keys = ruleKeysEndingWith[static_cast<unsigned char>(close[-1])]; keys != 0; keys &= keys - 1) {
        const std::string_view key = ruleKeys[std::countr_zero(keys)];
        if (room > key.size() && *(close - key.size() - 1) == '"' && std::memcmp(close - key.size(), key.data(), key.size()) == 0)
            return true;
    }
    return false;
}

// The members whose values a rule reads; the others only need to be there.
bool isReadByARule(std::string_view name) {
    return isARuleKey(name) || name == "restarting" || name == "submenuUpdates";
}

// Whether the mark at `at`, a colon or a backslash, may stand after a rule's key. A colon is
// looked at through the name before it; a backslash may begin an escape that spells a key.
bool markMayFollowARuleKey(const char* begin, const char* at) {
    if (*at == '\\') return true;
    const char* close = at;
    while (close > begin && (close[-1] == ' ' || close[-1] == '\t' || close[-1] == '\r')) --close;
    return close > begin && *--close == '"' && nameEndingAtIsARuleKey(begin, close);
}

// Whether some member name anywhere in `text` (a line or many) may be a rule's key. Every name
// stands before a colon, so only colons and backslashes are looked at, found sixteen bytes at a
// time where the processor can: text it clears names no rule key at any depth, and most of what
// a shell prints is cleared at a small share of the cost of reading it.
bool namesARuleKeyAnywhere(std::string_view text) {
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* at = begin;
#ifdef __SSE2__
    const __m128i colon = _mm_set1_epi8(':');
    const __m128i backslash = _mm_set1_epi8('\\');
    for (; end - at >= 16; at += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i marks = _mm_or_si128(_mm_cmpeq_epi8(block, colon), _mm_cmpeq_epi8(block, backslash));
        for (unsigned found = static_cast<unsigned>(_mm_movemask_epi8(marks)); found != 0; found &= found - 1) {
            if (markMayFollowARuleKey(begin, at + std::countr_zero(found))) return true;
        }
    }
#endif
    for (; at < end; ++at) {
        if ((*at == ':' || *at == '\\') && markMayFollowARuleKey(begin, at)) return true;
    }
    return false;
}

// Whether a line that may be an object names a rule's key among its own members: one pass that
// skips strings and nested values as the parser does. A name written with an escape may spell
// a key, so it counts; a line that is not JSON may count too, and is then parsed and passed on.
// Strings are skipped byte by byte: most are a few bytes long, too short for memchr to pay.
bool mayNameARuleKey(std::string_view line) {
    const char* at = line.data();
    const char* const end = at + line.size();
    std::size_t depth = 0;
    bool nameNext = false;
    while (at < end) {
        const char character = *at++;
        if (character == '"') {
            const char* const start = at;
            bool escaped = false;
            while (at < end && *at != '"') {
                if (*at == '\\') {
                    escaped = true;
                    if (++at == end) break;  // the escaped byte is skipped too
                }
                ++at;
            }
            if (at >= end) return false;  // the string never ends
            if (nameNext && (escaped || isARuleKey({start, static_cast<std::size_t>(at - start)}))) return true;
            nameNext = false;
            ++at;
        } else if (character == '{' || character == '[') {
            nameNext = ++depth == 1 && character == '{';
        } else if (character == '}' || character == ']') {
            if (depth > 0) --depth;
        } else if (character == ',') {
            nameNext = depth == 1;
        }
    }
    return false;
}

// Process-wide, so that lines from two shells never interleave.
std::mutex writingToTheOutput;

void readUntilEndOfFile(int fd, std::unique_ptr<ChildOutput> output, int outFd,
                        std::function<void()> finished) {
    std::vector<char> buffer(64 * 1024);
    PassedThrough passedThrough;
    while (std::size_t count = platform::readSome(fd, buffer.data(), buffer.size())) {
        passedThrough.clear();
        output->take({buffer.data(), count}, passedThrough);
        if (passedThrough.empty()) continue;
        std::lock_guard lock(writingToTheOutput);
        platform::writeAllOf(outFd, passedThrough.pieces());  // when the output is gone the rest is dropped
    }
    platform::closeDescriptor(fd);
    if (finished) finished();
}

}  // namespace

void PassedThrough::add(std::string_view piece) {
    if (!pieces_.empty() && pieces_.back().data() + pieces_.back().size() == piece.data()) {
        pieces_.back() = std::string_view(pieces_.back().data(), pieces_.back().size() + piece.size());
    } else {
        pieces_.push_back(piece);
    }
}

void PassedThrough::addCopy(std::string_view piece) { pieces_.push_back(copies_.emplace_back(piece)); }

void PassedThrough::clear() {
    pieces_.clear();
    copies_.clear();
}

std::string PassedThrough::joined() const {
    std::string text;
    for (std::string_view piece : pieces_) text.append(piece);
    return text;
}

// Only the members a rule reads are parsed, and only for lines that name a rule's key.
std::optional<Dispatch> dispatchOf(std::string_view line, const RecognisedMessages& recognised,
                                   const MessageHandlers& handlers) {
    if (!mayBeAnObject(line) || !namesARuleKeyAnywhere(line) || !mayNameARuleKey(line)) return std::nullopt;
    Aside aside{"publication", std::nullopt, "menu", std::nullopt};
    std::optional<Json> message = objectKeeping(line, isReadByARule, &aside);
    if (!message) return std::nullopt;
    for (Rule rule : rules) {
        if (auto dispatch = rule(*message, aside, recognised, handlers)) return dispatch;
    }
    return std::nullopt;
}

ChildOutput::ChildOutput(RecognisedMessages recognised, std::shared_ptr<const MessageHandlers> handlers,
                         std::function<bool()> isCurrent, Post post)
    : recognised_(recognised),
      handlers_(handlers ? std::move(handlers) : std::make_shared<const MessageHandlers>()),
      isCurrent_(std::move(isCurrent)),
      post_(std::move(post)) {}

// Lines are cut from `bytes` in place; only a line split across reads is assembled in pending_.
void ChildOutput::take(std::string_view bytes, PassedThrough& passedThrough) {
    if (passingALongLine_) {
        const std::size_t newline = bytes.find('\n');
        const std::size_t end = newline == std::string_view::npos ? bytes.size() : newline + 1;
        passedThrough.add(bytes.substr(0, end));
        if (newline == std::string_view::npos) return;
        passingALongLine_ = false;
        bytes.remove_prefix(end);
    }
    std::size_t newline = bytes.find('\n');
    if (newline == std::string_view::npos) {
        pending_.append(bytes);
    } else {
        if (pending_.empty()) {
            handleLine(bytes.substr(0, newline), true, passedThrough);
        } else {
            pending_.append(bytes.substr(0, newline));
            handleLine(pending_, false, passedThrough);
        }
        const std::size_t start = newline + 1;
        const std::size_t end = bytes.rfind('\n') + 1;
        handleWholeLines(bytes.substr(start, end - start), passedThrough);
        pending_.assign(bytes.substr(end));  // also drops the line assembled above
    }
    if (pending_.size() > LONGEST_CHILD_MESSAGE) {
        passedThrough.addCopy(pending_);
        std::string().swap(pending_);  // gives the memory back too
        passingALongLine_ = true;
    }
    postTheMessages();
}

void ChildOutput::take(std::string_view bytes, std::string* passedThrough) {
    PassedThrough passed;
    take(bytes, passed);
    if (passedThrough) passedThrough->append(passed.joined());
}

// `lines` ends with a newline, or is empty. Most reads hold no message at all: they are checked
// as a whole, and pass through in one piece, without a look at each line.
void ChildOutput::handleWholeLines(std::string_view lines, PassedThrough& passedThrough) {
    if (!namesARuleKeyAnywhere(lines)) {
        if (!lines.empty()) passedThrough.add(lines);
        return;
    }
    std::size_t start = 0;
    for (std::size_t newline; (newline = lines.find('\n', start)) != std::string_view::npos; start = newline + 1) {
        handleLine(lines.substr(start, newline - start), true, passedThrough);
    }
}

void ChildOutput::handleLine(std::string_view line, bool inTheRead, PassedThrough& passedThrough) {
    std::optional<Dispatch> dispatch = dispatchOf(line, recognised_, *handlers_);
    if (!dispatch) {
        if (inTheRead) passedThrough.add(std::string_view(line.data(), line.size() + 1));
        else passedThrough.addCopy(std::string(line) + "\n");
        return;
    }
    if (dispatch->announcesURLReplies && handlers_->urlRepliesAnnounced) *handlers_->urlRepliesAnnounced = true;
    if (!dispatch->action || !post_) return;
    if (!dispatch->currentShellOnly) {
        messages_.push_back(std::move(dispatch->action));
        return;
    }
    // A swap may replace the shell before the main thread gets to this message.
    messages_.push_back([isCurrent = isCurrent_, action = std::move(dispatch->action)] {
        if (!isCurrent || isCurrent()) action();
    });
}

// One post per read: one lock and one wake-up for all its messages. A message that throws
// leaves the others to run.
void ChildOutput::postTheMessages() {
    if (messages_.empty()) return;
    post_([messages = std::exchange(messages_, {})] {
        for (const auto& message : messages) loop::runSwallowingExceptions(message);
    });
}

void listenOnItsOwnThread(int fd, std::unique_ptr<ChildOutput> output, int outFd,
                          std::function<void()> finished) {
    if (!output) output = std::make_unique<ChildOutput>(RecognisedMessages{}, nullptr, nullptr, nullptr);
    try {
        std::thread(readUntilEndOfFile, fd, std::move(output), outFd, finished).detach();
    } catch (const std::system_error& error) {
        // Without a reader the shell's writes fail instead of filling the pipe and blocking.
        platform::say(std::string("cannot read the shell's output: ") + error.what() + "\n");
        platform::closeDescriptor(fd);
        if (finished) finished();
    }
}

}  // namespace host
