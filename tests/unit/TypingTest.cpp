#include "desktop/Typing.h"

#include "base/Text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace tarvine;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

std::string letters(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += char('a' + i % 26);
    return text;
}

TEST(TypingPieces, CutsAtTwentyCodeUnits) {
    EXPECT_THAT(Typing::pieces("abc"), ElementsAre("abc"));
    const std::string text = letters(45);
    EXPECT_THAT(Typing::pieces(text),
                ElementsAre(text.substr(0, 20), text.substr(20, 20), text.substr(40, 5)));
    EXPECT_THAT(Typing::pieces(""), IsEmpty());
}

TEST(TypingPieces, LineFeedsNeverBeginAPiece) {
    EXPECT_THAT(Typing::pieces("\nabc"), IsEmpty());
    // The second line feed overflows: the 19th letter and the first line feed move along.
    const std::string text = letters(19) + "\n\nz";
    EXPECT_THAT(Typing::pieces(text), ElementsAre(letters(18), "s\n\nz"));
    // A run of line feeds longer than a piece cannot be carried.
    EXPECT_THAT(Typing::pieces("a" + std::string(25, '\n') + "b"), IsEmpty());
}

TEST(TypingPieces, NormalisesLineBreaksAndTabs) {
    EXPECT_THAT(Typing::pieces("a\r\nb\rc\td"), ElementsAre("a\nb\nc    d"));
    // 17 letters and a tab: the tab's four spaces overflow the piece one by one.
    EXPECT_THAT(Typing::pieces(letters(17) + "\t"), ElementsAre(letters(17) + "   ", " "));
}

TEST(TypingPieces, KeepsCharactersWholeAndCountsUtf16) {
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F"
                               "\x91\xA7"; // man ZWJ woman ZWJ girl: 8 code units
    auto cut = Typing::pieces(letters(15) + family);
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0], letters(15));
    EXPECT_EQ(cut[1], family);
    // Ten emoji of two code units each fill one piece exactly.
    std::string grins;
    for (int i = 0; i < 11; ++i)
        grins += "\xF0\x9F\x98\x80";
    cut = Typing::pieces(grins);
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(Text::utf16Length(cut[0]), 20u);
    // One character longer than a piece makes the whole text untypeable.
    std::string flagsAndMarks = "e";
    for (int i = 0; i < 20; ++i)
        flagsAndMarks += "\xCC\x81"; // combining acute accents
    EXPECT_THAT(Typing::pieces("ok " + flagsAndMarks), IsEmpty());
}

TEST(TypingNeeded, OnlyForTheListedApplicationAndTypeableText) {
    const std::optional<std::string> sand = "com.anysphere.sand";
    EXPECT_TRUE(Typing::needed("hello", sand));
    EXPECT_FALSE(Typing::needed("hello", std::string("com.anysphere.sandbox")));
    EXPECT_FALSE(Typing::needed("hello", std::string("Com.Anysphere.Sand")));
    EXPECT_FALSE(Typing::needed("hello", std::nullopt));
    EXPECT_TRUE(Typing::needed(std::string(5000, 'x'), sand));
    EXPECT_FALSE(Typing::needed(std::string(5001, 'x'), sand));
    EXPECT_FALSE(Typing::needed("", sand));
    EXPECT_FALSE(Typing::needed("\nx", sand));
}

} // namespace
