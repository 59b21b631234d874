// Inputs the fuzzers once crashed or hung on, kept in fuzz/regressions/<Name>/ and replayed
// through the same reader as fuzz/<Name>Fuzz.cpp (under ASan and UBSan in the sanitizer build).

#include "assets/Readers.h"
#include "server/RequestReader.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <map>

namespace {

namespace fs = std::filesystem;

using Reader = std::function<void(std::string_view)>;

const std::map<std::string, Reader>& readers() {
    using namespace tarvine::Readers;
    static const std::map<std::string, Reader> byName = {
        {"Rtf", [](std::string_view b) { rtfText(b); }},
        {"Html", [](std::string_view b) { htmlText(b); }},
        {"Docx", [](std::string_view b) { docxText(b); }},
        {"Doc", [](std::string_view b) { docText(b); }},
        {"Pdf", [](std::string_view b) { pdfText(b); }},
        {"RequestReader",
         [](std::string_view b) {
             tarvine::RequestReader reader(512, [](const tarvine::Message&) {});
             reader.feed(b);
             reader.finish();
         }},
    };
    return byName;
}

} // namespace

TEST(FuzzRegressions, EveryKeptInputIsReadWithoutFailing) {
    fs::path root = fs::path(TARVINE_SOURCE_DIR) / "fuzz" / "regressions";
    if (!fs::exists(root)) GTEST_SKIP() << "no kept inputs";
    for (const auto& folder : fs::directory_iterator(root)) {
        if (!folder.is_directory()) continue;
        auto reader = readers().find(folder.path().filename().string());
        ASSERT_NE(reader, readers().end()) << "no reader for " << folder.path();
        for (const auto& input : fs::directory_iterator(folder.path())) {
            SCOPED_TRACE(input.path().string());
            std::ifstream in(input.path(), std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
            reader->second(bytes);
        }
    }
}
