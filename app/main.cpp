// Quillscan.exe: command line, single instance, platform start-up, the host
// window's message loop, and the shutdown in a fixed order.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <winsock2.h>

#include "app/dialog.h"
#include "app/host_dlg.h"
#include "app/instance.h"
#include "app/logic/cmdline.h"
#include "app/win_text.h"
#include "discovery/device_manager.h"
#include "runtime/thread.h"

namespace qs::app {
namespace {

// The answer of "-version" or "-string"; nothing when no file was named.
void Answer(const CommandLine& cl) {
  switch (cl.answer) {
    case AnswerKind::Version:
      WriteAnswerFile(cl.file, FromAnsi(kVersionAnswer));
      break;
    case AnswerKind::String:
      WriteAnswerFile(cl.file, cl.stringIdInRange ? LoadStr(cl.stringId) : std::wstring());
      break;
    case AnswerKind::None:
      break;
  }
}

int Run(const wchar_t* commandLine) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  CommandLine cl;
  if (!ParseCommandLine(ToAnsi(commandLine ? commandLine : L""), cl) || cl.stop) {
    if (cl.stop) Answer(cl);
    CoUninitialize();
    return -1;
  }
  RegisterMessages();
  if (cl.kill) {
    int r = AskRunningToQuit();
    CoUninitialize();
    return r;
  }
  if (BringRunningToFront() == -3) {
    CoUninitialize();
    return -3;
  }
  disc::SetDiscoveryModeFlag(cl.discoveryMode);

  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES | ICC_INTERNET_CLASSES |
                                              ICC_PROGRESS_CLASS | ICC_LINK_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  WSADATA wsa;
  bool sockets = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;

  int code = 0;
  {
    HostDlg host(kInstanceName);
    code = host.Run();
  }

  ShutdownPool();
  disc::ReleaseDeviceManager();
  if (sockets) WSACleanup();
  CoUninitialize();
  return code;
}

}  // namespace
}  // namespace qs::app

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) { return qs::app::Run(commandLine); }
