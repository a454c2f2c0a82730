// The application object of the suite's dialog programs.
//
// One per process. WinMain hands control to Run(), which calls InitInstance(); a dialog program
// does all its work there (its dialogs run modally) and returns false, so no message loop runs
// and ExitInstance() follows at once, giving the process's exit code.
#pragma once

#include <windows.h>

#include "framework/cstring.h"

namespace fw {

class App {
public:
    App();
    virtual ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    static App* Current();  // the one application object, or nullptr

    // Runs the program: InitInstance, the message loop when it returned true, ExitInstance.
    int Run(HINSTANCE instance, const char* command_line);

    HINSTANCE Instance() const { return instance_; }
    const CString& CommandLine() const { return command_line_; }  // the text after the program name
    const CString& ProgramPath() const { return program_path_; }
    const CString& ProgramFolder() const { return program_folder_; }  // no trailing backslash
    const CString& Title() const { return title_; }  // message-box title; the program's base name
    void SetTitle(const CString& title) { title_ = title; }

    int ExitCode() const { return exit_code_; }
    void SetExitCode(int code) { exit_code_ = code; }

    // The program's main window while it runs (the property sheet of a sheet program); nullptr
    // otherwise.
    HWND MainWindow() const { return main_window_; }
    void SetMainWindow(HWND window) { main_window_ = window; }

    // A string-table text; an empty string when the entry is missing.
    static CString Text(UINT id);

    // Message boxes owned by the active window, titled with the program's title unless given.
    int Message(const char* text, UINT flags = MB_OK, const char* title = nullptr) const;
    int MessageId(UINT text_id, UINT flags = MB_OK) const { return Message(Text(text_id), flags); }

protected:
    virtual bool InitInstance() = 0;
    virtual int ExitInstance() { return exit_code_; }

private:
    HINSTANCE instance_ = nullptr;
    CString command_line_, program_path_, program_folder_, title_;
    int exit_code_ = 0;
    HWND main_window_ = nullptr;
};

// Every message box of App::Message goes through one handler: the system's message box unless a
// test put its own in place, which then answers each box (a button id, as MessageBox returns).
using MessageBoxHandler = int (*)(HWND owner, const char* text, const char* title, UINT flags);
// Returns the handler in use before; nullptr puts the system's message box back.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Enables the common controls that the dialogs use (progress bars, tooltips).
void InitControls();

// Shows the hourglass for as long as it lives.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR previous_;
};

// Busy wait of the user-interface thread: messages wait until it is over.
void BusyWait(DWORD ms);

}  // namespace fw
