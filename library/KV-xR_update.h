/* KV-xR_update: the library's whole surface. Plain integers, texts and
 * callbacks; no structure crosses it. Every function returns 0 on success or a
 * negative status (see each function). Wide text is UTF-16 and NUL-terminated.
 *
 * Call the functions from the host's window thread (Windows) or from the one
 * thread that dispatches notifications (Linux, see KVxR_DispatchNotifications). */
#ifndef KVXR_UPDATE_H
#define KVXR_UPDATE_H

#include <stdint.h>

#ifdef _WIN32
#include <wchar.h>
typedef wchar_t KVxR_WCHAR;
#define KVXR_CALL __stdcall
#if defined(KVXR_BUILDING) && defined(KVXR_EXPORTS_BY_DEF)
#define KVXR_API /* exported under decorated names by the .def file */
#elif defined(KVXR_BUILDING)
#define KVXR_API __declspec(dllexport)
#else
#define KVXR_API __declspec(dllimport)
#endif
#else
#ifdef __cplusplus
typedef char16_t KVxR_WCHAR;
#else
#include <uchar.h>
typedef char16_t KVxR_WCHAR;
#endif
#define KVXR_CALL
#define KVXR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Callbacks (cdecl). Texts and buffers belong to the library and are valid only
 * during the call. */
typedef void (*KVxR_DeviceCallback)(int32_t device, const KVxR_WCHAR* line);
typedef void (*KVxR_DoneCallback)(void);
typedef void (*KVxR_UpdateCallback)(int32_t device, int32_t event, int32_t value);
typedef void (*KVxR_ProductDataCallback)(int32_t device, int32_t event, const uint8_t* data512);
typedef void (*KVxR_RecoveryCallback)(int32_t recoveryDevice, const KVxR_WCHAR* text, int32_t event, int32_t value);

/* Always 2. */
KVXR_API int32_t KVXR_CALL KVxR_GetLibraryVersion(void);
/* Starts a scan of every local interface (about 5 s). 0, or -1 when the
 * notification window could not be made. onDone may be null. */
KVXR_API int32_t KVXR_CALL KVxR_DiscoverDevices(int32_t reserved, KVxR_DeviceCallback onDevice, KVxR_DoneCallback onDone);
/* Calls fn for each device of the current scan, inside the call. -100: no scan. */
KVXR_API int32_t KVXR_CALL KVxR_EnumDevices(KVxR_DeviceCallback fn);
/* 0: directed broadcast per interface, 1: 255.255.255.255; else -100. */
KVXR_API int32_t KVXR_CALL KVxR_SetDiscoveryMode(int32_t mode);
KVXR_API int32_t KVXR_CALL KVxR_SetNetworkCfg(int32_t device, const KVxR_WCHAR* text, int32_t timeoutMs);
KVXR_API int32_t KVXR_CALL KVxR_RebootDevice(int32_t device);
KVXR_API int32_t KVXR_CALL KVxR_SetFirmwareFile(const KVxR_WCHAR* path, KVxR_WCHAR* versionOut, uint32_t capacity);
KVXR_API int32_t KVXR_CALL KVxR_UpdateFirmware(int32_t device, KVxR_UpdateCallback cb);
KVXR_API int32_t KVXR_CALL KVxR_AbortUpdate(int32_t device);
KVXR_API int32_t KVXR_CALL KVxR_SetRecoveryMode(int32_t mode, KVxR_RecoveryCallback cb);
KVXR_API int32_t KVXR_CALL KVxR_ResumeRecovery(int32_t recoveryDevice);
KVXR_API int32_t KVXR_CALL KVxR_WriteOperationMode(int32_t device, int32_t mode);
KVXR_API int32_t KVXR_CALL KVxR_ReadOperationMode(int32_t device, uint8_t* out);
KVXR_API int32_t KVXR_CALL KVxR_GetSerial(int32_t device, KVxR_WCHAR* out, uint32_t capacity);
KVXR_API int32_t KVXR_CALL KVxR_GetHardwareID(int32_t device, uint8_t* out16);
KVXR_API int32_t KVXR_CALL KVxR_DbgReadProductData(int32_t device, KVxR_ProductDataCallback cb);
KVXR_API int32_t KVXR_CALL KVxR_DbgEraseProductData(int32_t device);

#ifndef _WIN32
/* Linux only: there is no window thread, so the host thread calls this to run
 * pending notifications (device, update and recovery callbacks) on itself.
 * Waits up to timeoutMs for the first one, then runs every one that is due.
 * Returns how many were run; -1 at once when called on another thread than
 * the one that first called the library (only that thread receives them). */
KVXR_API int32_t KVxR_DispatchNotifications(uint32_t timeoutMs);
#endif

#ifdef __cplusplus
}
#endif

#endif /* KVXR_UPDATE_H */
