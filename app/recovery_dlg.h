// The recovery mode dialog: lists the KV-xR units that wait in their boot
// loader, programs the ticked ones with the newest firmware file, and leaves
// recovery mode when it closes.
#pragma once
#include <windows.h>

namespace qs::app {

// Runs the dialog modally (result 2 through "Exit"), then switches the
// library's recovery mode off.
INT_PTR RunRecovery(HWND owner);

}  // namespace qs::app
