// HTML as a browser shows its text: blocks on lines of their own, runs of white space as one
// space (except in preformatted text), table cells separated by tabs, list items marked,
// script and style left out. Gumbo decodes the entities.

#include "Readers.h"
#include "TextEncoding.h"

#include <gumbo.h>
#include <memory>
#include <set>
#include <vector>

namespace tarvine::Readers {

namespace {

bool isBlock(std::string_view tag) {
    static const std::set<std::string_view> tags = {
        "address", "article", "aside",  "blockquote", "caption", "center",   "dd",
        "details", "dialog",  "div",    "dl",         "dt",      "fieldset", "figcaption",
        "figure",  "footer",  "form",   "h1",         "h2",      "h3",       "h4",
        "h5",      "h6",      "header", "hgroup",     "hr",      "legend",   "li",
        "main",    "menu",    "nav",    "ol",         "p",       "pre",      "section",
        "summary", "table",   "tr",     "ul",         "option"};
    return tags.contains(tag);
}

bool isHidden(std::string_view tag) {
    static const std::set<std::string_view> tags = {"head",     "script", "style", "template",
                                                    "noscript", "title",  "iframe"};
    return tags.contains(tag);
}

// The document as UTF-8: a byte order mark decides, then UTF-8 itself, then the declared
// character set, then Windows-1252 (what browsers assume of undeclared legacy pages).
std::string htmlAsUtf8(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    else if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF"))
        return TextEncoding::toUtf8(bytes, "UTF-16").value_or("");
    if (TextEncoding::isUtf8(bytes)) return std::string(bytes);
    std::string head(bytes.substr(0, 4096));
    for (auto& c : head)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto at = head.find("charset=");
    if (at != std::string::npos) {
        at += 8;
        while (at < head.size() && (head[at] == '"' || head[at] == '\'' || head[at] == ' '))
            ++at;
        auto end = head.find_first_of("\"' ;>/", at);
        std::string charset =
            head.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!charset.empty() && charset != "utf-8")
            if (auto text = TextEncoding::toUtf8(bytes, charset)) return *text;
    }
    return TextEncoding::toUtf8(bytes, "CP1252").value_or(TextEncoding::latin1ToUtf8(bytes));
}

bool isVoid(std::string_view tag) {
    static const std::set<std::string_view> tags = {
        "area", "base", "br",    "col",    "embed", "hr",  "img", "input",
        "link", "meta", "param", "source", "track", "wbr", "!--", "!doctype"};
    return tags.contains(tag);
}

// Gumbo checks the stack of open elements for every tag, so a hostile page nested a hundred
// thousand deep takes minutes. Start tags past this depth (and their end tags) are dropped
// before parsing, keeping the text, as browsers stop nesting at a depth of their own.
constexpr int depthLimit = 1024;

std::string withinDepth(std::string html) {
    std::string out;
    int depth = 0, dropped = 0;
    std::size_t at = 0;
    while (at < html.size()) {
        std::size_t open = html.find('<', at);
        if (open == std::string::npos || open + 1 >= html.size()) break;
        std::size_t close = html.find('>', open);
        if (close == std::string::npos) break;
        bool end = html[open + 1] == '/';
        std::size_t nameStart = open + (end ? 2 : 1);
        std::size_t nameEnd = html.find_first_of(" \t\r\n/>", nameStart);
        std::string name = html.substr(nameStart, nameEnd - nameStart);
        for (auto& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        bool selfClosing = html[close - 1] == '/';
        bool drop = false;
        if (end) {
            if (dropped > 0) {
                --dropped;
                drop = true;
            } else if (depth > 0) {
                --depth;
            }
        } else if (!name.empty() && std::isalpha(static_cast<unsigned char>(name[0])) &&
                   !isVoid(name) && !selfClosing) {
            if (depth >= depthLimit) {
                ++dropped;
                drop = true;
            } else {
                ++depth;
            }
        }
        if (drop) {
            out.append(html, at, open - at);
            at = close + 1;
        } else {
            out.append(html, at, close + 1 - at);
            at = close + 1;
        }
    }
    out.append(html, std::min(at, html.size()), std::string::npos);
    return out;
}

class HtmlText {
public:
    std::string read(const GumboNode* root) {
        struct Frame {
            const GumboNode* node;
            unsigned next; // the next child to visit
        };
        std::vector<Frame> stack{{root, 0}};
        enter(root);
        while (!stack.empty()) {
            auto& frame = stack.back();
            const GumboNode* node = frame.node;
            if (node->type == GUMBO_NODE_ELEMENT && !hidden(node) &&
                frame.next < node->v.element.children.length) {
                auto* child =
                    static_cast<const GumboNode*>(node->v.element.children.data[frame.next++]);
                if (enter(child)) stack.push_back({child, 0});
                continue;
            }
            leave(node);
            stack.pop_back();
        }
        return out_;
    }

private:
    static std::string_view tagOf(const GumboNode* node) {
        return gumbo_normalized_tagname(node->v.element.tag);
    }

    static bool hidden(const GumboNode* node) { return isHidden(tagOf(node)); }

    bool atLineStart() const { return out_.empty() || out_.back() == '\n'; }

    // Within a table cell, blocks stay on the cell's line: the row reads across.
    void lineBreak() {
        if (cells_ > 0) {
            pendingSpace_ = true;
            return;
        }
        if (!atLineStart()) out_ += '\n';
        pendingSpace_ = false;
    }

    void text(std::string_view text) {
        if (preformatted_ > 0) {
            out_ += text;
            return;
        }
        for (char c : text) {
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
                pendingSpace_ = true;
                continue;
            }
            if (pendingSpace_ && !atLineStart() && out_.back() != '\t') out_ += ' ';
            pendingSpace_ = false;
            out_ += c;
        }
    }

    // Returns whether the node has children to visit.
    bool enter(const GumboNode* node) {
        switch (node->type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA:
            text(node->v.text.text);
            return false;
        case GUMBO_NODE_DOCUMENT:
            return true;
        case GUMBO_NODE_ELEMENT:
        case GUMBO_NODE_TEMPLATE:
            break;
        default:
            return false;
        }
        std::string_view tag = tagOf(node);
        if (isBlock(tag)) lineBreak();
        if (tag == "br" && cells_ == 0) {
            out_ += '\n';
            pendingSpace_ = false;
        } else if (tag == "br") {
            pendingSpace_ = true;
        } else if (tag == "td" || tag == "th") {
            ++cells_;
        } else if (tag == "pre" || tag == "textarea" || tag == "listing") {
            ++preformatted_;
        } else if (tag == "ul" || tag == "ol") {
            lists_.push_back(tag == "ol" ? 1 : 0);
        } else if (tag == "li") {
            if (lists_.empty() || lists_.back() == 0)
                out_ += "\u2022 ";
            else
                out_ += std::to_string(lists_.back()++) + ". ";
        }
        return true;
    }

    void leave(const GumboNode* node) {
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) return;
        std::string_view tag = tagOf(node);
        if (tag == "pre" || tag == "textarea" || tag == "listing")
            --preformatted_;
        else if ((tag == "ul" || tag == "ol") && !lists_.empty())
            lists_.pop_back();
        if ((tag == "td" || tag == "th") && cells_ > 0) {
            --cells_;
            out_ += '\t';
            pendingSpace_ = false;
        } else if (tag == "tr" && !out_.empty() && out_.back() == '\t') {
            out_.back() = '\n';
        }
        if (isBlock(tag)) lineBreak();
    }

    std::string out_;
    bool pendingSpace_ = false;
    int preformatted_ = 0;
    int cells_ = 0;
    std::vector<int> lists_; // per open list: 0 for bullets, else the next number
};

struct OutputDeleter {
    void operator()(GumboOutput* output) const {
        gumbo_destroy_output(&kGumboDefaultOptions, output);
    }
};

} // namespace

std::optional<std::string> htmlText(std::string_view bytes) {
    std::string utf8 = withinDepth(htmlAsUtf8(bytes));
    std::unique_ptr<GumboOutput, OutputDeleter> output(
        gumbo_parse_with_options(&kGumboDefaultOptions, utf8.data(), utf8.size()));
    if (!output) return std::nullopt;
    if (!output->root) return std::nullopt;
    return HtmlText().read(output->root);
}

} // namespace tarvine::Readers
