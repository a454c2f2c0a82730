// The classes and the debug output used across a DLL boundary, as msgcore's clients use them: the
// list and mutex classes imported from the module, and the module's debug lines captured by name.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/debug.h"
#include "common/tobject.h"

extern "C" __declspec(dllimport) void commonTestModulePrint(const char* text);

namespace {

std::vector<std::string> g_lines;
void Capture(const char* text) { g_lines.push_back(text); }

struct Node : CDoubleListNode {
    explicit Node(int* deleted) : deleted(deleted) {}
    ~Node() override { ++*deleted; }
    int* deleted;
};

TEST(commonDll, ImportedListDestroysNodesMadeHere) {
    int deleted = 0;
    CDoubleList* list = new CDoubleList;
    EXPECT_STREQ(list->getName(), "CDoubleList");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(list->appendNodeInterlocked(new Node(&deleted)), 1);
    EXPECT_EQ(list->getSize(), 3);
    EXPECT_NE(list->nthNode(2), nullptr);
    TObject::destroy(list->removeNodeInterlocked());
    EXPECT_EQ(deleted, 1);
    TObject::destroy(list);  // shutDown destroys the other two
    EXPECT_EQ(deleted, 3);
}

TEST(commonDll, ModuleOutputCapturedThroughItsExport) {
    ASSERT_NE(GetModuleHandleA("common_dll_module.dll"), nullptr);
    EXPECT_EQ(debugCaptureModuleOutput("not_loaded_module.dll", Capture), 0);
    EXPECT_EQ(debugCaptureModuleOutput("kernel32.dll", Capture), 0);  // loaded, without the export
    debugInit("msgcore", 0xFFFFFFFF);
    ASSERT_EQ(debugCaptureModuleOutput("common_dll_module.dll", Capture), 1);
    commonTestModulePrint("from the module");
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0].substr(0, 10), " msgcore: ");
    EXPECT_EQ(g_lines[0].substr(20), "from the module\r\n");
    debugCaptureOutput(nullptr);
}

}  // namespace
