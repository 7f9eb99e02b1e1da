// Small window helpers shared by the dialogs.
#pragma once
#include <windows.h>

#include <string>

namespace qs::app {

// On the owner, or on the work area of the window's monitor when the owner
// is missing or hidden; kept inside that work area.
void CenterOnOwner(HWND w);

// Loads the program's icon in the system's large and small sizes and gives
// them to the window; the caller destroys them when the window is gone.
void SetProgramIcons(HWND w, HICON& big, HICON& small);

// A message box with the program's name as caption.
int ShowMessage(HWND owner, const std::wstring& text, UINT flags);

}  // namespace qs::app
