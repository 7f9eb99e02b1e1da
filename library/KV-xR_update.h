/* KV-xR_update: the library's whole surface. Plain integers, texts and
 * callbacks; no structure crosses it. Every function returns KVXR_OK (0) on
 * success or a negative status, named below and listed with each function.
 * Wide text is UTF-16 and NUL-terminated.
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

/* Statuses, grouped by hundreds. One number can mean different things for
 * different functions, so every meaning has a name of its own, and each
 * function below lists the names it returns ("or" joins two names of one
 * number that the function can return). library/status_text.h words them for
 * messages. */
enum KVxR_Status {
  KVXR_OK = 0,

  /* argument and state errors of the functions */
  KVXR_NO_WINDOW = -1,              /* the scan's notification window could not be made */
  KVXR_UNKNOWN_DEVICE = -100,       /* the handle is not in the last scan (or there is none) */
  KVXR_NO_SCAN = -100,              /* no scan has been started */
  KVXR_BAD_DISCOVERY_MODE = -100,   /* the discovery mode is neither 0 nor 1 */
  KVXR_FILE_NOT_FOUND = -100,       /* nothing exists at the firmware file's path */
  KVXR_NO_CALLBACK = -100,          /* recovery mode needs a callback */
  KVXR_REBOOT_NOT_STARTED = -100,   /* the reboot worker could not be started */
  KVXR_NO_RECOVERY_DEVICE = -100,   /* no recovery device has that number */
  KVXR_BAD_KEYWORD = -101,          /* the settings text starts with neither "DHCP" nor "static" */
  KVXR_NO_FIRMWARE = -101,          /* no firmware file has been accepted */
  KVXR_NO_ROOM = -101,              /* the answer's buffer is missing or too small */
  KVXR_SETCFG_NOT_STARTED = -101,   /* the set-config worker could not be started */
  KVXR_NO_SEPARATOR = -102,         /* a "|" is missing in the settings text */
  KVXR_BAD_RECOVERY_MODE = -102,    /* the recovery mode is neither 0 nor 1 */
  KVXR_NOT_CREATED = -102,          /* the update or product-data job could not be made */
  KVXR_BAD_ADDRESS = -103,          /* an address in the settings text is malformed */
  KVXR_IN_RECOVERY = -103,          /* refused while recovery mode is on */
  KVXR_NO_RUNNING_UPDATE = -103,    /* no update job runs for the handle */

  /* the firmware file */
  KVXR_NOT_FIRMWARE_FILE = -200,    /* neither Intel HEX nor S-record */
  KVXR_NO_FW_INFO = -500,           /* no "fw.info" marker in 0x4000-0x4FFF */
  KVXR_BAD_FW_INFO = -501,          /* not JSON, or "model" or "version" missing or not text */
  KVXR_WRONG_FAMILY = -502,         /* "model" is not "KV-xR" */
  KVXR_BAD_FW_VERSION = -503,       /* "version" is not number "." number */

  /* the challenged reboot */
  KVXR_REBOOT_NO_SOCKET = -201,     /* no socket on the device's interface */
  KVXR_REBOOT_NO_BROADCAST = -202,  /* broadcast not allowed on that interface */
  KVXR_REBOOT_NOT_SENT = -203,      /* the reboot request could not be sent */
  KVXR_RESPONSE_NOT_SENT = -204,    /* the answer to the challenge could not be sent */
  KVXR_NO_CHALLENGE = -210,         /* no valid challenge within 3 s */
  KVXR_CHALLENGE_RECEIVE_ERROR = -211,

  /* set-config */
  KVXR_REDISCOVERY_TIMEOUT = -300,  /* the device did not answer the rediscovery in time */
  KVXR_REDISCOVERY_RECEIVE_ERROR = -301,
  KVXR_SETCFG_REFUSED = -401,       /* the device refused, or the request could not be sent */
  KVXR_SETCFG_NO_ACK = -402,        /* no acknowledgement in time */
  KVXR_SETCFG_RECEIVE_ERROR = -403,

  /* the final result of a firmware update (the done event's value) */
  KVXR_UPDATE_WRITTEN = 1,          /* written and verified; the application started */
  KVXR_UPDATE_UP_TO_DATE = 0,       /* every chunk already matched; the application started */
  KVXR_UPDATE_NO_CHALLENGE = -7,    /* no reboot challenge within 5 s */
  KVXR_UPDATE_STILL_DIFFERS = -9,   /* a chunk still differs after writing */
  KVXR_UPDATE_NO_BOOT_LOADER = -18, /* the device did not answer the recovery scan within 60 s */
  KVXR_UPDATE_NOT_STREAMED = -19,   /* the streaming registration failed */
  KVXR_UPDATE_NO_WATCH = -20,       /* the recovery-scanner watch could not be set up */
  KVXR_UPDATE_NO_STREAM_JOB = -21,  /* the stream job could not be started */
  KVXR_UPDATE_STREAM_SILENT = -22,  /* 15 s without any word from the stream job */
  KVXR_UPDATE_NO_CONNECTION = -23,  /* the TCP connection to the device failed */
  KVXR_UPDATE_BAD_DIGEST = -24,     /* bad or missing "DGST" reply */
  KVXR_UPDATE_DEVICE_ERROR = -25,   /* the device reported "ERRO" during a write */
  KVXR_UPDATE_PRODUCT_DATA_CHECK = -26,
  KVXR_UPDATE_PRODUCT_DATA_READ = -27,
  KVXR_UPDATE_PRODUCT_DATA_MIGRATION = -28,
  KVXR_UPDATE_BAD_READ = -29,       /* bad or missing "RDAT" reply */
  KVXR_UPDATE_NO_SOCKET = -100,     /* the reboot socket could not be set up */
  KVXR_UPDATE_SEND_FAILED = -104,   /* a send failed or the connection was not writable */
  KVXR_UPDATE_RECEIVE_ERROR = -105, /* receive error while waiting for the reboot challenge */
  KVXR_UPDATE_NO_CHUNK = -107       /* a chunk could not be taken from the image */
};

/* Events of the update callback (KVxR_UpdateCallback) and the product-data
 * callback. */
enum KVxR_UpdateEvent {
  KVXR_EVENT_PREPARING = 1,   /* value: seconds left of the wait for the boot loader (0 at the start) */
  KVXR_EVENT_PROGRAMMING = 3, /* value: percent of the chunk being written */
  KVXR_EVENT_DONE = 4         /* value: the final result, a KVXR_UPDATE_ status */
};

/* Events of the recovery callback (KVxR_RecoveryCallback). */
enum KVxR_RecoveryEvent {
  KVXR_RECOVERY_FOUND = 1,      /* text: "address|MAC" of a device in its boot loader */
  KVXR_RECOVERY_PREPARED = 2,   /* value: 100 */
  KVXR_RECOVERY_READY = 3,      /* KVxR_ResumeRecovery may now program it */
  KVXR_RECOVERY_PROGRESS = 4,   /* value: percent */
  KVXR_RECOVERY_PROGRAMMED = 5, /* value: the update's result (1 or more) */
  KVXR_RECOVERY_UP_TO_DATE = 6, /* value: 0 */
  KVXR_RECOVERY_FAILED = 7      /* value: the update's (negative) result */
};

/* Callbacks (cdecl). Texts and buffers belong to the library and are valid only
 * during the call. */
typedef void (*KVxR_DeviceCallback)(int32_t device, const KVxR_WCHAR* line);
typedef void (*KVxR_DoneCallback)(void);
typedef void (*KVxR_UpdateCallback)(int32_t device, int32_t event, int32_t value);
typedef void (*KVxR_ProductDataCallback)(int32_t device, int32_t event, const uint8_t* data512);
typedef void (*KVxR_RecoveryCallback)(int32_t recoveryDevice, const KVxR_WCHAR* text, int32_t event, int32_t value);

/* A failure inside the library itself (out of memory) is reported with the
 * function's "could not be started" status where it has one. */

/* Always 2. */
KVXR_API int32_t KVXR_CALL KVxR_GetLibraryVersion(void);
/* Starts a scan of every local interface (about 5 s); devices arrive through
 * onDevice on this thread, one device line each (library/device_line.h).
 * onDone, which may be null, is called once on a worker thread when the scan
 * ends. Every earlier handle is forgotten. KVXR_OK, KVXR_NO_WINDOW. */
KVXR_API int32_t KVXR_CALL KVxR_DiscoverDevices(int32_t reserved, KVxR_DeviceCallback onDevice, KVxR_DoneCallback onDone);
/* Calls fn for each device of the current scan, inside the call. KVXR_OK,
 * KVXR_NO_SCAN. */
KVXR_API int32_t KVXR_CALL KVxR_EnumDevices(KVxR_DeviceCallback fn);
/* 0: directed broadcast per interface, 1: 255.255.255.255. KVXR_OK,
 * KVXR_BAD_DISCOVERY_MODE. */
KVXR_API int32_t KVXR_CALL KVxR_SetDiscoveryMode(int32_t mode);
/* Sends "DHCP|a|m|g" or "static|a|m|g" (each field a dotted quad or "*") to the
 * device and waits up to timeoutMs for its acknowledgement; the settings take
 * effect at its next reboot. KVXR_OK, KVXR_UNKNOWN_DEVICE, KVXR_BAD_KEYWORD or
 * KVXR_SETCFG_NOT_STARTED (-101), KVXR_NO_SEPARATOR, KVXR_BAD_ADDRESS,
 * KVXR_REDISCOVERY_TIMEOUT, KVXR_REDISCOVERY_RECEIVE_ERROR,
 * KVXR_SETCFG_REFUSED, KVXR_SETCFG_NO_ACK, KVXR_SETCFG_RECEIVE_ERROR. */
KVXR_API int32_t KVXR_CALL KVxR_SetNetworkCfg(int32_t device, const KVxR_WCHAR* text, int32_t timeoutMs);
/* The challenged reboot; waits about 3 s at most. KVXR_OK, KVXR_UNKNOWN_DEVICE
 * or KVXR_REBOOT_NOT_STARTED (-100), KVXR_REBOOT_NO_SOCKET,
 * KVXR_REBOOT_NO_BROADCAST, KVXR_REBOOT_NOT_SENT, KVXR_RESPONSE_NOT_SENT,
 * KVXR_NO_CHALLENGE, KVXR_CHALLENGE_RECEIVE_ERROR. */
KVXR_API int32_t KVXR_CALL KVxR_RebootDevice(int32_t device);
/* Loads the firmware file that later updates and recovery write; versionOut
 * receives its version "%u.%03u", cut to capacity - 1 characters. KVXR_OK,
 * KVXR_FILE_NOT_FOUND, KVXR_NOT_FIRMWARE_FILE, KVXR_NO_FW_INFO,
 * KVXR_BAD_FW_INFO, KVXR_WRONG_FAMILY, KVXR_BAD_FW_VERSION; a failure keeps
 * the file accepted before. */
KVXR_API int32_t KVXR_CALL KVxR_SetFirmwareFile(const KVxR_WCHAR* path, KVxR_WCHAR* versionOut, uint32_t capacity);
/* Starts updating the device with the accepted firmware; cb receives the
 * KVXR_EVENT_ events, the last with a KVXR_UPDATE_ result. KVXR_OK,
 * KVXR_IN_RECOVERY, KVXR_UNKNOWN_DEVICE, KVXR_NO_FIRMWARE, KVXR_NOT_CREATED. */
KVXR_API int32_t KVXR_CALL KVxR_UpdateFirmware(int32_t device, KVxR_UpdateCallback cb);
/* Stops reporting the device's update. KVXR_OK, KVXR_UNKNOWN_DEVICE,
 * KVXR_NO_RUNNING_UPDATE. */
KVXR_API int32_t KVXR_CALL KVxR_AbortUpdate(int32_t device);
/* 1: listens for devices in their boot loader and reports them through cb
 * (KVXR_RECOVERY_ events); 0: stops. KVXR_OK, KVXR_BAD_RECOVERY_MODE,
 * KVXR_NO_CALLBACK, KVXR_NO_FIRMWARE. */
KVXR_API int32_t KVXR_CALL KVxR_SetRecoveryMode(int32_t mode, KVxR_RecoveryCallback cb);
/* Programs the recovery device of that number. KVXR_OK,
 * KVXR_NO_RECOVERY_DEVICE. */
KVXR_API int32_t KVXR_CALL KVxR_ResumeRecovery(int32_t recoveryDevice);
/* Sends a set-config request that changes only the operation mode (its low
 * byte), waiting up to 1 s. The statuses of KVxR_SetNetworkCfg but those of
 * the text: KVXR_OK, KVXR_UNKNOWN_DEVICE, KVXR_SETCFG_NOT_STARTED,
 * KVXR_REDISCOVERY_TIMEOUT, KVXR_REDISCOVERY_RECEIVE_ERROR,
 * KVXR_SETCFG_REFUSED, KVXR_SETCFG_NO_ACK, KVXR_SETCFG_RECEIVE_ERROR. */
KVXR_API int32_t KVXR_CALL KVxR_WriteOperationMode(int32_t device, int32_t mode);
/* The operation mode the device reported in the last scan; no traffic.
 * KVXR_OK, KVXR_UNKNOWN_DEVICE, KVXR_NO_ROOM (out is null). */
KVXR_API int32_t KVXR_CALL KVxR_ReadOperationMode(int32_t device, uint8_t* out);
/* The device's serial text. KVXR_OK, KVXR_UNKNOWN_DEVICE, KVXR_NO_ROOM (out
 * is null or holds fewer than the text's length + 1 characters; out is then
 * untouched). */
KVXR_API int32_t KVXR_CALL KVxR_GetSerial(int32_t device, KVxR_WCHAR* out, uint32_t capacity);
/* The device's 16-byte hardware identifier. KVXR_OK, KVXR_UNKNOWN_DEVICE,
 * KVXR_NO_ROOM (out16 is null). */
KVXR_API int32_t KVXR_CALL KVxR_GetHardwareID(int32_t device, uint8_t* out16);
/* Reads the device's 512-byte product-data block; cb receives it with
 * KVXR_EVENT_DONE. KVXR_OK, KVXR_IN_RECOVERY, KVXR_UNKNOWN_DEVICE,
 * KVXR_NOT_CREATED. */
KVXR_API int32_t KVXR_CALL KVxR_DbgReadProductData(int32_t device, KVxR_ProductDataCallback cb);
/* Erases the device's product-data record; its outcome is not reported.
 * KVXR_OK, KVXR_IN_RECOVERY, KVXR_UNKNOWN_DEVICE, KVXR_NOT_CREATED. */
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
