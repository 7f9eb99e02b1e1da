#include "cli/support_scan_report.h"

#include "discovery/frame.h"
#include "library/KV-xR_update.h"
#include "runtime/bytes.h"

namespace qs::cli {

namespace {

std::string Count(uint32_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string s;
  for (const std::string& p : parts) s += (s.empty() ? "" : ", ") + p;
  return s;
}

std::string Where(const disc::InterfaceScan& i) {
  return bytes::FormatIpv4(i.seen.address) + "/" + bytes::FormatIpv4(i.seen.netmask);
}

}  // namespace

std::string InterfaceText(const plat::RawInterface& r) {
  std::string s = bytes::FormatIpv4(r.address) + "/" + bytes::FormatIpv4(r.netmask);
  s += (r.flags & plat::kIfUp) ? " (up" : " (down";
  if (r.flags & plat::kIfLoopback) s += ", loopback";
  return s + ")";
}

std::vector<std::string> NothingSentLines(const disc::ScanStats& s) {
  const std::string none = "no usable network interface (IPv4, up, not loopback): nothing was sent";
  if (s.interfaceQueryFailed) return {none, "the system's list of network interfaces could not be read"};
  std::vector<std::string> seen, unset, unwatched;
  for (const disc::InterfaceScan& i : s.seen) {
    seen.push_back(InterfaceText(i.seen));
    if (i.qualifies && !i.socket) unset.push_back(Where(i));
    if (i.socket) unwatched.push_back(Where(i));
  }
  if (!unwatched.empty())
    return {"replies could not be awaited on " + Joined(unwatched) + ": the sockets could not be watched"};
  if (!unset.empty()) return {"no socket could be set up on " + Joined(unset) + ": nothing was sent"};
  if (seen.empty()) return {none, "the system lists no interface with an IPv4 address"};
  return {none, "interfaces seen: " + Joined(seen)};
}

std::vector<std::string> NoReplyLines(const disc::ScanStats& s) {
  std::vector<std::string> where;
  for (const disc::InterfaceScan& i : s.seen) {
    if (!i.socket) continue;
    std::string w = Where(i);
    if (i.sendFailures)
      w += " (" + std::to_string(i.sendFailures) + " of " + std::to_string(i.textProbes + i.discoverRequests) +
           " sends failed)";
    where.push_back(w);
  }
  return {"probes went out on " + Joined(where) + "; no reply came back",
          "check the cabling and link lights, whether the devices are behind a router in another subnet "
          "(broadcasts do not cross it), and whether a firewall on this computer blocks incoming UDP"};
}

std::vector<std::string> VerboseLines(const disc::FullScanResult& r) {
  const disc::ScanStats& s = r.datagrams;
  std::vector<std::string> out;
  if (s.interfaceQueryFailed) {
    out.push_back("scan: the system's list of network interfaces could not be read");
  } else {
    out.push_back("scan: the system lists " + Count(static_cast<uint32_t>(s.seen.size()), "IPv4 interface",
                                                    "IPv4 interfaces"));
  }
  for (const disc::InterfaceScan& i : s.seen) {
    const std::string head = "  " + InterfaceText(i.seen) + ": ";
    if (!i.qualifies) {
      out.push_back(head + "not used");
      continue;
    }
    if (!i.socket) {
      out.push_back(head + "no socket could be set up, nothing sent");
      continue;
    }
    std::string sent = head + "sent " + Count(i.textProbes, "\"Scan\" probe", "\"Scan\" probes") + " to " +
                       bytes::FormatIpv4(net::DirectedBroadcast(i.seen.address, i.seen.netmask)) + " port " +
                       std::to_string(disc::kCommandPort) + ", " +
                       Count(i.discoverRequests, "discover request", "discover requests") +
                       " to 255.255.255.255 port " + std::to_string(disc::kDiscoverPort);
    if (i.sendFailures) sent += " (" + Count(i.sendFailures, "send", "sends") + " failed)";
    out.push_back(sent);
    const disc::ReplyCounts& c = i.replies;
    out.push_back("    replies: " + std::to_string(c.firstFamily) + " first-family, " + std::to_string(c.kvxr) +
                  " KV-xR, " + std::to_string(c.unlisted) + " unlisted model, " + std::to_string(c.invalid) +
                  " stray or invalid, " + Count(c.errors, "receive error", "receive errors"));
  }
  if (r.libraryStatus != KVXR_OK) {
    out.push_back("KV-xR library scan: did not run");
  } else {
    const disc::LibraryLineCounts& l = r.libraryLines;
    out.push_back("KV-xR library scan (discover requests to port " + std::to_string(disc::kCommandPort) +
                  " on every interface, then \"?Version\" to each device): " +
                  Count(l.lines, "device report", "device reports") + " (one per device and interface), " +
                  std::to_string(l.withVersion) + " with a version reply, " + std::to_string(l.ignored) +
                  " not understood");
  }
  return out;
}

}  // namespace qs::cli
