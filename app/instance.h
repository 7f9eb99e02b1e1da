// The one running instance: its name, the registered messages between the
// parts of the program and between processes, and what a second process does
// with a running one.
#pragma once
#include <windows.h>

#include <string>

namespace qs::app {

// Name of the mutex, of the window property on the main window, and the key
// by which another process finds that window.
extern const wchar_t kInstanceName[];

struct Messages {
  UINT terminate = 0;     // "_VqTerminate_": a "-kill" process asks the main window to end
  UINT tray = 0;          // "__TrayMessage__": the tray icon's callback
  UINT removeDevice = 0;  // "Quillscan-sWmRemoveDevice": a page asks to drop a row
  UINT delayDestroy = 0;  // "_VqDelayDestroy_": the host destroys itself
};
// Registered once at start-up.
void RegisterMessages();
const Messages& Msg();

// The first top-level window, in z-order, carrying the instance property.
HWND FindInstanceWindow();

// "-kill": 0 when the running instance went away (or was gone), -2 otherwise.
int AskRunningToQuit();
// -3 when a running instance was found and brought to the front; 0 to go on
// starting. The mutex stays open for the life of the process.
int BringRunningToFront();

// "-version" / "-string" answer: the text in the ANSI code page, no terminator.
// Failures are not reported.
void WriteAnswerFile(const std::string& ansiPath, const std::wstring& text);

}  // namespace qs::app
