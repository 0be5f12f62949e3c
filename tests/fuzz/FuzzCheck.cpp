// The fuzzer's property; see FuzzCheck.h.
#include "FuzzCheck.h"

#include <cstring>
#include <string>
#include <string_view>

#include "document/Commenting.h"
#include "document/Document.h"
#include "document/Rules.h"
#include "document/TreeObserver.h"
#include "fast/LargeBuffer.h"
#include "files/IniFile.h"
#include "print/Dump.h"
#include "reading/IniReader.h"

namespace keyloft::fuzz {
namespace {

std::string DumpOf(const Document& doc) {
    StringTextFile out;
    DumpTreeviewToTextfile(doc, out);
    return out.text();
}

void Load(Document& doc, std::string_view bytes) {
    LargeBytes block = AllocateLarge(bytes.size() + 1);
    if (!block) throw std::bad_alloc();
    if (!bytes.empty()) std::memcpy(block.get(), bytes.data(), bytes.size());
    IniReadingEnd end;
    doc.ReadFile("fuzz.ini", std::move(block), bytes.size(), end);
}

// Whether the reading drops the key text `text` where it stands: empty, or
// a comment mark followed by nothing, a blank or a second mark. Comment and
// Remove Comment show such a text when the new line reads as nothing (an
// empty key commented gives ";"): the one class of node the reload cannot
// show.
bool DroppedKeyText(std::string_view text) {
    const std::string_view trimmed = Trim(text);
    return trimmed.empty() || (trimmed.front() == ';' &&
                               (trimmed.size() == 1 || IsBlank(trimmed[1]) || trimmed[1] == ';'));
}

// The tree the edited one must read back as: the tree itself, without the
// keys whose text the reading drops.
std::string ReadingOfTree(const Document& doc) {
    std::string dump;
    for (const Node* node = doc.First(); node != nullptr; node = Document::Next(node)) {
        if (node->level() == 2 && DroppedKeyText(node->storedText())) continue;
        dump.append(static_cast<std::size_t>(2 * node->level()), ' ');
        dump += node->storedText();
        dump += '\n';
    }
    return dump;
}

// Every "about to" must meet its "done".
class PairingObserver : public TreeObserver {
public:
    void NodesAboutToBeAdded(Node*, int, int) override { ++open_; }
    void NodesAdded(Node*, int, int) override { --open_; }
    void NodeAboutToBeRemoved(Node*) override { ++open_; }
    void NodeRemoved(Node*, int) override { --open_; }
    void TreeAboutToBeReset() override { ++open_; }
    void TreeReset() override { --open_; }
    void TextsChanged(Node*, int, int) override {}
    bool Balanced() const { return open_ == 0; }

private:
    int open_ = 0;
};

// Takes the bytes of the input one at a time to choose the edits.
class Choices {
public:
    Choices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    unsigned Next() { return at_ < size_ ? data_[at_++] : 0u; }
    bool Left() const { return at_ < size_ && at_ < 64; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// The store's invariants, named for the step they followed; "" when they
// hold.
std::string Invariants(const Document& doc, const std::string& after) {
    const std::string fault = doc.CheckInvariants();
    return fault.empty() ? fault : "after " + after + ": " + fault;
}

// Edits as the editor makes them: texts of their own kind, so that what is
// saved must read back as the edited tree. Checks the store's invariants
// after each; returns the first fault, or "".
std::string Edit(Document& doc, Choices& choices) {
    int made = 0;
    while (choices.Left()) {
        const std::size_t count = doc.Count();
        Node* node = count > 1 ? doc.NodeAt(1 + choices.Next() % (count - 1)) : nullptr;
        const std::string n = std::to_string(++made);
        switch (choices.Next() % 7) {
            case 0:
                if (node != nullptr)
                    doc.SetText(node, node->level() == 1 ? "[e" + n + "]" : "e" + n + "=v");
                break;
            case 1:
                if (node != nullptr) doc.Delete(node);
                break;
            case 2:
                if (doc.First() != nullptr) doc.AddChild(doc.First(), "[n" + n + "]");
                break;
            case 3:
                if (node != nullptr)
                    doc.AddChild(node->level() == 2 ? node->parent() : node, "k" + n + "=" + n);
                break;
            case 6: {
                // A new value for a key: only the value's bytes change.
                if (node == nullptr || node->level() != 2) break;
                const std::string text(node->storedText());
                const auto eq = text.find('=');
                if (eq != std::string::npos) doc.SetText(node, text.substr(0, eq + 1) + "w" + n);
                break;
            }
            case 4:
            case 5: {
                if (node == nullptr) break;
                SetCommented(doc, node, !IsCommented(node->storedText()));
                break;
            }
        }
        const std::string fault = Invariants(doc, "edit " + std::to_string(made));
        if (!fault.empty()) return fault;
    }
    return "";
}

}  // namespace

namespace {

// The tree as the dump shows it, but with every text as it is held (a UTF-16
// file's unpaired surrogates as themselves, not as U+FFFD).
std::string TreeOf(const Document& doc) {
    std::string dump;
    for (const Node* node = doc.First(); node != nullptr; node = Document::Next(node)) {
        dump.append(static_cast<std::size_t>(2 * node->level()), ' ');
        dump += node->storedText();
        dump += '\n';
    }
    return dump;
}

std::string CheckFileBytes(std::string_view input, const std::uint8_t* data, std::size_t size) {
    Document doc;
    PairingObserver observer;
    doc.AddObserver(&observer);
    Load(doc, input);
    std::string fault = Invariants(doc, "the load");
    if (!fault.empty()) return fault;
    if (SerializeDocument(doc) != input) return "load and save without edits changed the bytes";

    Choices choices(data, size);
    fault = Edit(doc, choices);
    if (!fault.empty()) return fault;
    if (!observer.Balanced()) return "a notification was not paired";
    const std::string saved = SerializeDocument(doc);
    Document again;
    Load(again, saved);
    fault = Invariants(again, "the reload");
    if (!fault.empty()) return fault;
    if (doc.Utf16() == Utf16Order::None ? DumpOf(again) != ReadingOfTree(doc)
                                        : TreeOf(again) != ReadingOfTree(doc))
        return "the edited tree did not read back as edited";
    if (SerializeDocument(again) != saved) return "saving the reloaded edit changed it";
    return "";
}

// The bytes as the units of a UTF-16 file with a byte-order mark.
std::string Widened(std::string_view bytes, bool big) {
    std::string out = big ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : bytes) {
        out.push_back(big ? '\0' : c);
        out.push_back(big ? c : '\0');
    }
    return out;
}

}  // namespace

std::string CheckIniBytes(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string problem = CheckFileBytes(input, data, size);
    if (!problem.empty()) return problem;
    // The same text as a UTF-16 file, in either order.
    for (const bool big : {false, true}) {
        problem = CheckFileBytes(Widened(input, big), data, size);
        if (!problem.empty()) return std::string(big ? "UTF-16 BE: " : "UTF-16 LE: ") + problem;
    }
    return "";
}

}  // namespace keyloft::fuzz
