#include "platform/text.h"

#include <windows.h>

namespace qs::plat {

std::u16string AnsiToWide(std::string_view s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return {};
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()),
                      reinterpret_cast<wchar_t*>(&out[0]), n);
  return out;
}

std::string WideToAnsi(std::u16string_view s) {
  if (s.empty()) return {};
  auto* w = reinterpret_cast<const wchar_t*>(s.data());
  int n = WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace qs::plat
