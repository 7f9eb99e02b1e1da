#include <time.h>

#include "platform/local_time.h"

namespace qs::plat {

LocalTime LocalTimeNow() {
  time_t now = time(nullptr);
  struct tm t {};
  if (!localtime_r(&now, &t)) return LocalTime{};
  auto u = [](int v) { return static_cast<uint16_t>(v); };
  return LocalTime{u(t.tm_year + 1900), u(t.tm_mon + 1), u(t.tm_mday), u(t.tm_hour), u(t.tm_min), u(t.tm_sec)};
}

}  // namespace qs::plat
