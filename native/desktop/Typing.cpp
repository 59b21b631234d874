#include "Typing.h"

#include "base/MainLoop.h"
#include "base/Text.h"
#include "platform/KeyboardOutput.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"

namespace tarvine::Typing {

namespace {

using namespace std::chrono_literals;

constexpr auto pause = 4ms;

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

// Line breaks become line feeds, tabs four spaces.
std::string normalized(std::string_view text) {
    std::string out(text);
    replaceAll(out, "\r\n", "\n");
    replaceAll(out, "\r", "\n");
    replaceAll(out, "\t", "    ");
    return out;
}

struct Piece {
    std::vector<std::string> characters;
    std::size_t length = 0;

    void append(std::string character, std::size_t units) {
        characters.push_back(std::move(character));
        length += units;
    }
    std::string text() const {
        std::string joined;
        for (const auto& c : characters)
            joined += c;
        return joined;
    }
};

// A line feed that overflows a piece takes the piece's trailing line feeds and the character
// before them along, so that no piece begins with a line feed.
Piece carryOver(Piece& current) {
    Piece carry;
    std::vector<std::string> taken;
    while (!current.characters.empty()) {
        std::string last = std::move(current.characters.back());
        current.characters.pop_back();
        current.length -= Text::utf16Length(last);
        const bool lineFeed = last == "\n";
        taken.push_back(std::move(last));
        if (!lineFeed) break;
    }
    for (auto it = taken.rbegin(); it != taken.rend(); ++it)
        carry.append(*it, Text::utf16Length(*it));
    return carry;
}

} // namespace

const std::set<std::string>& remote() {
    static const std::set<std::string> identifiers = {"com.anysphere.sand"};
    return identifiers;
}

std::vector<std::string> pieces(std::string_view text) {
    std::vector<std::string> list;
    Piece current;
    for (auto& character : Text::graphemes(normalized(text))) {
        const std::size_t units = Text::utf16Length(character);
        if (units > pieceLength) return {};
        if (current.length + units > pieceLength) {
            Piece carry = character == "\n" ? carryOver(current) : Piece{};
            if (!current.characters.empty()) list.push_back(current.text());
            current = std::move(carry);
        }
        current.append(std::move(character), units);
    }
    if (!current.characters.empty()) list.push_back(current.text());
    for (const auto& piece : list)
        if (piece.front() == '\n' || Text::utf16Length(piece) > pieceLength) return {};
    return list;
}

bool needed(std::string_view text, const std::optional<std::string>& identifier) {
    return identifier && remote().count(*identifier) && Text::utf16Length(text) <= typedLimit &&
           !pieces(text).empty();
}

asio::awaitable<bool> needed(std::string text) {
    auto ask = [] { return platform::integration().workspace().frontmostApplication(false); };
    auto app = co_await MainLoop::offload(ask);
    co_return needed(text, app ? app->identifier : std::nullopt);
}

asio::awaitable<void> type(std::string text) {
    auto& keyboard = platform::integration().keyboardOutput();
    for (auto& piece : pieces(text)) {
        for (bool down : {true, false}) {
            platform::KeyEvent event{platform::KeyCodes::textOnly, down, 0, piece};
            co_await keyboard.post(std::move(event));
            co_await MainLoop::sleep(pause);
        }
    }
}

} // namespace tarvine::Typing
