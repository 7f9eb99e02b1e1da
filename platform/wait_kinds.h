// Kinds of wait object; shared by the event and socket implementations.
#pragma once

namespace qs::plat {

constexpr int kKindAutoEvent = 1;
constexpr int kKindManualEvent = 2;
constexpr int kKindSocket = 3;

}  // namespace qs::plat
