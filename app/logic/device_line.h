// Finding the library's handle of a device the list shows, by its MAC, in the
// library's device lines (read by library/device_line.h).
#pragma once
#include <cstdint>
#include <string_view>

namespace qs::app {

// The search over one enumeration: a line that has the layout the page relies
// on (the Leading rule of the device line) and names the wanted MAC replaces
// the previous match, so the last match wins. The line is ANSI (converted by
// the caller).
class DeviceSearch {
 public:
  explicit DeviceSearch(const uint8_t wanted[6]);
  void Offer(int32_t handle, std::string_view line);
  bool found() const { return found_; }
  int32_t handle() const { return handle_; }

 private:
  uint8_t wanted_[6];
  bool found_ = false;
  int32_t handle_ = 0;
};

}  // namespace qs::app
