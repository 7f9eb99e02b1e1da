// Wide text of the window code: wchar_t is UTF-16 on Windows, the same units
// as the engine's std::u16string.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

namespace qs::app {

inline std::wstring W(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }
inline std::u16string U(std::wstring_view s) { return std::u16string(s.begin(), s.end()); }

// The thread's ANSI code page, both ways.
std::string ToAnsi(std::wstring_view s);
std::wstring FromAnsi(std::string_view s);

}  // namespace qs::app
