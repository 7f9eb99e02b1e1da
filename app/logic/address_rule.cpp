#include "app/logic/address_rule.h"

#include "runtime/bytes.h"

namespace qs::app {

bool IsUsableNetmask(uint32_t m) {
  if (m == 0 || m == 0xFFFFFFFFu) return false;
  uint32_t host = ~m;
  return (host & (host + 1)) == 0;  // the host part is a run of low ones
}

bool IsHostAddress(uint32_t a, uint32_t m) {
  uint32_t host = a & ~m;
  return host != 0 && host != ~m;
}

StaticCheck CheckStaticSettings(uint32_t address, uint32_t netmask, uint32_t gateway) {
  StaticCheck c;
  if (!IsUsableNetmask(netmask)) c.problem = StaticProblem::Netmask;
  else if (!IsHostAddress(address, netmask)) c.problem = StaticProblem::Address;
  else if (gateway == 0) c.problem = StaticProblem::GatewayZero;
  else if ((gateway & netmask) == (address & netmask) && !IsHostAddress(gateway, netmask))
    c.problem = StaticProblem::GatewayNotHost;
  else c.gatewayOutside = (gateway & netmask) != (address & netmask);
  return c;
}

namespace {
std::string DottedQuad(uint32_t a) { return bytes::FormatIpv4(a); }
}  // namespace

std::string StaticProblemText(StaticProblem p, uint32_t address, uint32_t netmask, uint32_t gateway) {
  const std::string a = DottedQuad(address), m = DottedQuad(netmask), g = DottedQuad(gateway);
  switch (p) {
    case StaticProblem::None:
      return std::string();
    case StaticProblem::Netmask:
      if (netmask == 0 || netmask == 0xFFFFFFFFu) return "the netmask " + m + " leaves no room for a subnet";
      return "the netmask " + m + " is not a run of ones followed by zeros";
    case StaticProblem::Address:
      if (address == 0) return "the address 0.0.0.0 is no address for a device";
      if ((address & ~netmask) == 0) return "the address " + a + " is the subnet's own address for netmask " + m;
      return "the address " + a + " is the subnet's broadcast address for netmask " + m;
    case StaticProblem::GatewayZero:
      return "the gateway 0.0.0.0 is no address for a gateway";
    case StaticProblem::GatewayNotHost:
      if ((gateway & ~netmask) == 0) return "the gateway " + g + " is the subnet's own address for netmask " + m;
      return "the gateway " + g + " is the subnet's broadcast address for netmask " + m;
  }
  return std::string();
}

std::string GatewayOutsideText(uint32_t address, uint32_t netmask, uint32_t gateway) {
  return "the gateway " + DottedQuad(gateway) + " is outside the subnet of " + DottedQuad(address) + " with netmask " +
         DottedQuad(netmask) + ": the device will not reach it";
}

}  // namespace qs::app
