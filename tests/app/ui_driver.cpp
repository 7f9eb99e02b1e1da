// Test driver for the desktop program: reads one command a line on standard
// input, drives the program's windows from outside (window messages, list-view
// messages through memory in the program's process), and answers each command
// with result lines followed by a line holding a single ".".
//
//   find MS                  wait for the main window; "hwnd=H visible=0|1"
//   visible MS               wait until the main window is visible
//   rows                     "i<TAB>name<TAB>ip<TAB>selected"
//   select I                 select row I
//   notice                   "shown" or "hidden": the empty-list notice
//   page                     "rmt", "kvxr" or "none"
//   ctl ID                   control of the visible page: "text=... enabled=0|1 visible=0|1 checked=0|1"
//   ip ID                    address of an IP address control of the KV-xR page
//   setip ID A.B.C.D         set it and tell the page that it was edited
//   click ID                 press a button of the visible page
//   cmd ID                   post a command to the main window
//   syscmd ID                post a system command to the main window
//   top TITLE                visible top-level window of the program with that title: texts of its children
//   ctls TITLE               the same with each child's state: "id<TAB>text<TAB>enabled=0|1<TAB>visible=0|1"
//   wrect TITLE              that window "x y w h" on the screen ("missing" when there is none)
//   ontop TITLE              "ontop=1" when the window is what the screen shows at its centre
//   zorder                   the program's top-level windows, topmost first: "title<TAB>visible<TAB>enabled<TAB>owner title"
//   lrows TITLE              rows of its list view 1000: "i<TAB>col0..col4<TAB>checked=0|1"
//   ltick TITLE I 0|1        clear or tick the check box of row I of that list
//   link                     click the firmware link of the KV-xR page
//   close TITLE              press OK in that window
//   press ID TITLE           press the button ID (6 Yes, 7 No) in that window
//   focus                    the program's focused control: "id=N parent=N" (0 when none)
//   shiftcancel              close the main window with Shift held
//   tray HEX                 post a tray-icon mouse message (hex, e.g. 201 for a left button press)
//   rect                     main window "x y w h" on the screen
//   run MS ARGS...           start Quillscan.exe with ARGS, wait; "exit=N" (signed) or "timeout"
//   start ARGS...            start it, do not wait; "pid=N"
//   wait PID MS              "exit=N" or "running"
//   exe PATH                 the program that run and start use from now on
//   sleep MS
//   quit
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/bytes.h"

namespace {

const wchar_t kInstance[] = L"Global\\Quillscan.exe{EBE6BD46-7C12-41F2-AF1D-B6418BF52439}";
std::wstring g_exe;  // Quillscan.exe beside the driver
std::map<DWORD, HANDLE> g_started;

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
  for (char& c : s)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return s;
}

std::wstring Wide(const std::string& s) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

HWND MainWindow() {
  for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
    if (GetPropW(w, kInstance)) return w;
  return nullptr;
}

std::wstring TextOf(HWND w) {
  wchar_t buf[1024] = {};
  // WM_GETTEXT is carried across processes by the system.
  SendMessageTimeoutW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 3000, nullptr);
  buf[1023] = 0;
  return buf;
}

// Memory in the program's process for messages that carry pointers.
class Remote {
 public:
  explicit Remote(HWND w, size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) mem_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~Remote() {
    if (mem_) VirtualFreeEx(process_, mem_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  bool ok() const { return mem_ != nullptr; }
  char* at(size_t offset) const { return static_cast<char*>(mem_) + offset; }
  bool Write(size_t offset, const void* data, size_t n) const {
    SIZE_T done = 0;
    return offset + n <= size_ && WriteProcessMemory(process_, at(offset), data, n, &done) && done == n;
  }
  bool Read(size_t offset, void* data, size_t n) const {
    SIZE_T done = 0;
    return offset + n <= size_ && ReadProcessMemory(process_, at(offset), data, n, &done) && done == n;
  }

 private:
  HANDLE process_ = nullptr;
  void* mem_ = nullptr;
  size_t size_;
};

HWND List(HWND main) { return GetDlgItem(main, 1000); }

std::wstring RowText(HWND list, int row, int column) {
  Remote r(list, 4096);
  if (!r.ok()) return L"?";
  LVITEMW it = {};
  it.iSubItem = column;
  it.cchTextMax = 512;
  it.pszText = reinterpret_cast<LPWSTR>(r.at(1024));
  r.Write(0, &it, sizeof it);
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(r.at(0)));
  wchar_t buf[512] = {};
  r.Read(1024, buf, sizeof buf - sizeof(wchar_t));
  return buf;
}

// The page that is shown: the visible child dialog holding the button that
// only that page has.
HWND VisiblePage(HWND main, std::string* kind) {
  for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (!IsWindowVisible(c)) continue;
    if (GetDlgItem(c, 1011)) {
      if (kind) *kind = "rmt";
      return c;
    }
    if (GetDlgItem(c, 1012)) {
      if (kind) *kind = "kvxr";
      return c;
    }
  }
  if (kind) *kind = "none";
  return nullptr;
}

HWND KvxrPage(HWND main) {
  for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (GetDlgItem(c, 1012)) return c;
  return nullptr;
}

HWND TopWindow(const std::wstring& title, HWND main) {
  DWORD pid = 0;
  GetWindowThreadProcessId(main, &pid);
  for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
    DWORD p = 0;
    GetWindowThreadProcessId(w, &p);
    if (p == pid && IsWindowVisible(w) && TextOf(w) == title) return w;
  }
  return nullptr;
}

std::string Rest(std::istringstream& in) {
  std::string s;
  std::getline(in, s);
  size_t i = s.find_first_not_of(' ');
  return i == std::string::npos ? std::string() : s.substr(i);
}

HANDLE Start(const std::string& args) {
  std::wstring cmd = L"\"" + g_exe + L"\" " + Wide(args);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(g_exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

void Command(const std::string& line) {
  std::istringstream in(line);
  std::string op;
  in >> op;
  HWND main = MainWindow();
  if (op == "find" || op == "visible") {
    int ms = 0;
    in >> ms;
    DWORD start = GetTickCount();
    for (;;) {
      main = MainWindow();
      if (main && (op == "find" || IsWindowVisible(main))) break;
      if (static_cast<int>(GetTickCount() - start) >= ms) break;
      Sleep(50);
    }
    if (main) printf("hwnd=%p visible=%d\n", static_cast<void*>(main), IsWindowVisible(main) ? 1 : 0);
    else printf("none\n");
  } else if (op == "rows") {
    if (!main) return;
    HWND list = List(main);
    int n = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
      UINT state = static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, i, LVIS_SELECTED));
      printf("%d\t%s\t%s\t%d\n", i, Narrow(RowText(list, i, 0)).c_str(), Narrow(RowText(list, i, 1)).c_str(),
             (state & LVIS_SELECTED) ? 1 : 0);
    }
  } else if (op == "select") {
    int row = -1;
    in >> row;
    if (!main) return;
    HWND list = List(main);
    Remote r(list, sizeof(LVITEMW));
    LVITEMW it = {};
    it.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    it.state = LVIS_SELECTED | LVIS_FOCUSED;
    r.Write(0, &it, sizeof it);
    LRESULT ok = SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(r.at(0)));
    printf("ok=%d\n", ok ? 1 : 0);
  } else if (op == "notice") {
    // The empty-list notice is a child of the list.
    HWND n = main ? FindWindowExW(List(main), nullptr, L"Quillscan.MsgWnd", nullptr) : nullptr;
    printf("%s\n", n && IsWindowVisible(n) ? "shown" : "hidden");
  } else if (op == "page") {
    std::string kind;
    if (main) VisiblePage(main, &kind);
    printf("%s\n", main ? kind.c_str() : "none");
  } else if (op == "ctl") {
    int id = 0;
    in >> id;
    HWND page = main ? VisiblePage(main, nullptr) : nullptr;
    HWND c = page ? GetDlgItem(page, id) : nullptr;
    if (!c) {
      printf("missing\n");
      return;
    }
    LRESULT check = SendMessageW(c, BM_GETCHECK, 0, 0);
    printf("text=%s\tenabled=%d\tvisible=%d\tchecked=%d\n", Narrow(TextOf(c)).c_str(), IsWindowEnabled(c) ? 1 : 0,
           IsWindowVisible(c) ? 1 : 0, check == BST_CHECKED ? 1 : 0);
  } else if (op == "ip" || op == "setip") {
    int id = 0;
    in >> id;
    HWND page = main ? KvxrPage(main) : nullptr;
    HWND c = page ? GetDlgItem(page, id) : nullptr;
    if (!c) {
      printf("missing\n");
      return;
    }
    if (op == "setip") {
      std::string text;
      in >> text;
      uint32_t address = 0;
      if (!qs::bytes::ParseIpv4(text, address)) {
        printf("bad address\n");
        return;
      }
      SendMessageW(c, IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
      // A user's edit reaches the page as a change notification of the control.
      SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, EN_CHANGE), reinterpret_cast<LPARAM>(c));
    }
    Remote r(c, sizeof(DWORD));
    DWORD zero = 0, a = 0;
    r.Write(0, &zero, sizeof zero);
    SendMessageW(c, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(r.at(0)));
    r.Read(0, &a, sizeof a);
    printf("%s\n", qs::bytes::FormatIpv4(a).c_str());  // the control's address, first number on top
  } else if (op == "click") {
    int id = 0;
    in >> id;
    HWND page = main ? VisiblePage(main, nullptr) : nullptr;
    HWND c = page ? GetDlgItem(page, id) : nullptr;
    if (!c) {
      printf("missing\n");
      return;
    }
    // Posted: a click may open a modal window, and the driver must not wait for it.
    printf("enabled=%d\n", IsWindowEnabled(c) ? 1 : 0);
    PostMessageW(c, BM_CLICK, 0, 0);
  } else if (op == "cmd" || op == "syscmd") {
    int id = 0;
    in >> id;
    if (!main) return;
    PostMessageW(main, op == "cmd" ? WM_COMMAND : WM_SYSCOMMAND, static_cast<WPARAM>(id), 0);
    printf("posted\n");
  } else if (op == "top" || op == "close") {
    std::wstring title = Wide(Rest(in));
    HWND w = main ? TopWindow(title, main) : nullptr;
    if (!w) {
      printf("missing\n");
      return;
    }
    if (op == "close") {
      PostMessageW(w, WM_COMMAND, IDOK, 0);
      printf("posted\n");
      return;
    }
    for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
      printf("%d\t%s\n", GetDlgCtrlID(c), Narrow(TextOf(c)).c_str());
  } else if (op == "zorder") {
    DWORD pid = 0;
    if (main) GetWindowThreadProcessId(main, &pid);
    for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
      DWORD p = 0;
      GetWindowThreadProcessId(w, &p);
      if (p != pid) continue;
      HWND owner = GetWindow(w, GW_OWNER);
      printf("%s\t%d\t%d\t%s\n", Narrow(TextOf(w)).c_str(), IsWindowVisible(w) ? 1 : 0, IsWindowEnabled(w) ? 1 : 0,
             owner ? Narrow(TextOf(owner)).c_str() : "-");
    }
  } else if (op == "ontop") {
    HWND w = main ? TopWindow(Wide(Rest(in)), main) : nullptr;
    if (!w) {
      printf("missing\n");
      return;
    }
    RECT r = {};
    GetWindowRect(w, &r);
    POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    HWND at = WindowFromPoint(centre);
    HWND root = at ? GetAncestor(at, GA_ROOT) : nullptr;
    printf("ontop=%d\t%s\n", root == w ? 1 : 0, root ? Narrow(TextOf(root)).c_str() : "-");
  } else if (op == "ctls" || op == "wrect") {
    std::wstring title = Wide(Rest(in));
    HWND w = main ? TopWindow(title, main) : nullptr;
    if (!w) {
      printf("missing\n");
      return;
    }
    if (op == "wrect") {
      RECT r = {};
      GetWindowRect(w, &r);
      printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
      return;
    }
    for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
      printf("%d\t%s\tenabled=%d\tvisible=%d\n", GetDlgCtrlID(c), Narrow(TextOf(c)).c_str(),
             IsWindowEnabled(c) ? 1 : 0, IsWindowVisible(c) ? 1 : 0);
  } else if (op == "lrows" || op == "ltick") {
    std::string rest = Rest(in);
    int row = -1, on = 0;
    if (op == "ltick") {
      // "ltick TITLE I 0|1": the title may hold blanks; the numbers are last.
      for (int* word : {&on, &row}) {
        while (!rest.empty() && rest.back() == ' ') rest.pop_back();
        size_t blank = rest.find_last_of(' ');
        if (blank == std::string::npos) {
          printf("usage\n");
          return;
        }
        *word = atoi(rest.c_str() + blank + 1);
        rest.erase(blank);
      }
      while (!rest.empty() && rest.back() == ' ') rest.pop_back();
    }
    HWND w = main ? TopWindow(Wide(rest), main) : nullptr;
    HWND list = w ? GetDlgItem(w, 1000) : nullptr;
    if (!list) {
      printf("missing\n");
      return;
    }
    if (op == "ltick") {
      // What a click on the check box does: the state image changes and the
      // dialog hears of it through the list's item-changed notification.
      Remote r(list, sizeof(LVITEMW));
      LVITEMW it = {};
      it.stateMask = LVIS_STATEIMAGEMASK;
      it.state = INDEXTOSTATEIMAGEMASK(on ? 2 : 1);
      r.Write(0, &it, sizeof it);
      LRESULT ok = SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(r.at(0)));
      printf("ok=%d\n", ok ? 1 : 0);
      return;
    }
    int n = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
      UINT state = static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, i, LVIS_STATEIMAGEMASK));
      printf("%d", i);
      for (int c = 0; c < 5; ++c) printf("\t%s", Narrow(RowText(list, i, c)).c_str());
      printf("\tchecked=%d\n", (state >> 12) == 2 ? 1 : 0);
    }
  } else if (op == "link") {
    HWND page = main ? KvxrPage(main) : nullptr;
    HWND link = page ? GetDlgItem(page, 1017) : nullptr;
    if (!link || !IsWindowVisible(link)) {
      printf("missing\n");
      return;
    }
    // A click on the link's text; posted, because it opens a modal dialog.
    RECT r = {};
    GetClientRect(link, &r);
    LPARAM at = MAKELPARAM(8, (r.bottom - r.top) / 2);
    PostMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(link, WM_LBUTTONUP, 0, at);
    printf("posted\n");
  } else if (op == "press") {
    int id = 0;
    in >> id;
    std::wstring title = Wide(Rest(in));
    HWND w = main ? TopWindow(title, main) : nullptr;
    if (!w) {
      printf("missing\n");
      return;
    }
    PostMessageW(w, WM_COMMAND, static_cast<WPARAM>(id), 0);
    printf("posted\n");
  } else if (op == "focus") {
    GUITHREADINFO gi = {};
    gi.cbSize = sizeof gi;
    HWND f = main && GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &gi) ? gi.hwndFocus : nullptr;
    // A field of an IP address control has focus: its parent is the control.
    printf("id=%d\tparent=%d\n", f ? GetDlgCtrlID(f) : 0, f && GetParent(f) ? GetDlgCtrlID(GetParent(f)) : 0);
  } else if (op == "shiftcancel") {
    // Close the main window with Shift held: the program is to exit. The
    // driver shares the program's input state for the moment and holds Shift
    // in it.
    if (!main) return;
    DWORD target = GetWindowThreadProcessId(main, nullptr);
    DWORD self = GetCurrentThreadId();
    bool attached = AttachThreadInput(self, target, TRUE) != 0;
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] |= 0x80;
    keys[VK_LSHIFT] |= 0x80;
    SetKeyboardState(keys);
    SendMessageTimeoutW(main, WM_COMMAND, IDCANCEL, 0, SMTO_ABORTIFHUNG, 3000, nullptr);
    keys[VK_SHIFT] &= 0x7F;
    keys[VK_LSHIFT] &= 0x7F;
    SetKeyboardState(keys);
    if (attached) AttachThreadInput(self, target, FALSE);
    printf("attached=%d\n", attached ? 1 : 0);
  } else if (op == "tray") {
    // What the shell sends for a mouse event on the tray icon (id 100).
    unsigned mouse = 0;
    in >> std::hex >> mouse;
    if (!main) return;
    PostMessageW(main, RegisterWindowMessageW(L"__TrayMessage__"), 100, static_cast<LPARAM>(mouse));
    printf("posted\n");
  } else if (op == "rect") {
    RECT r = {};
    if (main) GetWindowRect(main, &r);
    printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
  } else if (op == "run") {
    int ms = 0;
    in >> ms;
    HANDLE p = Start(Rest(in));
    if (!p) {
      printf("failed\n");
      return;
    }
    if (WaitForSingleObject(p, static_cast<DWORD>(ms)) != WAIT_OBJECT_0) {
      printf("timeout\n");
    } else {
      DWORD code = 0;
      GetExitCodeProcess(p, &code);
      printf("exit=%d\n", static_cast<int>(code));
    }
    CloseHandle(p);
  } else if (op == "start") {
    HANDLE p = Start(Rest(in));
    if (!p) {
      printf("failed\n");
      return;
    }
    DWORD pid = GetProcessId(p);
    g_started[pid] = p;
    printf("pid=%lu\n", pid);
  } else if (op == "wait") {
    DWORD pid = 0;
    int ms = 0;
    in >> pid >> ms;
    auto it = g_started.find(pid);
    if (it == g_started.end()) {
      printf("unknown\n");
      return;
    }
    if (WaitForSingleObject(it->second, static_cast<DWORD>(ms)) != WAIT_OBJECT_0) {
      printf("running\n");
      return;
    }
    DWORD code = 0;
    GetExitCodeProcess(it->second, &code);
    printf("exit=%d\n", static_cast<int>(code));
  } else if (op == "exe") {
    g_exe = Wide(Rest(in));
    printf("%s\n", Narrow(g_exe).c_str());
  } else if (op == "sleep") {
    int ms = 0;
    in >> ms;
    Sleep(static_cast<DWORD>(ms));
  } else {
    printf("unknown command %s\n", op.c_str());
  }
}

}  // namespace

int main() {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dir(self, n);
  dir = dir.substr(0, dir.find_last_of(L"\\/") + 1);
  const char* exe = getenv("QS_UI_EXE");
  g_exe = exe ? Wide(exe) : dir + L"Quillscan.exe";
  setvbuf(stdout, nullptr, _IONBF, 0);
  char buf[2048];
  while (fgets(buf, sizeof buf, stdin)) {
    std::string line(buf);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line == "quit") break;
    if (!line.empty()) Command(line);
    printf(".\n");
    fflush(stdout);
  }
  for (auto& p : g_started) CloseHandle(p.second);
  return 0;
}
