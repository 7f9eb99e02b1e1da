// What the platform layer relies on in the records and message parameters it
// exchanges with Windows, checked by the compiler. The 32-bit product build is
// where these can go wrong and where no test may run, so there a fault fails
// the build.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/notify.h"

namespace qs::plat {
namespace {

// Notification windows: a window handle travels as NotifyWindow and
// HostWindow; PostNotify hands its numbers to PostMessageW as they are (a
// device handle in lParam); the handler's pointer rides in CREATESTRUCTW and
// then in GWLP_USERDATA.
static_assert(sizeof(NotifyWindow) == sizeof(HWND) && sizeof(HostWindow) == sizeof(HWND), "window handles");
static_assert(std::is_same_v<std::make_unsigned_t<WPARAM>, WPARAM> && sizeof(WPARAM) == sizeof(uintptr_t),
              "wParam is an unsigned pointer-sized number");
static_assert(std::is_same_v<std::make_signed_t<LPARAM>, LPARAM> && sizeof(LPARAM) == sizeof(intptr_t),
              "lParam is a signed pointer-sized number");
static_assert(sizeof(LPARAM) >= sizeof(int32_t), "a device handle fits lParam");
static_assert(sizeof(LONG_PTR) == sizeof(void*), "GWLP_USERDATA holds a pointer");
static_assert(std::is_same_v<WNDPROC, LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM)>, "window procedures");
static_assert(std::is_same_v<WNDENUMPROC, BOOL(CALLBACK*)(HWND, LPARAM)>, "EnumWindows passes a pointer in lParam");

// SIO_GET_INTERFACE_LIST fills an array of INTERFACE_INFO, walked by its size.
static_assert(sizeof(INTERFACE_INFO) == 76, "INTERFACE_INFO");
static_assert(offsetof(INTERFACE_INFO, iiFlags) == 0 && offsetof(INTERFACE_INFO, iiAddress) == 4 &&
                  offsetof(INTERFACE_INFO, iiBroadcastAddress) == 28 && offsetof(INTERFACE_INFO, iiNetmask) == 52,
              "INTERFACE_INFO fields");
static_assert(offsetof(sockaddr_in, sin_addr) == 4 && sizeof(in_addr) == 4, "an interface address");

// GetAdaptersInfo fills a chain of IP_ADAPTER_INFO, followed through Next;
// the buffer is sized in whole records. The fields read lie before the lease
// times (whose width depends on the compiler's time_t).
struct AdapterRecord {
  size_t size, dhcpEnabled, addressList, addressText;
};
#ifdef _WIN64
constexpr AdapterRecord kAdapter = {704, 424, 440, 8};
#else
constexpr AdapterRecord kAdapter = {640, 420, 428, 4};  // the product
#endif
static_assert(sizeof(IP_ADAPTER_INFO) == kAdapter.size, "IP_ADAPTER_INFO's size");
static_assert(offsetof(IP_ADAPTER_INFO, DhcpEnabled) == kAdapter.dhcpEnabled &&
                  offsetof(IP_ADAPTER_INFO, IpAddressList) == kAdapter.addressList &&
                  offsetof(IP_ADDR_STRING, IpAddress) == kAdapter.addressText,
              "IP_ADAPTER_INFO's fields");
static_assert(offsetof(IP_ADAPTER_INFO, Next) == 0 && sizeof(IP_ADDRESS_STRING) == 16, "the chain and the address text");

// A posted record travels as its 32-bit ticket in lParam (runtime/syncwnd.h)
// and comes back unchanged through the signed, pointer-sized parameter.
static_assert(sizeof(LPARAM) >= sizeof(uint32_t), "a record's ticket fits lParam");
static_assert(static_cast<uint32_t>(static_cast<LPARAM>(0xFFFFFFFFu)) == 0xFFFFFFFFu, "and comes back whole");

// The hidden command: the records CreateProcessW reads and fills, sized by
// their cb field and taken by address.
#ifdef _WIN64
static_assert(sizeof(STARTUPINFOW) == 104 && sizeof(PROCESS_INFORMATION) == 24, "process records, 64-bit");
#else
static_assert(sizeof(STARTUPINFOW) == 68 && sizeof(PROCESS_INFORMATION) == 16, "process records, 32-bit");
#endif
static_assert(offsetof(STARTUPINFOW, cb) == 0, "STARTUPINFOW begins with its size");

// The module's resources: the resource type is a wide name passed as it is,
// the id a 16-bit number made into a pointer (MAKEINTRESOURCEW).
static_assert(sizeof(char16_t) == sizeof(WCHAR), "a resource type name is UTF-16");
static_assert(sizeof(ULONG_PTR) == sizeof(LPCWSTR), "an integer resource id rides in a pointer");

}  // namespace
}  // namespace qs::plat
