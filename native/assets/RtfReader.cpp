// RTF of our own reading: groups, destinations that hold no text, \uN with its fallback
// count, \'hh in the document's code page, paragraphs, tabs and table cells.

#include "Readers.h"
#include "TextEncoding.h"

#include <algorithm>
#include <set>
#include <vector>

namespace tarvine::Readers {

namespace {

// Deeper nesting than this is treated as the same group: no real document comes close, and
// every level costs memory.
constexpr std::size_t depthLimit = 4096;

enum class Destination { text, note, skip };

struct GroupState {
    Destination destination = Destination::text;
    int fallbackCount = 1; // characters that stand in for each \uN (\ucN)
};

// Destinations whose text is not part of what a reader sees.
bool ignoredDestination(std::string_view word) {
    static const std::set<std::string_view> names = {"fonttbl",
                                                     "colortbl",
                                                     "stylesheet",
                                                     "info",
                                                     "pict",
                                                     "object",
                                                     "objdata",
                                                     "fldinst",
                                                     "header",
                                                     "headerl",
                                                     "headerr",
                                                     "headerf",
                                                     "footer",
                                                     "footerl",
                                                     "footerr",
                                                     "footerf",
                                                     "annotation",
                                                     "atnid",
                                                     "atnauthor",
                                                     "xmlnstbl",
                                                     "listtable",
                                                     "listoverridetable",
                                                     "rsidtbl",
                                                     "generator",
                                                     "themedata",
                                                     "colorschememapping",
                                                     "latentstyles",
                                                     "datastore",
                                                     "pntext",
                                                     "pntxta",
                                                     "pntxtb",
                                                     "revtbl",
                                                     "filetbl",
                                                     "pgdsctbl",
                                                     "bkmkstart",
                                                     "bkmkend",
                                                     "template",
                                                     "userprops",
                                                     "docvar",
                                                     "nonshppict",
                                                     "shpinst",
                                                     "sp",
                                                     "sv",
                                                     "sn",
                                                     "mmathPr",
                                                     "blipuid",
                                                     "wgrffmtfilter",
                                                     "defchp",
                                                     "defpap",
                                                     "operator",
                                                     "passwordhash"};
    return names.contains(word);
}

// Control words that stand for a character or a break.
std::optional<std::string_view> wordText(std::string_view word) {
    if (word == "par" || word == "line" || word == "row" || word == "sect") return "\n";
    if (word == "page") return "\f";
    if (word == "tab" || word == "cell") return "\t";
    if (word == "emdash") return "\u2014";
    if (word == "endash") return "\u2013";
    if (word == "emspace") return "\u2003";
    if (word == "enspace") return "\u2002";
    if (word == "bullet") return "\u2022";
    if (word == "lquote") return "\u2018";
    if (word == "rquote") return "\u2019";
    if (word == "ldblquote") return "\u201C";
    if (word == "rdblquote") return "\u201D";
    return std::nullopt;
}

class RtfText {
public:
    explicit RtfText(std::string_view bytes) : in_(bytes) {}

    std::string read() {
        stack_.push_back({});
        at_ = in_.find('{');
        // The document is its outermost group: nothing after it closes is read.
        while (at_ < in_.size() && !(stack_.size() == 1 && overflow_ == 0 && opened_)) {
            char c = in_[at_++];
            if (c == '{')
                openGroup();
            else if (c == '}')
                closeGroup();
            else if (c == '\\')
                control();
            else if (c == '\r' || c == '\n')
                continue;
            else
                character(static_cast<unsigned char>(c));
        }
        flushBytes();
        // Footnotes follow the text, as at the foot of the page.
        if (!notes_.empty()) {
            if (!out_.empty() && out_.back() != '\n') out_ += '\n';
            out_ += notes_;
            if (notes_.back() != '\n') out_ += '\n';
        }
        return out_;
    }

private:
    GroupState& state() { return stack_.back(); }
    bool skipped() { return state().destination == Destination::skip; }
    std::string& target() { return state().destination == Destination::note ? notes_ : out_; }

    void openGroup() {
        flushBytes();
        skipping_ = 0;
        opened_ = true;
        if (stack_.size() < depthLimit)
            stack_.push_back(stack_.back());
        else
            ++overflow_;
        destinationStart_ = true;
    }

    void closeGroup() {
        flushBytes();
        skipping_ = 0;
        if (overflow_ > 0)
            --overflow_;
        else if (stack_.size() > 1)
            stack_.pop_back();
        destinationStart_ = false;
    }

    // A plain character of the document's code page. Fallback characters of \uN are dropped.
    void character(unsigned char c) {
        destinationStart_ = false;
        if (skipping_ > 0) {
            --skipping_;
            return;
        }
        if (skipped()) return;
        pendingBytes_ += static_cast<char>(c);
    }

    void emit(std::string_view text) {
        flushBytes();
        if (!skipped()) target() += text;
    }

    void emitCodePoint(char32_t c) {
        flushBytes();
        if (skipped()) return;
        if (c >= 0xD800 && c <= 0xDBFF) {
            highSurrogate_ = c;
            return;
        }
        if (c >= 0xDC00 && c <= 0xDFFF && highSurrogate_) {
            c = 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (c - 0xDC00);
        }
        highSurrogate_ = 0;
        TextEncoding::appendUtf8(target(), c);
    }

    // Bytes of the code page are converted together, so that double-byte code pages work.
    void flushBytes() {
        if (pendingBytes_.empty()) return;
        if (converterPage_ != codePage_) {
            converter_ = TextEncoding::Converter::open(TextEncoding::codePageCharset(codePage_));
            converterPage_ = codePage_;
        }
        target() += converter_ ? converter_->toUtf8(pendingBytes_)
                               : TextEncoding::latin1ToUtf8(pendingBytes_);
        pendingBytes_.clear();
    }

    static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    void control() {
        if (at_ >= in_.size()) return;
        char c = in_[at_];
        if (!isLetter(c)) {
            ++at_;
            symbol(c);
            return;
        }
        std::size_t start = at_;
        while (at_ < in_.size() && isLetter(in_[at_]) && at_ - start < 32)
            ++at_;
        std::string_view word = in_.substr(start, at_ - start);
        std::optional<long> parameter;
        if (at_ < in_.size() && (in_[at_] == '-' || isDigit(in_[at_]))) {
            bool negative = in_[at_] == '-';
            if (negative) ++at_;
            long value = 0;
            std::size_t digits = 0;
            while (at_ < in_.size() && isDigit(in_[at_])) {
                if (digits++ < 10) value = value * 10 + (in_[at_] - '0');
                ++at_;
            }
            parameter = negative ? -value : value;
        }
        if (at_ < in_.size() && in_[at_] == ' ') ++at_;
        controlWord(word, parameter);
    }

    void symbol(char c) {
        if (c == '\'') {
            hexByte();
            return;
        }
        if (c == '*' && destinationStart_) {
            // {\*\word ...}: a destination we may not know; skip it unless it is one we read.
            starredDestination_ = true;
            return;
        }
        destinationStart_ = false;
        if (skipping_ > 0) {
            --skipping_;
            return;
        }
        switch (c) {
        case '\\':
        case '{':
        case '}':
            if (!skipped()) pendingBytes_ += c;
            break;
        case '~':
            emit("\u00A0");
            break;
        case '_':
            emit("\u2011");
            break;
        case '\r':
        case '\n':
            emit("\n");
            break;
        default: // \- optional hyphen, \: index subentry, and the unknown
            break;
        }
    }

    void hexByte() {
        destinationStart_ = false;
        int value = 0;
        for (int i = 0; i < 2; ++i) {
            if (at_ >= in_.size()) return;
            char h = in_[at_];
            int digit = isDigit(h)               ? h - '0'
                        : (h >= 'a' && h <= 'f') ? h - 'a' + 10
                        : (h >= 'A' && h <= 'F') ? h - 'A' + 10
                                                 : -1;
            if (digit < 0) return;
            value = value * 16 + digit;
            ++at_;
        }
        character(static_cast<unsigned char>(value));
    }

    void controlWord(std::string_view word, std::optional<long> parameter) {
        bool atStart = destinationStart_;
        bool starred = starredDestination_;
        destinationStart_ = false;
        starredDestination_ = false;
        if (word == "bin") {
            // Binary data of the given length, never text.
            long length = parameter.value_or(0);
            at_ += length > 0
                       ? std::min<std::size_t>(static_cast<std::size_t>(length), in_.size() - at_)
                       : 0;
            return;
        }
        if (skipping_ > 0) {
            --skipping_;
            return;
        }
        if (atStart && word == "footnote") {
            startNote();
            return;
        }
        if (atStart && (starred || ignoredDestination(word))) {
            if (word != "fldrslt" && word != "listtext") state().destination = Destination::skip;
            return;
        }
        if (word == "row" && !skipped()) {
            // The row's last cell mark ends the line instead.
            flushBytes();
            if (!target().empty() && target().back() == '\t') target().pop_back();
        }
        if (word == "chftn") {
            // The note's number: the next one in the text, its own inside the note.
            int number = state().destination == Destination::note ? noteCount_ : ++references_;
            emit(std::to_string(number));
            return;
        }
        if (word == "ansicpg" && parameter) {
            flushBytes();
            codePage_ = static_cast<int>(*parameter);
        } else if (word == "mac") {
            flushBytes();
            codePage_ = 10000;
        } else if (word == "uc" && parameter) {
            state().fallbackCount = static_cast<int>(std::clamp(*parameter, 0L, 16L));
        } else if (word == "u" && parameter) {
            // A signed 16-bit value; anything out of that range is damage.
            long value = *parameter;
            if (value < 0) value += 65536;
            emitCodePoint(value >= 0 && value <= 0xFFFF ? static_cast<char32_t>(value) : 0xFFFD);
            skipping_ = state().fallbackCount;
        } else if (auto text = wordText(word)) {
            emit(*text);
        }
    }

    void startNote() {
        if (skipped()) return;
        state().destination = Destination::note;
        ++noteCount_;
        if (!notes_.empty() && notes_.back() != '\n') notes_ += '\n';
    }

    std::string_view in_;
    std::size_t at_ = 0;
    std::vector<GroupState> stack_;
    std::size_t overflow_ = 0;
    bool opened_ = false;
    bool destinationStart_ = false;
    bool starredDestination_ = false;
    int skipping_ = 0;
    int codePage_ = 1252;
    int converterPage_ = 0;
    std::optional<TextEncoding::Converter> converter_;
    char32_t highSurrogate_ = 0;
    std::string pendingBytes_;
    std::string out_;
    std::string notes_;
    int references_ = 0, noteCount_ = 0;
};

} // namespace

bool beginsAsRtf(std::string_view bytes) {
    auto start = bytes.find_first_not_of(" \t\r\n");
    return start != std::string_view::npos && bytes.substr(start).starts_with("{\\rtf");
}

std::optional<std::string> rtfText(std::string_view bytes) {
    if (!beginsAsRtf(bytes)) return std::nullopt;
    return RtfText(bytes).read();
}

} // namespace tarvine::Readers
