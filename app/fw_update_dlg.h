// The firmware update dialog: one update of one KV-xR device through the
// library, then the wait for the device to be reported again.
#pragma once
#include <windows.h>

#include "discovery/device_manager.h"

namespace qs::app {

// 1 updated and seen again (or closed after success), 2 closed without a
// successful update, 3 updated but not seen again within 30 s.
INT_PTR RunFirmwareUpdate(HWND owner, disc::IDeviceInfo* record);

}  // namespace qs::app
