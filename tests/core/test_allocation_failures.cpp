// Running out of memory part-way: for every allocation a command makes, that
// allocation fails once. The command must then leave the document exactly as
// it was, and every "about to" notification must have met its "done".
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <string>

#include "Document.h"
#include "IniFile.h"
#include "Commenting.h"
#include "Rules.h"
#include "TestHelpers.h"
#include "TreeObserver.h"

namespace {
// The allocation to fail, counted from 0 while armed; -1 when disarmed.
long gFailAt = -1;
long gAllocations = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (gFailAt >= 0 && gAllocations++ == gFailAt) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
// The nothrow form must be replaced too: a sanitizer's runtime provides its
// own, which would neither count nor fail and whose blocks the replaced
// delete could not free.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace keyloft {
namespace {

using test::DumpOf;
using test::LoadText;

// Counts notifications that are still waiting for their "done".
class PairingObserver : public TreeObserver {
public:
    void NodesAboutToBeAdded(Node*, int, int) override { ++open_; }
    void NodesAdded(Node*, int, int) override { Close(); }
    void NodeAboutToBeRemoved(Node*) override { ++open_; }
    void NodeRemoved(Node*, int) override { Close(); }
    void TreeAboutToBeReset() override { ++open_; }
    void TreeReset() override { Close(); }
    void TextsChanged(Node*, int, int) override {
        if (open_ != 0) unpaired_ = true;
    }
    bool Balanced() const { return open_ == 0 && !unpaired_; }

private:
    void Close() {
        if (--open_ < 0) unpaired_ = true;
    }
    int open_ = 0;
    bool unpaired_ = false;
};

const char kText[] = "; head\r\n[a]\r\n x = 1\r\n\r\n; c\r\ny=2\r\n[b]\r\nz = 3\r\n;; end\r\n";

struct Command {
    const char* what;
    std::function<void(Document&)> run;
};

const Command kCommands[] = {
    {"load", [](Document& doc) { LoadText(doc, "[n]\nk=1\nj = 2\n[m]\n", "n.ini"); }},
    {"add root", [](Document& doc) { doc.AddRoot("r.ini"); }},
    {"add section", [](Document& doc) { doc.AddChild(doc.First(), "[new]"); }},
    {"add key", [](Document& doc) { doc.AddChild(doc.NodeAt(1), "k=v"); }},
    {"edit line", [](Document& doc) { doc.SetText(doc.NodeAt(2), "x=changed"); }},
    {"delete section", [](Document& doc) { doc.Delete(doc.NodeAt(1)); }},
    {"delete the last section", [](Document& doc) { doc.Delete(doc.NodeAt(4)); }},
    {"comment section",
     [](Document& doc) { SetCommented(doc, doc.NodeAt(1), true); }},
    {"clear", [](Document& doc) { doc.Clear(); }},
};

TEST(AllocationFailure, EveryCommandLeavesTheDocumentAsItWas) {
    for (const Command& command : kCommands) {
        SCOPED_TRACE(command.what);
        bool completed = false;
        for (long n = 0; !completed && n < 10000; ++n) {
            Document doc;
            LoadText(doc, kText);
            PairingObserver observer;
            doc.AddObserver(&observer);
            const std::string dump = DumpOf(doc);
            const std::string bytes = SerializeDocument(doc);
            const std::size_t count = doc.Count();

            gAllocations = 0;
            gFailAt = n;
            try {
                command.run(doc);
                completed = true;
            } catch (const std::bad_alloc&) {
            }
            gFailAt = -1;

            ASSERT_TRUE(observer.Balanced()) << "allocation " << n;
            if (completed) break;
            ASSERT_EQ(DumpOf(doc), dump) << "allocation " << n;
            ASSERT_EQ(SerializeDocument(doc), bytes) << "allocation " << n;
            ASSERT_EQ(doc.Count(), count) << "allocation " << n;
            // The document goes on working.
            command.run(doc);
            ASSERT_TRUE(observer.Balanced());
            doc.RemoveObserver(&observer);
        }
        EXPECT_TRUE(completed);
    }
}

}  // namespace
}  // namespace keyloft
