#include "platform/tick.h"

#include <windows.h>

namespace qs::plat {

uint32_t TickCount() { return GetTickCount(); }
void SleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace qs::plat
