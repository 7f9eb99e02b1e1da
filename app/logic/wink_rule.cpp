#include "app/logic/wink_rule.h"

namespace qs::app {

WinkRefusal CheckWink(bool canWink, bool authenticated, const uint8_t hardwareId[16]) {
  if (!canWink) return WinkRefusal::CannotWink;
  if (!authenticated) return WinkRefusal::None;
  for (int i = 0; i < 16; ++i)
    if (hardwareId[i] != 0) return WinkRefusal::None;
  return WinkRefusal::NoIdentifier;
}

std::string WinkRefusalText(WinkRefusal r) {
  switch (r) {
    case WinkRefusal::None: return std::string();
    case WinkRefusal::CannotWink: return "this model cannot wink";
    case WinkRefusal::NoIdentifier:
      return "the KV-xR library has not reported the device's hardware identifier, which the wink names";
  }
  return std::string();
}

}  // namespace qs::app
