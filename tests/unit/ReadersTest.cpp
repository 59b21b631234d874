// The document readers on small hand-written inputs that pin down the rules each format has
// (the end-to-end tests read whole documents written by LibreOffice).

#include "assets/Readers.h"

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
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

TEST(ReadersHtml, NestingWithoutEndKeepsItsText) {
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<div><b>";
    EXPECT_EQ(Readers::htmlText(deep + "deep text</b></div> after"), "deep text after\n");
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

namespace {

void put16(std::string& s, std::size_t at, unsigned v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& s, std::size_t at, std::uint32_t v) {
    put16(s, at, v & 0xFFFF);
    put16(s, at + 2, v >> 16);
}

// A compound file holding the given streams, written by libgsf.
std::string compoundFile(const std::vector<std::pair<const char*, std::string>>& streams) {
    GsfOutput* sink = gsf_output_memory_new();
    GsfOutfile* outfile = gsf_outfile_msole_new(sink);
    for (const auto& [name, bytes] : streams) {
        GsfOutput* child = gsf_outfile_new_child(outfile, name, FALSE);
        gsf_output_write(child, bytes.size(), reinterpret_cast<const guint8*>(bytes.data()));
        gsf_output_close(child);
        g_object_unref(child);
    }
    gsf_output_close(GSF_OUTPUT(outfile));
    g_object_unref(outfile);
    std::string file(
        reinterpret_cast<const char*>(gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink))),
        static_cast<std::size_t>(gsf_output_size(sink)));
    g_object_unref(sink);
    return file;
}

} // namespace

// A Word 97 file made by hand: one 8-bit (Windows-1252) piece and one UTF-16 piece holding a
// field whose instruction is hidden and whose result shows.
TEST(ReadersDoc, EightAndSixteenBitPiecesInCharacterOrder) {
    const std::string eight = "Hello caf\xe9 \x93quoted\x94 ";
    const std::u16string sixteen = u"w\u00f6rld \u03a9 \x13 HYPERLINK x \x14shown\x15\r";
    std::string word(2048, '\0');
    put16(word, 0, 0xA5EC);
    put16(word, 2, 0x00C1);
    put16(word, 32, 14);                                                             // csw
    put16(word, 62, 22);                                                             // cslw
    put32(word, 64 + 12, static_cast<std::uint32_t>(eight.size() + sixteen.size())); // ccpText
    put16(word, 152, 0x5D);                                                          // cbRgFcLcb
    word.replace(1024, eight.size(), eight);
    for (std::size_t i = 0; i < sixteen.size(); ++i)
        put16(word, 1200 + 2 * i, sixteen[i]);

    // Clx: a property run (clxt 1, two bytes) passed over, then the piece table (clxt 2).
    std::string table(38, '\0');
    table[0] = 1;
    put16(table, 1, 2);
    table[5] = 2;
    std::size_t plc = 10;
    put32(table, 6, 4 * 3 + 8 * 2);
    put32(table, plc + 4, static_cast<std::uint32_t>(eight.size()));
    put32(table, plc + 8, static_cast<std::uint32_t>(eight.size() + sixteen.size()));
    put32(table, plc + 12 + 2, (1024 * 2) | 0x40000000u); // compressed: byte offset times two
    put32(table, plc + 20 + 2, 1200);
    put32(word, 418, 0);                                        // fcClx
    put32(word, 422, static_cast<std::uint32_t>(table.size())); // lcbClx

    auto text = Readers::docText(compoundFile({{"WordDocument", word}, {"0Table", table}}));
    EXPECT_EQ(text, "Hello café \u201Cquoted\u201D wörld Ω shown\n");
}
