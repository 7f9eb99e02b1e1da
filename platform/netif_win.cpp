#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <vector>

#include "platform/netif.h"

namespace qs::plat {

IfQuery QueryInterfaces(size_t room, std::vector<RawInterface>& out) {
  out.clear();
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return IfQuery::Failed;
  std::vector<INTERFACE_INFO> buf(room ? room : 1);
  DWORD bytes = 0;
  int rc = WSAIoctl(s, SIO_GET_INTERFACE_LIST, nullptr, 0, buf.data(),
                    static_cast<DWORD>(room * sizeof(INTERFACE_INFO)), &bytes, nullptr, nullptr);
  int err = rc == 0 ? 0 : WSAGetLastError();
  closesocket(s);
  if (rc != 0) return err == WSAEFAULT ? IfQuery::TooSmall : IfQuery::Failed;
  size_t n = bytes / sizeof(INTERFACE_INFO);
  for (size_t i = 0; i < n && i < buf.size(); ++i) {
    const INTERFACE_INFO& ii = buf[i];
    if (ii.iiAddress.AddressIn.sin_family != AF_INET) continue;
    RawInterface r;
    if (ii.iiFlags & IFF_UP) r.flags |= kIfUp;
    if (ii.iiFlags & IFF_LOOPBACK) r.flags |= kIfLoopback;
    if (ii.iiFlags & IFF_BROADCAST) r.flags |= kIfBroadcast;
    r.address = ntohl(ii.iiAddress.AddressIn.sin_addr.s_addr);
    r.broadcast = ntohl(ii.iiBroadcastAddress.AddressIn.sin_addr.s_addr);
    r.netmask = ntohl(ii.iiNetmask.AddressIn.sin_addr.s_addr);
    out.push_back(r);
  }
  return IfQuery::Ok;
}

uint8_t DhcpFlagForAddress(uint32_t address) {
  constexpr ULONG kRecord = sizeof(IP_ADAPTER_INFO);
  ULONG size = 3 * kRecord;
  std::vector<unsigned char> buf(size);
  ULONG rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buf.data()), &size);
  if (rc != ERROR_SUCCESS) {
    if (size == 0 || size > 16u * 1024u * 1024u) return 0;
    size = (size + kRecord - 1) / kRecord * kRecord;
    buf.assign(size, 0);
    if (GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buf.data()), &size) != ERROR_SUCCESS) return 0;
  }
  for (auto* a = reinterpret_cast<IP_ADAPTER_INFO*>(buf.data()); a; a = a->Next) {
    unsigned long ip = inet_addr(a->IpAddressList.IpAddress.String);
    if (ip != INADDR_NONE && ntohl(ip) == address) return a->DhcpEnabled ? 1 : 0;
  }
  return 0;
}

}  // namespace qs::plat
