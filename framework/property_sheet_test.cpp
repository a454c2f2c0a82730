// Property sheets and pages, and the message-box seam, in the test's own process: the order of
// the sheet's handlers, messages that reach the sheet window and its pages, and the end of a
// modal sheet by its Cancel button.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "framework/app.h"
#include "framework/property_sheet.h"
#include "framework/resources.h"

namespace {

std::vector<std::string> g_events;

class FirstPage : public fw::PropertyPage {
public:
    FirstPage() : fw::PropertyPage(101) {}

protected:
    bool OnInitDialog() override {
        g_events.push_back("page init, sheet " + std::string(SheetWindow() ? "known" : "unknown"));
        return true;
    }
    bool OnCommand(int id, int code) override {
        if (id == 1001 && code == BN_CLICKED) {
            g_events.push_back("page command");
            // The page's command ends nothing; the sheet's Cancel does.
            PostMessageA(SheetWindow(), WM_COMMAND, IDCANCEL, 0);
            return true;
        }
        return fw::PropertyPage::OnCommand(id, code);
    }
    INT_PTR OnMessage(UINT msg, WPARAM wparam, LPARAM, bool* handled) override {
        *handled = msg == WM_APP;
        if (*handled) {
            g_events.push_back("page WM_APP " + std::to_string(wparam));
            PostMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(1001, BN_CLICKED), 0);
        }
        return 0;
    }
};

class SecondPage : public fw::PropertyPage {
public:
    SecondPage() : fw::PropertyPage(102) {}

protected:
    bool OnInitDialog() override {
        g_events.push_back("second page init");
        return true;
    }
};

class TestSheet : public fw::PropertySheet {
public:
    TestSheet() : fw::PropertySheet("Sheet caption", PSH_NOAPPLYNOW) {}
    HWND firstPage = nullptr;

protected:
    void OnCreate() override { g_events.push_back("create"); }
    void OnInitDialog() override {
        g_events.push_back(std::string("init, visible ") + (IsWindowVisible(hwnd()) ? "yes" : "no"));
        firstPage = reinterpret_cast<HWND>(SendMessageA(hwnd(), PSM_GETCURRENTPAGEHWND, 0, 0));
        PostMessageA(hwnd(), WM_APP, 7, 0);
    }
    LRESULT OnMessage(UINT msg, WPARAM wparam, LPARAM, bool* handled) override {
        if (msg == WM_APP) {
            *handled = true;
            g_events.push_back("sheet WM_APP " + std::to_string(wparam));
            PostMessageA(firstPage, WM_APP, 8, 0);
            return 0;
        }
        *handled = false;
        return 0;
    }
};

TEST(PropertySheet, HandlersRunInOrderAndCancelEndsTheSheet) {
    g_events.clear();
    TestSheet sheet;
    FirstPage first;
    SecondPage second;
    sheet.AddPage(&first);
    sheet.AddPage(&second);
    EXPECT_EQ(sheet.DoModal(), 0);  // Cancel: no page changed anything
    const std::vector<std::string> want = {
        "create", "page init, sheet known", "init, visible no", "sheet WM_APP 7", "page WM_APP 8", "page command",
    };
    EXPECT_EQ(g_events, want);  // the second page was never shown, so never made
    EXPECT_EQ(sheet.hwnd(), nullptr);
    EXPECT_EQ(first.hwnd(), nullptr);
}

class SeamApp : public fw::App {
protected:
    bool InitInstance() override { return false; }
};

struct Asked {
    std::string text, title;
    UINT flags = 0;
};
Asked g_asked;

int ScriptedBox(HWND, const char* text, const char* title, UINT flags) {
    g_asked = {text, title, flags};
    return IDNO;
}

// A dialog that ends itself as soon as it exists, with the result it was given.
class EndingDialog : public fw::Dialog {
public:
    EndingDialog(UINT template_id, INT_PTR result) : fw::Dialog(template_id), result_(result) {}

protected:
    bool OnInitDialog() override {
        End(result_);
        return true;
    }

private:
    INT_PTR result_;
};

// A language library that lacks a dialog (here a system library, which has none of the
// program's) leaves the program's own template in use; a template that exists nowhere is a
// failure the caller sees.
TEST(Dialog, FallsBackToTheProgramsOwnTemplate) {
    fw::SetResourceHandle(GetModuleHandleA("kernel32.dll"));
    EndingDialog own(103, 42);
    EXPECT_EQ(own.DoModal(), 42);
    EndingDialog nowhere(999, 42);
    EXPECT_EQ(nowhere.DoModal(), -1);
    fw::SetResourceHandle(nullptr);
}

TEST(MessageBoxSeam, AScriptedHandlerAnswersEveryBox) {
    SeamApp app;
    app.SetTitle("seam");
    EXPECT_EQ(fw::SetMessageBoxHandler(&ScriptedBox), nullptr);
    EXPECT_EQ(app.Message("Continue?", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(g_asked.text, "Continue?");
    EXPECT_EQ(g_asked.title, "seam");
    EXPECT_EQ(g_asked.flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(fw::SetMessageBoxHandler(nullptr), &ScriptedBox);
}

}  // namespace
