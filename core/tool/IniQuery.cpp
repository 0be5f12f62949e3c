// Finding sections and keys by exact name; set, delete and comment on them.
#include "tool/IniQuery.h"

#include "document/Commenting.h"
#include "document/Document.h"
#include "document/Rules.h"
#include "fast/FastPaths.h"
#include "reading/IniReader.h"

namespace keyloft {

namespace {

// The text between the brackets of "[...]" (after trimming), or nothing.
std::optional<std::string_view> Bracketed(std::string_view text) {
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') return std::nullopt;
    return text.substr(1, text.size() - 2);
}

constexpr int kAhead = 8;

std::vector<Node*> Sections(const Document& doc, std::string_view name, bool anyMark) {
    std::vector<Node*> found;
    const Node* root = doc.First();
    if (root == nullptr) return found;
    const int count = root->childCount();
    std::string scratch;
    for (int row = 0; row < count; ++row) {
        // Sections lie far apart in memory: their nodes, then their lines,
        // are fetched some rows ahead.
        if (row + 2 * kAhead < count) PrefetchForRead(root->child(row + 2 * kAhead));
        if (row + kAhead < count) root->child(row + kAhead)->prefetchLine();
        Node* section = root->child(row);
        const std::string_view text = section->text(scratch);
        auto plain = PlainSectionName(text);
        if (!plain && anyMark) plain = CommentedSectionName(text);
        if (plain && *plain == name) found.push_back(section);
    }
    return found;
}

std::string NoSection(std::string_view section) {
    return "no section [" + std::string(section) + "]";
}

std::string NoKey(std::string_view key, std::string_view section) {
    return "no key " + std::string(key) + " in [" + std::string(section) + "]";
}

}  // namespace

std::optional<std::string_view> PlainSectionName(std::string_view text) {
    text = Trim(text);
    if (IsCommented(text)) return std::nullopt;
    const auto inner = Bracketed(text);
    if (!inner) return std::nullopt;
    return Trim(*inner);
}

std::optional<std::string_view> CommentedSectionName(std::string_view text) {
    text = Trim(text);
    if (!IsCommented(text)) return std::nullopt;
    const auto inner = Bracketed(text.substr(1));
    if (!inner) return std::nullopt;
    return Trim(*inner);
}

std::optional<std::string_view> KeyOfLine(std::string_view text) {
    text = Trim(text);
    const auto eq = text.find('=');
    if (IsCommented(text) || eq == std::string_view::npos) return std::nullopt;
    return Trim(text.substr(0, eq));
}

std::optional<std::string_view> KeyOfCommentedLine(std::string_view text) {
    text = Trim(text);
    if (!IsCommented(text)) return std::nullopt;
    text.remove_prefix(1);
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return Trim(text.substr(0, eq));
}

std::string_view ValueOfLine(std::string_view text) {
    const auto eq = text.find('=');
    return eq == std::string_view::npos ? std::string_view() : Trim(text.substr(eq + 1));
}

std::vector<Node*> SectionsNamed(const Document& doc, std::string_view name) {
    return Sections(doc, name, false);
}

std::vector<Node*> SectionsNamedAnyMark(const Document& doc, std::string_view name) {
    return Sections(doc, name, true);
}

Node* FirstKeyNamed(const std::vector<Node*>& sections, std::string_view key, bool commented) {
    std::string scratch;
    for (const Node* section : sections) {
        for (Node* line : section->children()) {
            const std::string_view text = line->text(scratch);
            const auto found = commented ? KeyOfCommentedLine(text) : KeyOfLine(text);
            if (found && *found == key) return line;
        }
    }
    return nullptr;
}

EditResult SetKeyValue(Document& doc, std::string_view section, std::string_view key,
                       std::string_view value, bool existingOnly) {
    const std::vector<Node*> sections = SectionsNamed(doc, section);
    const std::string line = std::string(key) + "=" + std::string(value);
    if (Node* found = FirstKeyNamed(sections, key)) {
        std::string scratch;
        if (ValueOfLine(found->text(scratch)) == value) return {EditOutcome::Unchanged, {}};
        doc.SetText(found, line);
        return {EditOutcome::Changed, {}};
    }
    if (existingOnly) {
        return {EditOutcome::NotFound, sections.empty() ? NoSection(section) : NoKey(key, section)};
    }
    Node* target = sections.empty() ? nullptr : sections.back();
    if (target == nullptr) target = doc.AddChild(doc.First(), "[" + std::string(section) + "]");
    doc.AddChild(target, line);
    return {EditOutcome::Changed, {}};
}

EditResult DeleteEntry(Document& doc, std::string_view section,
                       const std::optional<std::string>& key) {
    const std::vector<Node*> sections = SectionsNamed(doc, section);
    if (sections.empty()) return {EditOutcome::NotFound, NoSection(section)};
    if (key) {
        Node* found = FirstKeyNamed(sections, *key);
        if (found == nullptr) return {EditOutcome::NotFound, NoKey(*key, section)};
        doc.Delete(found);
        return {EditOutcome::Changed, {}};
    }
    // From the last, so that the rows of those still to go stay valid.
    for (auto it = sections.rbegin(); it != sections.rend(); ++it) doc.Delete(*it);
    return {EditOutcome::Changed, {}};
}

EditResult CommentEntry(Document& doc, std::string_view section,
                        const std::optional<std::string>& key, bool comment) {
    const std::vector<Node*> any = SectionsNamedAnyMark(doc, section);
    if (any.empty()) return {EditOutcome::NotFound, NoSection(section)};
    const std::string quoted = "[" + std::string(section) + "]";
    std::vector<Node*> targets;
    if (key) {
        // Both look for the key in the plain sections, as get does. A key of
        // a commented section stays commented while its header is: once
        // uncommented alone, other readers would take it into the section
        // above.
        const std::vector<Node*> plain = SectionsNamed(doc, section);
        const std::string named = *key + " in " + quoted;
        if (Node* found = FirstKeyNamed(plain, *key, !comment)) {
            targets.push_back(found);
        } else if (FirstKeyNamed(plain, *key, comment) != nullptr) {
            return {EditOutcome::Refused,
                    named + (comment ? " is already commented" : " is not commented")};
        } else if (plain.size() != any.size() && !comment) {
            std::vector<Node*> commented;
            std::string scratch;
            for (Node* node : any) {
                if (!PlainSectionName(node->text(scratch))) commented.push_back(node);
            }
            if (FirstKeyNamed(commented, *key, true) == nullptr) {
                return {EditOutcome::NotFound, NoKey(*key, section)};
            }
            return {EditOutcome::Refused, named + " is under the commented header ;" + quoted +
                                              ": uncomment the section first"};
        } else if (plain.empty()) {
            return {EditOutcome::NotFound, NoSection(section)};
        } else {
            return {EditOutcome::NotFound, NoKey(*key, section)};
        }
    } else {
        std::string scratch;
        for (Node* node : any) {
            if (CommentRefusal(node->text(scratch), comment) == nullptr) targets.push_back(node);
        }
        if (targets.empty()) {
            return {EditOutcome::Refused,
                    quoted + (comment ? " is already commented" : " is not commented")};
        }
    }
    for (Node* node : targets) SetCommented(doc, node, comment);
    return {EditOutcome::Changed, {}};
}

}  // namespace keyloft
