// What the program relies on in the records and message parameters it
// exchanges with Windows, checked by the compiler. The 32-bit product build is
// where these can go wrong and where no test may run, so there a fault fails
// the build.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace qs::app {
namespace {

// The notification-area record is sent as the shell version the program is
// written for (NOTIFYICONDATAW_V3_SIZE), with these fields filled.
#ifdef _WIN64
static_assert(NOTIFYICONDATAW_V3_SIZE == 968, "the notification record, 64-bit");
static_assert(offsetof(NOTIFYICONDATAW, uCallbackMessage) == 24 && offsetof(NOTIFYICONDATAW, hIcon) == 32 &&
                  offsetof(NOTIFYICONDATAW, szTip) == 40 && offsetof(NOTIFYICONDATAW, szInfo) == 304 &&
                  offsetof(NOTIFYICONDATAW, uTimeout) == 816 && offsetof(NOTIFYICONDATAW, szInfoTitle) == 820 &&
                  offsetof(NOTIFYICONDATAW, dwInfoFlags) == 948,
              "notification record fields, 64-bit");
#else
static_assert(NOTIFYICONDATAW_V3_SIZE == 952, "the notification record is 952 bytes on 32-bit Windows");
static_assert(offsetof(NOTIFYICONDATAW, uCallbackMessage) == 16 && offsetof(NOTIFYICONDATAW, hIcon) == 20 &&
                  offsetof(NOTIFYICONDATAW, szTip) == 24 && offsetof(NOTIFYICONDATAW, szInfo) == 288 &&
                  offsetof(NOTIFYICONDATAW, uTimeout) == 800 && offsetof(NOTIFYICONDATAW, szInfoTitle) == 804 &&
                  offsetof(NOTIFYICONDATAW, dwInfoFlags) == 932,
              "notification record fields, 32-bit");
#endif
static_assert(offsetof(NOTIFYICONDATAW, dwInfoFlags) + sizeof(DWORD) <= NOTIFYICONDATAW_V3_SIZE,
              "every field filled lies inside the record sent");
static_assert(sizeof(NOTIFYICONDATAW::szTip) == 128 * sizeof(wchar_t) &&
                  sizeof(NOTIFYICONDATAW::szInfo) == 256 * sizeof(wchar_t) &&
                  sizeof(NOTIFYICONDATAW::szInfoTitle) == 64 * sizeof(wchar_t),
              "the texts are cut to these widths");

// Message parameters that carry pointers: a device record in the remove
// message and in a list row's lParam, the dialog object in WM_INITDIALOG, an
// icon in WM_SETICON, a DWORD's address in IPM_GETADDRESS; and numbers: an
// address in IPM_SETADDRESS, a row count in a window's extra LONG_PTR.
static_assert(sizeof(LPARAM) == sizeof(void*) && sizeof(WPARAM) == sizeof(void*), "pointers fit the parameters");
static_assert(sizeof(LONG_PTR) == sizeof(WPARAM), "a wParam fits the window's extra bytes");
static_assert(sizeof(DWORD) == sizeof(uint32_t) && sizeof(LPARAM) >= sizeof(DWORD),
              "the IP address control's address is 32 bits");
static_assert(std::is_same_v<decltype(LVITEMW::lParam), LPARAM>, "a list row carries a pointer-sized number");
static_assert(std::is_same_v<DLGPROC, INT_PTR(CALLBACK*)(HWND, UINT, WPARAM, LPARAM)>, "dialog procedures");
static_assert(std::is_same_v<HOOKPROC, LRESULT(CALLBACK*)(int, WPARAM, LPARAM)>, "the message-box hook");

}  // namespace
}  // namespace qs::app
