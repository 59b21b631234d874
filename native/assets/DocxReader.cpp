// Office Open XML text: the main document part, with its headers before and its footers,
// footnotes and endnotes after the body, where a reader of the printed page meets them.

#include "Readers.h"
#include "Zip.h"

#include <map>
#include <pugixml.hpp>
#include <set>
#include <vector>

namespace tarvine::Readers {

namespace {

// No part of a real document comes near this; a ZIP bomb does.
constexpr std::size_t partLimit = std::size_t{256} << 20;

std::string_view localName(const pugi::xml_node& node) {
    std::string_view name = node.name();
    auto colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// A relationship target, relative to the folder of the part that names it, as a ZIP entry.
std::string resolveTarget(const std::string& folder, const std::string& target) {
    std::vector<std::string> parts;
    std::string path = target.starts_with('/') ? target.substr(1) : folder + target;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string joined;
    for (const auto& part : parts)
        joined += (joined.empty() ? "" : "/") + part;
    return joined;
}

std::string folderOf(const std::string& part) {
    auto slash = part.find_last_of('/');
    return slash == std::string::npos ? "" : part.substr(0, slash + 1);
}

std::string relsPathOf(const std::string& part) {
    auto slash = part.find_last_of('/');
    std::string name = slash == std::string::npos ? part : part.substr(slash + 1);
    return folderOf(part) + "_rels/" + name + ".rels";
}

bool typeEndsWith(const std::string& type, std::string_view kind) {
    return type.ends_with(kind);
}

class DocxText {
public:
    explicit DocxText(const ZipArchive& zip) : zip_(zip) {}

    std::optional<std::string> read() {
        std::string main = mainPart();
        pugi::xml_document document;
        if (!load(main, document)) return std::nullopt;
        auto body = document.document_element().child("w:body");
        if (!body) body = findLocal(document.document_element(), "body");
        if (!body) return std::nullopt;
        relationships_ = relationshipsOf(main);

        auto headers = sectionParts(body, "headerReference");
        auto footers = sectionParts(body, "footerReference");
        for (const auto& part : headers)
            appendPart(part);
        walk(body);
        appendNotes("footnotes", "footnote", footnoteOrder_);
        appendNotes("endnotes", "endnote", endnoteOrder_);
        for (const auto& part : footers)
            appendPart(part);
        return out_;
    }

private:
    struct Relationship {
        std::string type;
        std::string target; // a ZIP entry name
    };

    bool load(const std::string& part, pugi::xml_document& document) const {
        auto xml = zip_.read(part, partLimit);
        if (!xml) return false;
        // Whitespace-only runs ("<w:t xml:space="preserve"> </w:t>") are text too.
        auto parsed = document.load_buffer(xml->data(), xml->size(),
                                           pugi::parse_default | pugi::parse_ws_pcdata_single);
        return static_cast<bool>(parsed);
    }

    static pugi::xml_node findLocal(const pugi::xml_node& parent, std::string_view name) {
        for (auto child : parent.children())
            if (localName(child) == name) return child;
        return {};
    }

    std::string mainPart() const {
        pugi::xml_document rels;
        if (load("_rels/.rels", rels))
            for (auto rel : rels.document_element().children())
                if (typeEndsWith(rel.attribute("Type").value(), "/officeDocument"))
                    return resolveTarget("", rel.attribute("Target").value());
        return "word/document.xml";
    }

    std::map<std::string, Relationship> relationshipsOf(const std::string& part) const {
        std::map<std::string, Relationship> found;
        pugi::xml_document rels;
        if (!load(relsPathOf(part), rels)) return found;
        for (auto rel : rels.document_element().children()) {
            if (std::string_view(rel.attribute("TargetMode").value()) == "External") continue;
            found[rel.attribute("Id").value()] = {
                rel.attribute("Type").value(),
                resolveTarget(folderOf(part), rel.attribute("Target").value())};
        }
        return found;
    }

    // The default (else first-page) header or footer parts of every section, each once.
    std::vector<std::string> sectionParts(const pugi::xml_node& body, std::string_view reference) {
        std::vector<std::string> parts;
        std::set<std::string> seen;
        for (auto node : body.select_nodes(".//*[local-name()='sectPr']")) {
            pugi::xml_node chosen;
            for (auto child : node.node().children()) {
                if (localName(child) != reference) continue;
                std::string_view type = child.attribute("w:type").value();
                if (type == "default" || (type == "first" && !chosen)) chosen = child;
            }
            if (!chosen) continue;
            auto rel = relationships_.find(chosen.attribute("r:id").value());
            if (rel != relationships_.end() && seen.insert(rel->second.target).second)
                parts.push_back(rel->second.target);
        }
        return parts;
    }

    void appendPart(const std::string& part) {
        pugi::xml_document document;
        if (load(part, document)) walk(document.document_element());
    }

    void appendNotes(std::string_view kind, std::string_view element,
                     const std::vector<std::string>& order) {
        if (order.empty()) return;
        std::string part;
        for (const auto& [id, rel] : relationships_)
            if (typeEndsWith(rel.type, std::string("/") + std::string(kind))) part = rel.target;
        pugi::xml_document document;
        if (part.empty() || !load(part, document)) return;
        std::map<std::string, pugi::xml_node> notes;
        for (auto note : document.document_element().children())
            if (localName(note) == element) notes[note.attribute("w:id").value()] = note;
        for (std::size_t i = 0; i < order.size(); ++i) {
            auto note = notes.find(order[i]);
            if (note == notes.end()) continue;
            out_ += std::to_string(i + 1) + " ";
            walk(note->second);
        }
    }

    // Properties, deleted text, field instructions and the fallback copy of alternate
    // content hold nothing a reader sees.
    static bool skipped(std::string_view name) {
        static const std::set<std::string_view> names = {"pPr",
                                                         "rPr",
                                                         "sectPr",
                                                         "tblPr",
                                                         "trPr",
                                                         "tcPr",
                                                         "tblGrid",
                                                         "del",
                                                         "moveFrom",
                                                         "instrText",
                                                         "delText",
                                                         "Fallback",
                                                         "sdtPr",
                                                         "sdtEndPr",
                                                         "footnoteRef",
                                                         "endnoteRef",
                                                         "commentReference"};
        return names.contains(name);
    }

    void noteReference(const pugi::xml_node& node, std::vector<std::string>& order) {
        std::string id = node.attribute("w:id").value();
        order.push_back(id);
        out_ += std::to_string(order.size());
    }

    // Returns whether to walk into the node's children.
    bool enter(const pugi::xml_node& node) {
        if (node.type() != pugi::node_element) return false;
        std::string_view name = localName(node);
        if (skipped(name)) return false;
        if (name == "t") {
            out_ += node.text().get();
            return false;
        }
        if (name == "tab" || name == "ptab")
            out_ += '\t';
        else if (name == "br")
            out_ += std::string_view(node.attribute("w:type").value()) == "page" ? '\f' : '\n';
        else if (name == "cr")
            out_ += '\n';
        else if (name == "noBreakHyphen")
            out_ += '-';
        else if (name == "footnoteReference")
            noteReference(node, footnoteOrder_);
        else if (name == "endnoteReference")
            noteReference(node, endnoteOrder_);
        return true;
    }

    void leave(const pugi::xml_node& node) {
        std::string_view name = localName(node);
        if (name == "p") {
            out_ += '\n';
        } else if (name == "tc") {
            // Cells of a row side by side, separated by tabs; the row ends the line.
            if (!out_.empty() && out_.back() == '\n') out_.pop_back();
            out_ += '\t';
        } else if (name == "tr") {
            if (!out_.empty() && out_.back() == '\t') out_.pop_back();
            out_ += '\n';
        }
    }

    // Depth-first without recursion: a hostile document may nest without end.
    void walk(const pugi::xml_node& root) {
        pugi::xml_node node = root.first_child();
        while (node) {
            if (enter(node) && node.first_child()) {
                node = node.first_child();
                continue;
            }
            while (node) {
                leave(node);
                if (node.next_sibling()) {
                    node = node.next_sibling();
                    break;
                }
                node = node.parent();
                if (node == root) node = pugi::xml_node();
            }
        }
    }

    const ZipArchive& zip_;
    std::string out_;
    std::map<std::string, Relationship> relationships_;
    std::vector<std::string> footnoteOrder_, endnoteOrder_;
};

} // namespace

std::optional<std::string> docxText(std::string_view bytes) {
    auto zip = ZipArchive::open(bytes);
    if (!zip) return std::nullopt;
    return DocxText(*zip).read();
}

} // namespace tarvine::Readers
