#include "Readers.h"

#include <climits>
#include <memory>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

namespace tarvine::Readers {

namespace {

// Poppler reports every oddity of a damaged file on standard error; a one-shot mode's
// standard error is for its own usage and error texts.
void ignorePopplerMessage(const std::string&, void*) {}

} // namespace

std::optional<std::string> pdfText(std::string_view bytes) {
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    poppler::set_debug_error_function(ignorePopplerMessage, nullptr);
    std::unique_ptr<poppler::document> document(
        poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
    if (!document || document->is_locked()) return std::nullopt;
    std::string text;
    int pages = document->pages();
    for (int i = 0; i < pages; ++i) {
        std::unique_ptr<poppler::page> page(document->create_page(i));
        if (!page) continue;
        // Reading order: columns and blocks as a person reads them, not as drawn.
        auto utf8 =
            page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout).to_utf8();
        if (!text.empty() && !utf8.empty() && text.back() != '\n') text += '\n';
        text.append(utf8.begin(), utf8.end());
    }
    if (text.empty()) return std::nullopt;
    return text;
}

} // namespace tarvine::Readers
