// The document readers on small hand-written inputs that pin down the rules each format has
// (the end-to-end tests read whole documents written by LibreOffice).

#include "assets/Readers.h"

#include <gtest/gtest.h>

using namespace tarvine;

namespace {

std::string rtf(const std::string& body) {
    return Readers::rtfText("{\\rtf1\\ansi " + body + "}").value_or("<nothing>");
}

} // namespace

TEST(ReadersRtf, CodePagesUnicodeAndFallbackCounts) {
    EXPECT_EQ(rtf("\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2\\par"), "Привет\n");
    EXPECT_EQ(rtf("caf\\'e9 \\'80"), "café €");      // Windows-1252 unless told otherwise
    EXPECT_EQ(rtf("\\ansicpg932 \\'82\\'a0"), "あ"); // a double-byte code page
    EXPECT_EQ(rtf("\\u233e\\u-3913?"), "é\uF0B7");   // one fallback; negative values
    EXPECT_EQ(rtf("\\uc2\\u8364\\'80\\'80 euro"), "€ euro");
    EXPECT_EQ(rtf("{\\uc0\\u233}\\u-10179?\\u-8704?"), "é😀"); // a surrogate pair
    // Skipping stops where the group ends.
    EXPECT_EQ(rtf("{\\uc3\\u233 a}bc"), "ébc");
}

TEST(ReadersRtf, DestinationsFieldsAndBinaryDataHoldNoText) {
    EXPECT_EQ(rtf("{\\fonttbl{\\f0 Arial;}}{\\info{\\title Secret}}{\\*\\unknown hidden {nested}}"
                  "Shown{\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt  link}}\\bin4 {}\\}x"),
              "Shown linkx");
    EXPECT_EQ(rtf("\\{ \\} \\\\ a\\tab b\\line c\\emdash d"), "{ } \\ a\tb\nc\u2014d");
    EXPECT_EQ(rtf("A\\cell B\\cell\\row C\\cell D\\cell\\row"), "A\tB\nC\tD\n");
    EXPECT_EQ(rtf("Text{\\super\\chftn}{\\*\\footnote\\chftn  Note.} more\\par"),
              "Text1 more\n1 Note.\n");
}

TEST(ReadersRtf, HostileInputEndsWithoutCrashing) {
    EXPECT_EQ(Readers::rtfText("plain words"), std::nullopt);
    std::string deep = "{\\rtf1 " + std::string(200000, '{') + "x";
    EXPECT_EQ(Readers::rtfText(deep), "x");
    EXPECT_EQ(rtf("\\bin999999999 lost"), "");
    EXPECT_EQ(rtf("\\'"), "");
    EXPECT_EQ(rtf("\\u99999999999999999999x"), "\uFFFD");
}

TEST(ReadersHtml, BlocksSpacesListsTablesAndHiddenElements) {
    auto text = Readers::htmlText(
        "<html><head><title>T</title><style>p{color:red}</style></head><body>"
        "<script>var hidden = 1;</script><h1>Title</h1><p>One &amp;   two&nbsp;three\n words</p>"
        "<ul><li>a</li><li>b</li></ul><ol><li>first</li><li>second</li></ol>"
        "<pre>  keep   this\n  line</pre><p>x<br>y</p>"
        "<table><tr><th>A</th><td><p>B</p></td></tr><tr><td>C</td><td>D</td></tr></table>"
        "inline <b>bold</b> end</body></html>");
    EXPECT_EQ(text, "Title\nOne & two\u00A0three words\n\u2022 a\n\u2022 b\n1. first\n2. second\n"
                    "  keep   this\n  line\nx\ny\nA\tB\nC\tD\ninline bold end");
}

TEST(ReadersHtml, LegacyEncodingsBecomeUtf8) {
    EXPECT_EQ(Readers::htmlText("<p>caf\xe9 \x80</p>"), "café €\n");
    EXPECT_EQ(Readers::htmlText("<meta charset=\"iso-8859-5\"><p>\xbf\xe0\xd8</p>"), "При\n");
}

TEST(ReadersDetected, RtfMarkupOrPlainText) {
    EXPECT_EQ(Readers::detectedText("  {\\rtf1 Hi} after"), "Hi");
    EXPECT_EQ(Readers::detectedText("<!DOCTYPE html><p>Hi</p>"), "Hi\n");
    EXPECT_EQ(Readers::detectedText("a < b and caf\xe9"), "a < b and café");
}
