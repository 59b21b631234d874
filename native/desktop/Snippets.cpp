#include "desktop/Snippets.h"

#include "base/MainLoop.h"
#include "desktop/Characters.h"
#include "desktop/SqliteReader.h"
#include "platform/Permissions.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace tarvine {

namespace {

namespace Code = platform::KeyCode;
namespace Flags = platform::EventFlags;
using platform::EventType;

constexpr std::size_t bufferLimit = 64; // characters
constexpr std::size_t keyTextLimit = 8; // UTF-16 code units
constexpr const char* replacementsQuery =
    "SELECT ZSHORTCUT, ZPHRASE FROM ZTEXTREPLACEMENTENTRY WHERE ZWASDELETED = 0";

bool isDisabledNotification(EventType type) {
    return type == EventType::tapDisabledByTimeout || type == EventType::tapDisabledByUserInput;
}

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string scratch(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, scratch.data(), scratch.size(), &found) == 0 && found)
        return found->pw_dir;
    return {};
}

} // namespace

bool Snippets::set(const std::vector<Message>& items) {
    std::vector<Expansion> list;
    for (const auto& item : items) {
        auto abbreviation = item.find("abbreviation");
        auto content = item.find("content");
        if (abbreviation == item.end() || content == item.end()) continue;
        if (!abbreviation->is_string() || !content->is_string()) continue;
        auto text = abbreviation->get<std::string>();
        if (text.empty()) continue;
        list.push_back({Characters::composed(text), content->get<std::string>()});
    }
    std::stable_sort(list.begin(), list.end(), [](const Expansion& a, const Expansion& b) {
        return Characters::count(a.abbreviation) > Characters::count(b.abbreviation);
    });
    expansions_ = std::move(list);
    buffer_.clear();
    if (tap_) return true;
    auto& platform = platform::integration();
    if (!platform.permissions().listenEventPreflight()) return false;
    std::uint64_t mask = platform::maskBit(EventType::leftMouseDown) |
                         platform::maskBit(EventType::rightMouseDown) |
                         platform::maskBit(EventType::keyDown);
    tap_ = platform.eventTaps().create(platform::EventTaps::Placement::tailAppend, mask,
                                       [this](const platform::InputEvent& e) { handle(e); });
    return tap_ != nullptr;
}

void Snippets::handle(const platform::InputEvent& event) {
    if (isDisabledNotification(event.type)) {
        if (tap_) tap_->enable();
        return;
    }
    if (expanding_ || event.ownInput) return;
    if (event.type == EventType::keyDown && !(event.flags & (Flags::command | Flags::control)))
        return handleKey(event);
    buffer_.clear();
}

void Snippets::handleKey(const platform::InputEvent& event) {
    auto code = event.keyCode;
    if (code == Code::returnKey || code == Code::tab || code == Code::keypadEnter) {
        buffer_ = " "; // a new line is a word boundary
        return;
    }
    if (code == Code::deleteKey) {
        auto characters = Characters::split(buffer_);
        if (!characters.empty()) buffer_.resize(buffer_.size() - characters.back().size());
        return;
    }
    if (code == Code::escape || (code >= Code::home && code <= Code::upArrow)) {
        buffer_.clear();
        return;
    }
    auto text = Characters::prefixInUtf16Units(event.text, keyTextLimit);
    if (text.empty()) return;
    append(text);
    if (const Expansion* found = match()) start(*found);
}

void Snippets::append(const std::string& text) {
    buffer_ = Characters::composed(buffer_ + text);
    auto characters = Characters::split(buffer_);
    if (characters.size() <= bufferLimit) return;
    auto keep = characters[characters.size() - bufferLimit];
    buffer_.erase(0, static_cast<std::size_t>(keep.data() - buffer_.data()));
}

// The first snippet, longest first, whose abbreviation ends the buffer on a character
// boundary; one that begins with a letter or digit must also begin a word.
const Snippets::Expansion* Snippets::match() const {
    auto characters = Characters::split(buffer_);
    for (const auto& expansion : expansions_) {
        const auto& abbreviation = expansion.abbreviation;
        if (!buffer_.ends_with(abbreviation)) continue;
        auto start = buffer_.data() + (buffer_.size() - abbreviation.size());
        auto at = std::find_if(characters.begin(), characters.end(),
                               [&](std::string_view c) { return c.data() == start; });
        if (at == characters.end()) continue;
        bool wordStart = !Characters::startsAlphanumeric(abbreviation) ||
                         at == characters.begin() || !Characters::startsAlphanumeric(*(at - 1));
        if (wordStart) return &expansion;
    }
    return nullptr;
}

void Snippets::start(const Expansion& expansion) {
    buffer_.clear();
    expanding_ = true;
    // After the tap's callback has returned, as the tap must not be held up.
    MainLoop::post([this, length = Characters::count(expansion.abbreviation),
                    content = expansion.content]() mutable {
        MainLoop::spawn(expand(length, std::move(content)));
    });
}

asio::awaitable<void> Snippets::expand(std::size_t length, std::string content) {
    try {
        erase(length);
        auto inserting = paste_(std::move(content));
        co_await std::move(inserting);
    } catch (...) {
        // A paste that fails leaves the abbreviation erased; the expansions must go on.
    }
    expanding_ = false;
}

void Snippets::erase(std::size_t count) {
    platform::integration().eventTaps().postKeyPresses(Code::deleteKey, static_cast<int>(count));
}

std::optional<std::vector<Snippets::TextReplacement>> Snippets::macTextReplacements() {
    auto database = sqlite::Database::openReadOnly(homeDirectory() +
                                                   "/Library/KeyboardServices/TextReplacements.db");
    if (!database) return std::nullopt;
    auto statement = sqlite::Statement::prepare(*database, replacementsQuery);
    if (!statement) return std::nullopt;
    std::vector<TextReplacement> list;
    for (;;) {
        auto step = statement->step();
        if (step == sqlite::Statement::Step::done) return list;
        // A read that breaks off is no list: a partial one would pass for the whole.
        if (step == sqlite::Statement::Step::failed) return std::nullopt;
        auto abbreviation = statement->text(0);
        auto content = statement->text(1);
        if (abbreviation && content) list.push_back({*abbreviation, *content});
    }
}

} // namespace tarvine
