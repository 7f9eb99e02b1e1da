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
struct NotifyRecord {
  size_t size, callbackMessage, icon, tip, info, timeout, infoTitle, infoFlags;
};
#ifdef _WIN64
constexpr NotifyRecord kNotify = {968, 24, 32, 40, 304, 816, 820, 948};
#else
constexpr NotifyRecord kNotify = {952, 16, 20, 24, 288, 800, 804, 932};  // the product
#endif
static_assert(NOTIFYICONDATAW_V3_SIZE == kNotify.size, "the notification record's size");
static_assert(offsetof(NOTIFYICONDATAW, uCallbackMessage) == kNotify.callbackMessage &&
                  offsetof(NOTIFYICONDATAW, hIcon) == kNotify.icon && offsetof(NOTIFYICONDATAW, szTip) == kNotify.tip &&
                  offsetof(NOTIFYICONDATAW, szInfo) == kNotify.info &&
                  offsetof(NOTIFYICONDATAW, uTimeout) == kNotify.timeout &&
                  offsetof(NOTIFYICONDATAW, szInfoTitle) == kNotify.infoTitle &&
                  offsetof(NOTIFYICONDATAW, dwInfoFlags) == kNotify.infoFlags,
              "the notification record's fields");
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
