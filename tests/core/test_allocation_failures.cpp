// Running out of memory part-way: for every allocation a command makes, that
// allocation fails once. The command must then leave the document exactly as
// it was, and every "about to" notification must have met its "done".
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <string>

#include "FailingNew.h"
#include "TestHelpers.h"
#include "document/Commenting.h"
#include "document/Document.h"
#include "document/Rules.h"
#include "document/TreeObserver.h"
#include "files/IniFile.h"

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
    {"edit key", [](Document& doc) { doc.SetText(doc.NodeAt(2), "q=1"); }},
    {"comment key", [](Document& doc) { SetCommented(doc, doc.NodeAt(2), true); }},
    {"delete section", [](Document& doc) { doc.Delete(doc.NodeAt(1)); }},
    {"delete the last section", [](Document& doc) { doc.Delete(doc.NodeAt(4)); }},
    {"comment section", [](Document& doc) { SetCommented(doc, doc.NodeAt(1), true); }},
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

            test::FailAllocation(n);
            try {
                command.run(doc);
                completed = true;
            } catch (const std::bad_alloc&) {
            }
            test::StopFailing();

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
