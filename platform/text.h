// Wide text is UTF-16 on both builds (std::u16string). Device strings are
// ASCII and widened with the ANSI code page (Latin-1 on Linux, which maps every
// byte, so nothing is ever rejected).
#pragma once
#include <string>
#include <string_view>

namespace qs::plat {

std::u16string AnsiToWide(std::string_view s);
std::string WideToAnsi(std::u16string_view s);
std::u16string Utf8ToWide(std::string_view s);
std::string WideToUtf8(std::u16string_view s);

}  // namespace qs::plat
