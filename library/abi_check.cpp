// What the library's boundary relies on, checked by the compiler: every
// export is stdcall and takes the argument bytes that its decorated name in
// KV-xR_update.def carries (the number after "@"), every callback is cdecl,
// and wide text is 16 bits. The 32-bit product build is where these can go
// wrong and where no test may run, so there a fault fails the build; the other
// builds have one calling convention and check the argument types only.
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "library/KV-xR_update.h"

namespace {

#ifdef _WIN32
#define QS_STDCALL __stdcall
#define QS_CDECL __cdecl
#else
#define QS_STDCALL
#define QS_CDECL
#endif

#if defined(_WIN32) && !defined(_WIN64)
constexpr bool kDecoratedNames = true;
#else
constexpr bool kDecoratedNames = false;
#endif

// Stack bytes of stdcall arguments: each takes a multiple of 4.
template <class... Args>
constexpr size_t StackBytes() {
  return (size_t{0} + ... + ((sizeof(Args) + 3) / 4 * 4));
}

#define QS_EXPORT(name, bytes, ...)                                                              \
  static_assert(std::is_same_v<decltype(&name), int32_t(QS_STDCALL*)(__VA_ARGS__)>,              \
                #name " is stdcall and takes the arguments of its contract");                    \
  static_assert(!kDecoratedNames || StackBytes<__VA_ARGS__>() == (bytes),                        \
                #name "@" #bytes " in KV-xR_update.def")

QS_EXPORT(KVxR_GetLibraryVersion, 0);
QS_EXPORT(KVxR_DiscoverDevices, 12, int32_t, KVxR_DeviceCallback, KVxR_DoneCallback);
QS_EXPORT(KVxR_EnumDevices, 4, KVxR_DeviceCallback);
QS_EXPORT(KVxR_SetDiscoveryMode, 4, int32_t);
QS_EXPORT(KVxR_SetNetworkCfg, 12, int32_t, const KVxR_WCHAR*, int32_t);
QS_EXPORT(KVxR_RebootDevice, 4, int32_t);
QS_EXPORT(KVxR_SetFirmwareFile, 12, const KVxR_WCHAR*, KVxR_WCHAR*, uint32_t);
QS_EXPORT(KVxR_UpdateFirmware, 8, int32_t, KVxR_UpdateCallback);
QS_EXPORT(KVxR_AbortUpdate, 4, int32_t);
QS_EXPORT(KVxR_SetRecoveryMode, 8, int32_t, KVxR_RecoveryCallback);
QS_EXPORT(KVxR_ResumeRecovery, 4, int32_t);
QS_EXPORT(KVxR_WriteOperationMode, 8, int32_t, int32_t);
QS_EXPORT(KVxR_ReadOperationMode, 8, int32_t, uint8_t*);
QS_EXPORT(KVxR_GetSerial, 12, int32_t, KVxR_WCHAR*, uint32_t);
QS_EXPORT(KVxR_GetHardwareID, 8, int32_t, uint8_t*);
QS_EXPORT(KVxR_DbgReadProductData, 8, int32_t, KVxR_ProductDataCallback);
QS_EXPORT(KVxR_DbgEraseProductData, 4, int32_t);

// The callbacks are plain C functions of the host, called with the cdecl
// convention whatever the compiler's default.
static_assert(std::is_same_v<KVxR_DeviceCallback, void(QS_CDECL*)(int32_t, const KVxR_WCHAR*)>, "device callback");
static_assert(std::is_same_v<KVxR_DoneCallback, void(QS_CDECL*)()>, "done callback");
static_assert(std::is_same_v<KVxR_UpdateCallback, void(QS_CDECL*)(int32_t, int32_t, int32_t)>, "update callback");
static_assert(std::is_same_v<KVxR_ProductDataCallback, void(QS_CDECL*)(int32_t, int32_t, const uint8_t*)>,
              "product-data callback");
static_assert(std::is_same_v<KVxR_RecoveryCallback, void(QS_CDECL*)(int32_t, const KVxR_WCHAR*, int32_t, int32_t)>,
              "recovery callback");

// Wide text is UTF-16 on both sides of the boundary.
static_assert(sizeof(KVxR_WCHAR) == 2, "wide characters are 16 bits");
#ifdef _WIN32
static_assert(std::is_same_v<KVxR_WCHAR, wchar_t>, "the host's wide strings pass unchanged");
#endif
// Statuses and handles are 32-bit, and every named status fits one.
static_assert(sizeof(int32_t) == 4 && sizeof(KVxR_Status) <= sizeof(int32_t), "statuses are 32-bit");

}  // namespace
