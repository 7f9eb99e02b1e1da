// quillscan-cli wink <MAC>: scans, finds the device with that MAC and sends
// the wink that suits its firmware, saying which datagram went out.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "cli/support_host.h"
#include "discovery/full_scan.h"
#include "discovery/text_fields.h"
#include "discovery/wink.h"
#include "platform/socket.h"
#include "platform/text.h"

namespace qs::cli {

namespace {

void RunHost(uint32_t ms, const std::atomic<bool>* until, void* host) {
  static_cast<LibraryHost*>(host)->Run(ms, until);
}

std::string Dotted(uint32_t a) {
  char b[16];
  plat::FormatAddress(a, b);
  return b;
}

std::string MacText(const uint8_t m[6]) {
  char b[18];
  std::snprintf(b, sizeof b, "%02X-%02X-%02X-%02X-%02X-%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
  return b;
}

bool ParseMac(std::string_view s, uint8_t mac[6]) {
  size_t pos = 0;
  return disc::ParseMacText(s, pos, ":-", mac) && pos == s.size();
}

// Sends the wink and says which datagram went out; the exit status.
int Wink(disc::IDeviceInfoX* device, const uint8_t mac[6]) {
  const std::string name = plat::WideToUtf8(device->GetName());
  const std::string macText = MacText(mac);
  if (!device->CanWink()) {
    std::fprintf(stderr, "quillscan-cli wink: %s %s is a model that cannot wink\n", name.c_str(), macText.c_str());
    return kExitFailed;
  }
  const disc::VersionPair& v = device->GetVersion();
  if (disc::ChooseWink(v) == disc::WinkKind::Authenticated) {
    uint8_t id[16];
    device->GetHardwareId(id);
    bool noId = true;
    for (uint8_t b : id) noId = noId && b == 0;
    // The authenticated wink names the device by its identifier; without one
    // it would go out and reach nobody.
    if (noId) {
      std::fprintf(stderr,
                   "quillscan-cli wink: the scan gave no hardware identifier for %s %s (the KV-xR library did not "
                   "report it): nothing was sent\n",
                   name.c_str(), macText.c_str());
      return kExitFailed;
    }
  }
  disc::WinkOutcome w = disc::SendWinkTo(device);
  if (w.kind == disc::WinkKind::Legacy) {
    if (!w.sent) {
      std::fprintf(stderr, "quillscan-cli wink: the text wink to %s could not be sent\n", Dotted(w.target).c_str());
      return kExitFailed;
    }
    std::printf("%s %s (firmware %u.%03u): sent the text wink \"Wink\" (4 bytes) to %s, UDP port %u\n", name.c_str(),
                macText.c_str(), static_cast<unsigned>(v.major), static_cast<unsigned>(v.minor),
                Dotted(w.target).c_str(), disc::kWinkPort);
    return kExitOk;
  }
  if (!w.sent) {
    std::fprintf(stderr, "quillscan-cli wink: the authenticated wink could not be sent from any interface\n");
    return kExitFailed;
  }
  std::string from;
  for (uint32_t a : w.from) from += (from.empty() ? "" : ", ") + Dotted(a);
  std::printf("%s %s: sent the authenticated wink (command 0xC104, %zu bytes) to 255.255.255.255, UDP port %u, "
              "from %zu interface%s (%s)\n",
              name.c_str(), macText.c_str(), disc::kWinkRequestSize, disc::kWinkPort, w.sent, w.sent == 1 ? "" : "s",
              from.c_str());
  return kExitOk;
}

int RunWink(const std::vector<std::string>& args) {
  const char* usage = "usage: quillscan-cli wink <MAC>   (00-11-22-33-44-55 or 00:11:22:33:44:55)";
  if (args.size() != 1) {
    std::fprintf(stderr, "quillscan-cli wink: %s\n%s\n", args.empty() ? "a MAC is needed" : "one MAC only", usage);
    return kExitUsage;
  }
  uint8_t mac[6];
  if (!ParseMac(args[0], mac)) {
    std::fprintf(stderr, "quillscan-cli wink: '%s' is not a MAC\n%s\n", args[0].c_str(), usage);
    return kExitUsage;
  }
  plat::SocketsLibrary sockets;
  if (!sockets.ok()) {
    std::fprintf(stderr, "quillscan-cli wink: the sockets library did not start\n");
    return kExitFailed;
  }
  disc::DeviceManager* mgr = disc::GetDeviceManagerImpl();
  LibraryHost host;
  const bool hosted = host.Open();
  disc::FullScanResult r = disc::ScanToEnd(*mgr, disc::FullScanOptions(), hosted ? RunHost : nullptr, &host);
  int rc = kExitFailed;
  Ref<disc::IDeviceInfoX> device;
  size_t matches = 0;
  for (const Ref<disc::IDeviceInfoX>& d : mgr->devices()) {
    uint8_t m[6];
    d->GetMac(m);
    if (std::memcmp(m, mac, 6) != 0) continue;
    // Two models may share a MAC; the one that can wink is meant.
    if (!device || (!device->CanWink() && d->CanWink())) device = d;
    ++matches;
  }
  if (r.datagrams.interfaces == 0) {
    std::fprintf(stderr, "quillscan-cli wink: no usable network interface (IPv4, up, not loopback)\n");
  } else if (!device) {
    std::fprintf(stderr, "quillscan-cli wink: no device with MAC %s answered the scan\n", MacText(mac).c_str());
  } else {
    if (matches > 1)
      std::fprintf(stderr, "quillscan-cli wink: note: %zu devices report MAC %s; the %s gets the wink\n",
                   matches, MacText(mac).c_str(), plat::WideToUtf8(device->GetName()).c_str());
    rc = Wink(device.get(), mac);
  }
  device.reset();
  host.Close();
  disc::ReleaseDeviceManager();
  return rc;
}

}  // namespace

QS_CLI_COMMAND(g_wink, "wink", "wink <MAC>",
               "Scans like 'discover', finds the device with this MAC (00-11-22-33-44-55 or\n"
               "00:11:22:33:44:55) and makes it identify itself: firmware 0.1 to 0.136 gets\n"
               "the text \"Wink\" at its address; any other (or unknown) version gets the\n"
               "authenticated wink by broadcast from every local interface.\n"
               "Only models that can wink (the KV-xR family) are sent one.\n"
               "Exit status: 0 sent, 1 not found or not sent, 2 usage error.",
               RunWink);

}  // namespace qs::cli
