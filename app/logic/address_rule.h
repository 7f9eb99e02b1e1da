// Whether a static address, netmask and gateway can be sent to a device: the
// one rule of the program's "A&pply" and of quillscan-cli set-ip.
#pragma once
#include <cstdint>
#include <string>

namespace qs::app {

// Ones then zeros, neither 0.0.0.0 nor 255.255.255.255.
bool IsUsableNetmask(uint32_t netmask);

// Inside its subnet and neither the subnet's own address (host part all
// zeros) nor its broadcast address (host part all ones).
bool IsHostAddress(uint32_t address, uint32_t netmask);

enum class StaticProblem {
  None,
  Netmask,         // not a usable netmask
  Address,         // not a host address of the netmask (0.0.0.0 included)
  GatewayZero,     // 0.0.0.0
  GatewayNotHost,  // inside the subnet, but its own or its broadcast address
};

struct StaticCheck {
  StaticProblem problem = StaticProblem::None;  // refuse when not None
  bool gatewayOutside = false;                  // worth a warning: the gateway is in another subnet
};

// Checks in this order: netmask, address, gateway; the first problem wins.
StaticCheck CheckStaticSettings(uint32_t address, uint32_t netmask, uint32_t gateway);

// What is wrong, in one sentence without a final full stop ("the address
// 10.71.0.0 is the subnet's own address for netmask 255.255.240.0").
std::string StaticProblemText(StaticProblem problem, uint32_t address, uint32_t netmask, uint32_t gateway);
std::string GatewayOutsideText(uint32_t address, uint32_t netmask, uint32_t gateway);

}  // namespace qs::app
