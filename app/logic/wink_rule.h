// When a wink is not sent at all: a model that cannot wink, and the
// authenticated wink without the device's hardware identifier (it would name
// 00...00 and no device would answer it). The program's "&IDENTIFY" and
// quillscan-cli wink refuse alike.
#pragma once
#include <cstdint>
#include <string>

namespace qs::app {

enum class WinkRefusal { None, CannotWink, NoIdentifier };

// authenticated: the device's firmware takes the authenticated wink.
WinkRefusal CheckWink(bool canWink, bool authenticated, const uint8_t hardwareId[16]);

// One phrase without a final full stop; empty for None.
std::string WinkRefusalText(WinkRefusal r);

}  // namespace qs::app
