// Joining path components with the system's separator.
#pragma once
#include <string>
#include <string_view>

namespace qs::plat {

#ifdef _WIN32
constexpr char16_t kPathSeparator = u'\\';
#else
constexpr char16_t kPathSeparator = u'/';
#endif

// folder + separator + name; no separator is doubled when folder ends in one.
inline std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
  std::u16string p(folder);
  if (!p.empty() && p.back() != u'/' && p.back() != kPathSeparator) p.push_back(kPathSeparator);
  p.append(name);
  return p;
}

}  // namespace qs::plat
