#include "desktop/Snippets.h"

#include "FakePlatform.h"
#include "LoopDriver.h"
#include "desktop/SnippetCommands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace tarvine;
using fakes::loop::drain;
using platform::EventType;
using testing::ElementsAre;
using testing::IsEmpty;
namespace Flags = platform::EventFlags;
namespace Code = platform::KeyCode;

namespace {

// Feeds typed keys through the fake tap and records, in order, the Delete presses posted and
// the texts pasted.
class SnippetsTest : public testing::Test {
protected:
    void SetUp() override {
        platform = &fakes::installFakePlatform();
        platform->fakePermissions.input = true;
        keys().onPost = [this](std::int64_t code, int count) {
            done.push_back("post " + std::to_string(code) + " x" + std::to_string(count));
        };
    }

    fakes::FakeEventTaps& keys() { return platform->fakeEventTaps; }

    void use(std::vector<std::pair<std::string, std::string>> pairs) {
        std::vector<Message> items;
        for (auto& [abbreviation, content] : pairs)
            items.push_back({{"abbreviation", abbreviation}, {"content", content}});
        ASSERT_TRUE(snippets.set(items));
    }

    // Types the text, lets any expansion finish, and returns what was pasted meanwhile.
    std::vector<std::string> typed(const std::string& text) {
        keys().type(text);
        drain();
        return std::exchange(pasted, {});
    }

    fakes::FakeIntegration* platform = nullptr;
    std::vector<std::string> done;
    std::vector<std::string> pasted;
    Snippets snippets{[this](std::string text) -> asio::awaitable<bool> {
        done.push_back("paste " + text);
        pasted.push_back(std::move(text));
        co_return true;
    }};
};

} // namespace

TEST_F(SnippetsTest, LongestAbbreviationWinsAndAPrefixFiresFirst) {
    use({{";s", "short"}, {"x;s", "long"}, {"addr", "street"}, {"addr2", "flat"}});
    EXPECT_THAT(typed("x;s"), ElementsAre("long"));
    EXPECT_THAT(typed("y;s"), ElementsAre("short"));
    EXPECT_THAT(typed(" addr2"), ElementsAre("street"));
    EXPECT_EQ(snippets.buffer(), "") << "the 2 came while addr expanded";
}

TEST_F(SnippetsTest, AbbreviationsStartingWithALetterOnlyFireAtTheStartOfAWord) {
    use({{"sig", "Best regards"}, {";sig", "Cheers"}});
    EXPECT_THAT(typed("sig"), ElementsAre("Best regards")); // nothing before it
    EXPECT_THAT(typed("xsig"), IsEmpty());
    EXPECT_THAT(typed(" sig"), ElementsAre("Best regards"));
    keys().key(Code::returnKey, "\r");
    EXPECT_THAT(typed("sig"), ElementsAre("Best regards"));
    EXPECT_THAT(typed("x;sig"), ElementsAre("Cheers"));
    EXPECT_THAT(typed("ésig"), IsEmpty()) << "a letter beyond ASCII is a letter too";
}

TEST_F(SnippetsTest, DeleteEditsTheBufferAndTheAbbreviationIsErasedBeforeThePaste) {
    use({{"sig", "Best regards"}});
    keys().type("sii");
    keys().key(Code::deleteKey, "\b");
    EXPECT_THAT(typed("g"), ElementsAre("Best regards"));
    EXPECT_THAT(done, ElementsAre("post 51 x3", "paste Best regards"));
    EXPECT_FALSE(snippets.expanding());
}

TEST_F(SnippetsTest, CaretMovesClicksAndShortcutsForgetButShiftAndOptionDoNot) {
    use({{"sig", "Best regards"}});
    std::vector<platform::InputEvent> forgetting = {
        {.type = EventType::keyDown, .keyCode = 123}, // left arrow
        {.type = EventType::keyDown, .keyCode = Code::escape},
        {.type = EventType::keyDown, .keyCode = Code::home},
        {.type = EventType::leftMouseDown},
        {.type = EventType::rightMouseDown},
        {.type = EventType::keyDown, .keyCode = 1, .flags = Flags::command, .text = "s"},
        {.type = EventType::keyDown, .keyCode = 0, .flags = Flags::control, .text = "\x01"},
    };
    for (const auto& event : forgetting) {
        keys().type("si");
        keys().send(event);
        EXPECT_THAT(typed("g"), IsEmpty()) << static_cast<int>(event.type) << " " << event.keyCode;
    }
    keys().key(Code::escape, "\x1b");
    keys().key(0, "s", Flags::option | Flags::rightOption);
    keys().key(0, "i", Flags::shift | Flags::leftShift | Flags::alphaShift);
    keys().key(Code::rightShift, ""); // a key without text leaves the buffer alone
    EXPECT_THAT(typed("g"), ElementsAre("Best regards"));
}

TEST_F(SnippetsTest, BufferKeepsTheLast64CharactersAndKeyTextIsCutAt8Units) {
    use({});
    keys().type(std::string(60, 'a') + "0123456789");
    EXPECT_EQ(snippets.buffer(), std::string(54, 'a') + "0123456789");
    keys().key(0, "e\xCC\x81"); // e and a combining acute: one character
    EXPECT_EQ(snippets.buffer(), std::string(53, 'a') + "0123456789\xC3\xA9");
    keys().key(Code::deleteKey, "\b");
    EXPECT_EQ(snippets.buffer(), std::string(53, 'a') + "0123456789");
    keys().key(Code::tab, "\t");
    keys().key(0, "123456789");
    EXPECT_EQ(snippets.buffer(), " 12345678");
}

TEST_F(SnippetsTest, SetKeepsOnlyStringPairsLongestFirstInGivenOrder) {
    std::vector<Message> items = {
        {{"abbreviation", "ab"}, {"content", "1"}},
        {{"abbreviation", ""}, {"content", "empty"}},
        {{"abbreviation", "abc"}, {"content", 3}},
        {{"abbreviation", "xyz"}, {"content", ""}, {"other", true}},
        {{"content", "none"}},
        {{"abbreviation", "cd"}, {"content", "2"}},
    };
    ASSERT_TRUE(snippets.set(items));
    std::vector<std::string> order;
    for (const auto& e : snippets.expansions())
        order.push_back(e.abbreviation + "=" + e.content);
    EXPECT_THAT(order, ElementsAre("xyz=", "ab=1", "cd=2"));
}

TEST_F(SnippetsTest, KeysDuringAnExpansionAndOwnInputAreNotRecorded) {
    use({{"sig", "Best regards"}});
    keys().type("sig");
    EXPECT_TRUE(snippets.expanding());
    keys().type("xy"); // before the expansion has run
    drain();
    EXPECT_THAT(pasted, ElementsAre("Best regards"));
    keys().send({.type = EventType::keyDown, .keyCode = 0, .text = "s", .ownInput = true});
    EXPECT_EQ(snippets.buffer(), "");
    keys().send(EventType::tapDisabledByTimeout);
    EXPECT_EQ(keys().taps[0]->enables, 1);
    EXPECT_EQ(keys().taps[0]->mask, 0x40Au);
}

TEST_F(SnippetsTest, CommandRepliesInputMonitoringUntilATapExistsAndKeepsTheListMeanwhile) {
    platform->fakePermissions.input = false;
    SnippetCommands commands([](std::string) -> asio::awaitable<bool> { co_return true; });
    CommandTable table;
    commands.registerIn(table);
    const Message body = {
        {"cmd", "snippets.set"},
        {"items", Message::array({Message{{"abbreviation", ";a"}, {"content", "A"}}})}};
    const Request request(body);
    auto set = [&] {
        auto call = [&]() -> asio::awaitable<Message> {
            Reply reply = co_await (*table.find("snippets.set"))(request);
            co_return reply.body;
        };
        return fakes::loop::await(call());
    };
    EXPECT_EQ(set(), (Message{{"ok", false}, {"error", "input-monitoring"}}));
    EXPECT_EQ(commands.snippets().expansions().size(), 1u);
    EXPECT_EQ(keys().accessRequests, 0) << "no request for access here";
    platform->fakePermissions.input = true;
    keys().creatable = false;
    EXPECT_EQ(set(), (Message{{"ok", false}, {"error", "input-monitoring"}}));
    keys().creatable = true;
    EXPECT_EQ(set(), (Message{{"ok", true}}));
    EXPECT_EQ(set(), (Message{{"ok", true}}));
    EXPECT_EQ(keys().taps.size(), 1u);
}
