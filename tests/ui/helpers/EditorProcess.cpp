// Every window test runs in a process set up as the editor's: its heap
// policy is set before main, so before QTEST_MAIN makes the QApplication.
#include "EditorHeap.h"

namespace {

const bool kEditorHeap = [] {
    keyloft::app::KeepLargeBlocksOnTheHeap();
    return true;
}();

}  // namespace
