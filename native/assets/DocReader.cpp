// Word 97-2003 text: the WordDocument stream's text, found through the piece table (the
// Clx in the table stream), where each piece is 8-bit (Windows-1252) or UTF-16 text. The
// main text comes first, then footnotes and endnotes. Field instructions are left out and
// their results kept.

#include "Ole2.h"
#include "Readers.h"
#include "TextEncoding.h"

#include <cstdint>
#include <vector>

namespace tarvine::Readers {

namespace {

constexpr std::size_t streamLimit = std::size_t{512} << 20;

std::optional<std::uint32_t> u32(std::string_view bytes, std::uint64_t at) {
    if (at + 4 > bytes.size()) return std::nullopt;
    auto b = [&](std::uint64_t i) {
        return std::uint32_t(static_cast<unsigned char>(bytes[at + i]));
    };
    return b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24;
}

std::optional<std::uint16_t> u16(std::string_view bytes, std::uint64_t at) {
    if (at + 2 > bytes.size()) return std::nullopt;
    auto b = [&](std::uint64_t i) {
        return std::uint16_t(static_cast<unsigned char>(bytes[at + i]));
    };
    return static_cast<std::uint16_t>(b(0) | b(1) << 8);
}

// Windows-1252 for 0x80-0x9F; every other byte is its Latin-1 character.
char32_t cp1252(unsigned char byte) {
    static constexpr char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    return byte >= 0x80 && byte < 0xA0 ? high[byte - 0x80] : byte;
}

struct Fib {
    bool tableOne = false; // the table stream is "1Table", else "0Table"
    std::uint32_t ccpText = 0, ccpFtn = 0, ccpHdd = 0, ccpMcr = 0, ccpAtn = 0, ccpEdn = 0;
    std::uint32_t fcClx = 0, lcbClx = 0;
};

std::optional<Fib> readFib(std::string_view word) {
    auto ident = u16(word, 0);
    auto flags = u16(word, 0x0A);
    if (!ident || *ident != 0xA5EC || !flags) return std::nullopt;
    if (*flags & 0x0100) return std::nullopt; // encrypted
    Fib fib;
    fib.tableOne = (*flags & 0x0200) != 0;
    auto csw = u16(word, 32);
    if (!csw) return std::nullopt;
    std::uint64_t lwAt = 34 + std::uint64_t{*csw} * 2;
    auto cslw = u16(word, lwAt);
    if (!cslw || *cslw < 9) return std::nullopt;
    std::uint64_t lw = lwAt + 2;
    auto field = [&](int index) { return u32(word, lw + 4 * index).value_or(0); };
    fib.ccpText = field(3);
    fib.ccpFtn = field(4);
    fib.ccpHdd = field(5);
    fib.ccpMcr = field(6);
    fib.ccpAtn = field(7);
    fib.ccpEdn = field(8);
    std::uint64_t fcLcbAt = lw + std::uint64_t{*cslw} * 4;
    auto pairs = u16(word, fcLcbAt);
    if (!pairs || *pairs < 34) return std::nullopt;
    std::uint64_t clxAt = fcLcbAt + 2 + 33 * 8;
    auto fcClx = u32(word, clxAt);
    auto lcbClx = u32(word, clxAt + 4);
    if (!fcClx || !lcbClx) return std::nullopt;
    fib.fcClx = *fcClx;
    fib.lcbClx = *lcbClx;
    return fib;
}

struct Piece {
    std::uint32_t cpStart, cpEnd;
    std::uint32_t fc;
    bool compressed;
};

// The piece descriptors of the Clx: property runs (clxt 1) come first and are passed over.
std::optional<std::vector<Piece>> readPieces(std::string_view table, const Fib& fib) {
    if (std::uint64_t{fib.fcClx} + fib.lcbClx > table.size()) return std::nullopt;
    std::string_view clx = table.substr(fib.fcClx, fib.lcbClx);
    std::uint64_t at = 0;
    while (at < clx.size()) {
        auto clxt = static_cast<unsigned char>(clx[at]);
        if (clxt == 1) {
            auto cb = u16(clx, at + 1);
            if (!cb) return std::nullopt;
            at += 3 + std::uint64_t{*cb};
            continue;
        }
        if (clxt != 2) return std::nullopt;
        auto lcb = u32(clx, at + 1);
        if (!lcb || at + 5 + *lcb > clx.size() || *lcb < 4) return std::nullopt;
        std::string_view plc = clx.substr(at + 5, *lcb);
        std::uint64_t count = (plc.size() - 4) / 12;
        std::vector<Piece> pieces;
        pieces.reserve(count);
        for (std::uint64_t i = 0; i < count; ++i) {
            auto fc = u32(plc, 4 * (count + 1) + 8 * i + 2);
            auto start = u32(plc, 4 * i), end = u32(plc, 4 * (i + 1));
            if (!fc || !start || !end) return std::nullopt;
            pieces.push_back({*start, *end, *fc & 0x3FFFFFFFu, (*fc & 0x40000000u) != 0});
        }
        return pieces;
    }
    return std::nullopt;
}

class DocText {
public:
    DocText(std::string_view word, std::vector<Piece> pieces)
        : word_(word), pieces_(std::move(pieces)) {}

    // The characters with positions in [from, to), in order, as Word stores them.
    std::u32string characters(std::uint64_t from, std::uint64_t to) const {
        std::u32string chars;
        std::uint64_t previousEnd = 0;
        for (const auto& piece : pieces_) {
            // Pieces run forward; one that goes back is damage, and would let a small file
            // repeat the same bytes without end.
            if (piece.cpEnd <= piece.cpStart || piece.cpStart < previousEnd) break;
            previousEnd = piece.cpEnd;
            std::uint64_t start = std::max<std::uint64_t>(piece.cpStart, from);
            std::uint64_t end = std::min<std::uint64_t>(piece.cpEnd, to);
            if (start >= end) continue;
            // Every character is stored at least once in the stream: more is repetition.
            if (chars.size() + (end - start) > word_.size()) break;
            if (!appendPiece(chars, piece, start - piece.cpStart, end - start)) break;
        }
        return chars;
    }

private:
    bool appendPiece(std::u32string& chars, const Piece& piece, std::uint64_t skip,
                     std::uint64_t count) const {
        if (piece.compressed) {
            std::uint64_t at = piece.fc / 2 + skip;
            if (at + count > word_.size()) return false;
            for (std::uint64_t i = 0; i < count; ++i)
                chars += cp1252(static_cast<unsigned char>(word_[at + i]));
            return true;
        }
        std::uint64_t at = piece.fc + 2 * skip;
        if (at + 2 * count > word_.size()) return false;
        for (std::uint64_t i = 0; i < count; ++i)
            chars += *u16(word_, at + 2 * i);
        return true;
    }

    std::string_view word_;
    std::vector<Piece> pieces_;
};

// Word's special characters become text; field instructions (between the field's begin and
// separator marks) are dropped.
class StoryWriter {
public:
    void write(const std::u32string& chars) {
        notes_ = 0;
        for (char32_t c : chars)
            character(c);
        previous_ = 0;
    }

    std::string text() && { return std::move(out_); }

private:
    void character(char32_t c) {
        char32_t previous = previous_;
        previous_ = c;
        if (c == 0x13) {
            fields_.push_back(true);
            return;
        }
        if (c == 0x14) {
            if (!fields_.empty()) fields_.back() = false;
            return;
        }
        if (c == 0x15) {
            if (!fields_.empty()) fields_.pop_back();
            return;
        }
        for (bool inInstruction : fields_)
            if (inInstruction) return;
        switch (c) {
        case 0x0D:
        case 0x0B:
            out_ += '\n';
            return;
        case 0x0C:
            out_ += '\f';
            return;
        case 0x07:
            // A cell ends with one mark; the row's own mark follows the last cell's.
            if (previous == 0x07 && !out_.empty() && out_.back() == '\t')
                out_.back() = '\n';
            else
                out_ += '\t';
            return;
        case 0x09:
            out_ += '\t';
            return;
        case 0x02: // an automatically numbered note reference
            out_ += std::to_string(++notes_);
            return;
        case 0x1E:
            out_ += '-';
            return;
        default:
            break;
        }
        if (c < 0x20 || c == 0x1F) return;
        if (c >= 0xD800 && c <= 0xDBFF) {
            high_ = c;
            return;
        }
        if (c >= 0xDC00 && c <= 0xDFFF && high_)
            c = 0x10000 + ((high_ - 0xD800) << 10) + (c - 0xDC00);
        high_ = 0;
        TextEncoding::appendUtf8(out_, c);
    }

    std::string out_;
    std::vector<bool> fields_; // per open field: still in its instruction
    char32_t previous_ = 0, high_ = 0;
    int notes_ = 0;
};

} // namespace

std::optional<std::string> docText(std::string_view bytes) {
    auto file = Ole2File::open(bytes);
    if (!file) return std::nullopt;
    auto word = file->stream("WordDocument", streamLimit);
    if (!word) return std::nullopt;
    auto fib = readFib(*word);
    if (!fib) return std::nullopt;
    auto table = file->stream(fib->tableOne ? "1Table" : "0Table", streamLimit);
    if (!table) return std::nullopt;
    auto pieces = readPieces(*table, *fib);
    if (!pieces) return std::nullopt;

    DocText doc(*word, std::move(*pieces));
    StoryWriter writer;
    std::uint64_t main = fib->ccpText;
    std::uint64_t footnotes = main + fib->ccpFtn;
    std::uint64_t endnotesStart = footnotes + fib->ccpHdd + fib->ccpMcr + fib->ccpAtn;
    writer.write(doc.characters(0, main));
    writer.write(doc.characters(main, footnotes));
    writer.write(doc.characters(endnotesStart, endnotesStart + fib->ccpEdn));
    return std::move(writer).text();
}

} // namespace tarvine::Readers
