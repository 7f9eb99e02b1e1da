// Reading the library's "|"-separated device line when looking for the
// library's handle of a device the list shows.
#pragma once
#include <cstdint>
#include <string_view>

namespace qs::app {

// true when the line has the eight-field layout the page relies on; mac gets
// the MAC of field 3. The line is ANSI (converted by the caller).
bool ReadDeviceLineMac(std::string_view line, uint8_t mac[6]);

// The search over one enumeration: every matching line's handle replaces the
// previous one, so the last match wins.
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
