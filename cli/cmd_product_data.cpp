// quillscan-cli product-data: reads a KV-xR unit's 512-byte product-data
// area and shows what it holds; erases the product record when asked to
// (and reads again to show that it took: the library does not report an
// erase's outcome).
#include <picojson.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/support_kvxr.h"
#include "cli/support_prompt.h"
#include "cli/support_spinner.h"
#include "firmware/product_data.h"
#include "library/KV-xR_update.h"
#include "library/status_text.h"
#include "platform/tick.h"
#include "runtime/bytes.h"

namespace qs::cli {

namespace {

constexpr const char* kCmd = "product-data";
// A read or an erase takes the unit into its boot loader and back: the
// library's own bounds (5 s challenge, 60 s for the boot loader, 15 s per
// reply) end it well within this.
constexpr uint32_t kJobLimitMs = 120000;
constexpr uint32_t kComeBackMs = 30000;
constexpr uint32_t kGoneLimitMs = 20000;
constexpr uint32_t kProbeMs = 2000;

std::atomic<bool> g_read{false};
int32_t g_device = 0;
uint8_t g_area[fw::kProductDataSize];

void OnProductData(int32_t device, int32_t, const uint8_t* data) {
  if (device != g_device || !data) return;
  std::memcpy(g_area, data, sizeof g_area);
  g_read = true;
}

// Reads the area into out; says why not.
bool ReadArea(LibraryHost& host, const KvxrDevice& device, uint8_t out[fw::kProductDataSize]) {
  g_read = false;
  g_device = device.handle;
  std::memset(g_area, 0, sizeof g_area);
  int32_t st = KVxR_DbgReadProductData(device.handle, OnProductData);
  if (st != 0) {
    Error(kCmd, "the read did not start: " + kvxr::StatusText(kvxr::Call::DbgReadProductData, st));
    return false;
  }
  Spinner spinner(kCmd, "reading (the unit restarts into its boot loader and back)");
  host.Run(kJobLimitMs, &g_read);
  spinner.Stop();
  if (!g_read.load()) {
    Error(kCmd, "the library delivered no product data within " + std::to_string(kJobLimitMs / 1000) + " s");
    return false;
  }
  // A failed read is told only by the bytes: the library's buffer stays zero.
  bool zero = true;
  for (uint8_t b : g_area) zero = zero && b == 0;
  if (zero) {
    Error(kCmd, "the read failed (all 512 bytes are 0, which is what a failed read leaves)");
    return false;
  }
  std::memcpy(out, g_area, sizeof g_area);
  return true;
}

// Looks for the unit until it answers again, at most limitMs; with
// untilGone, until it has once not answered instead.
bool Look(LibraryHost& host, bool limited, const uint8_t mac[6], bool untilGone, uint32_t limitMs, KvxrDevice* out) {
  const uint32_t start = plat::TickCount();
  for (;;) {
    uint32_t spent = plat::TicksSince(start);
    if (spent >= limitMs) return false;
    uint32_t left = limitMs - spent;
    uint32_t probeStart = plat::TickCount();
    KvxrDevice now;
    bool answered = ProbeKvxrDevice(host, limited, mac, left < kProbeMs ? left : kProbeMs, &now);
    if (answered != untilGone) {
      if (out) *out = now;
      return true;
    }
    uint32_t used = plat::TicksSince(probeStart);
    spent = plat::TicksSince(start);
    if (used < kProbeMs && spent < limitMs) host.Run(kProbeMs - used < limitMs - spent ? kProbeMs - used : limitMs - spent);
  }
}

std::string Printable(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '\\') {
      s.push_back(static_cast<char>(p[i]));
    } else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", p[i]);
      s += b;
    }
  }
  return s;
}

const char* ItemName(uint8_t tag) {
  switch (tag) {
    case fw::kItemFormat: return "format";
    case fw::kItemModel: return "model";
    case fw::kItemMac: return "mac";
    case fw::kItemSerial: return "serial";
    case fw::kItemEnd: return "end";
  }
  return "unknown";
}

// The item's value as text: the format as a number, the model code and the
// serial as text, the MAC as 02-00-...; anything else (or a wrong length) as hex.
std::string ItemValue(const fw::RecordItem& it, bool* number) {
  *number = false;
  if (it.tag == fw::kItemFormat && it.length == 1) {
    *number = true;
    return std::to_string(it.data[0]);
  }
  if (it.tag == fw::kItemMac && it.length == 6) return bytes::FormatMac(it.data);
  if (it.tag == fw::kItemModel || it.tag == fw::kItemSerial) {
    // The model code is padded to its 8 bytes with NULs.
    size_t n = it.length;
    while (n > 0 && it.data[n - 1] == 0) --n;
    return Printable(it.data, n);
  }
  return it.length ? bytes::HexText(it.data, it.length) : std::string();
}

struct Shown {
  bool valid = false;
  bool walked = false;
  std::vector<fw::RecordItem> items;
};

Shown Decode(const uint8_t* area) {
  Shown s;
  const uint8_t* record = area + fw::kCalibrationSize;
  s.valid = fw::ProductRecordValid(record, fw::kProductRecordSize);
  fw::RecordWalk walk = fw::WalkProductRecord(record, fw::kProductRecordSize);
  s.walked = walk.complete;
  fw::RecordItem it;
  for (size_t i = 0; s.walked && i < walk.items && fw::ProductRecordItem(record, fw::kProductRecordSize, i, &it); ++i)
    s.items.push_back(it);
  return s;
}

void PrintArea(const KvxrDevice& d, const uint8_t* area, const Shown& s) {
  std::printf("%s %s at %s: product-data area (512 bytes at 0x%06X)\n", d.model.c_str(), MacText(d.d.mac).c_str(),
              d.Address().c_str(), static_cast<unsigned>(fw::kProductDataAddress));
  std::printf("calibration: %s\n", bytes::HexText(area, fw::kCalibrationSize).c_str());
  if (s.valid) std::printf("record: valid\n");
  else if (s.walked) std::printf("record: invalid (its digest does not match its items)\n");
  else std::printf("record: invalid (its items run past its %u bytes)\n", static_cast<unsigned>(fw::kProductRecordSize));
  for (const fw::RecordItem& it : s.items) {
    bool number = false;
    std::string v = ItemValue(it, &number);
    std::printf("  %-7s (tag 0x%02X, %u bytes)%s%s\n", ItemName(it.tag), static_cast<unsigned>(it.tag),
                static_cast<unsigned>(it.length), v.empty() ? "" : ": ", v.c_str());
  }
  std::fflush(stdout);
}

picojson::object AreaJson(const uint8_t* area, const Shown& s) {
  picojson::object o;
  o["calibration"] = picojson::value(bytes::HexText(area, fw::kCalibrationSize));
  o["valid"] = picojson::value(s.valid);
  picojson::array items;
  for (const fw::RecordItem& it : s.items) {
    picojson::object i;
    bool number = false;
    std::string v = ItemValue(it, &number);
    i["tag"] = picojson::value(static_cast<double>(it.tag));
    i["name"] = picojson::value(ItemName(it.tag));
    i["value"] = number ? picojson::value(static_cast<double>(it.data[0])) : picojson::value(v);
    items.push_back(picojson::value(i));
  }
  o["items"] = picojson::value(items);
  return o;
}

int RunProductData(const std::vector<std::string>& all) {
  std::vector<std::string> args;
  const bool limited = TakeLimitedBroadcastOption(all, &args);
  bool erase = false, yes = false, json = false;
  std::vector<std::string> pos;
  for (const std::string& a : args) {
    if (a == "--erase") erase = true;
    else if (a == "--yes") yes = true;
    else if (a == "--json") json = true;
    else if (a.size() > 1 && a[0] == '-' && a[1] == '-') return UsageError(kCmd, "unknown option '" + a + "'");
    else pos.push_back(a);
  }
  if (pos.size() != 1) return UsageError(kCmd, pos.empty() ? "a device is needed" : "one device only");
  if (yes && !erase) return UsageError(kCmd, "--yes only goes with --erase");
  DeviceTarget target;
  std::string why;
  if (!ParseDeviceTarget(pos[0], &target, &why)) return UsageError(kCmd, why);
  // Nobody to ask: refused before anything is sent.
  const bool ask = erase && !yes;
  if (ask && !StdinIsTerminal())
    return UsageError(kCmd, "--erase asks for confirmation on a terminal; without one give --yes (nothing was sent)");

  LibraryHost host;
  KvxrDevice device;
  if (!OpenAndFindKvxrDevice(host, kCmd, target, limited, &device)) return kExitFailed;
  uint8_t area[fw::kProductDataSize];
  if (!ReadArea(host, device, area)) {
    LetScansEnd(host);
    return kExitFailed;
  }
  const Shown before = Decode(area);
  picojson::object out = AreaJson(area, before);
  if (!json) PrintArea(device, area, before);
  if (!erase) {
    LetScansEnd(host);
    host.Close();
    if (json) std::printf("%s\n", picojson::value(out).serialize().c_str());
    return kExitOk;
  }

  const std::string mac = MacText(device.d.mac);
  if (ask && !Confirm("Erase the product record of " + mac + "? It cannot be undone")) {
    Error(kCmd, "not erased");
    LetScansEnd(host);
    return kExitFailed;
  }
  // The read ended with the unit restarting its application: wait for it.
  KvxrDevice now;
  {
    Spinner spinner(kCmd, "waiting for the unit");
    if (!Look(host, limited, device.d.mac, false, kComeBackMs, &now)) {
      spinner.Stop();
      Error(kCmd, mac + " did not answer within " + std::to_string(kComeBackMs / 1000) + " s after the read; nothing erased");
      LetScansEnd(host);
      return kExitFailed;
    }
  }
  int32_t st = KVxR_DbgEraseProductData(now.handle);
  if (st != 0) {
    Error(kCmd, "the erase did not start: " + std::to_string(st));
    LetScansEnd(host);
    return kExitFailed;
  }
  // The erase runs on without a word; it shows in the unit going away and
  // coming back, and in the area read afterwards.
  bool restarted = false, back = false;
  {
    Spinner spinner(kCmd, "erasing (the unit restarts into its boot loader and back)");
    host.Run(1000);
    restarted = Look(host, limited, device.d.mac, true, kGoneLimitMs, nullptr);
    back = Look(host, limited, device.d.mac, false, kJobLimitMs, &now);
  }
  if (!back) {
    Error(kCmd, mac + " did not come back within " + std::to_string(kJobLimitMs / 1000) +
                    " s of the erase; it may wait in its boot loader ('quillscan-cli recover' brings it back)");
    LetScansEnd(host);
    return kExitFailed;
  }
  if (!ReadArea(host, now, area)) {
    LetScansEnd(host);
    return kExitFailed;
  }
  LetScansEnd(host);
  host.Close();
  const Shown after = Decode(area);
  out["erased"] = picojson::value(!after.valid);
  out["after"] = picojson::value(AreaJson(area, after));
  if (json) std::printf("%s\n", picojson::value(out).serialize().c_str());
  if (after.valid) {
    Error(kCmd, std::string("the product record is still valid: the erase did not take") +
                    (restarted ? "" : " (the unit was never seen restarting for it)"));
    return kExitFailed;
  }
  if (!json) std::printf("%s: product record erased (read back: invalid)\n", mac.c_str());
  return kExitOk;
}

}  // namespace

QS_CLI_COMMAND(g_productData, "product-data", "product-data <MAC|address> [--erase [--yes]] [--json] [--xp]",
               "Reads the 512-byte product-data area of a KV-xR unit (the unit restarts into its\n"
               "boot loader and back) and shows the calibration bytes, whether the product\n"
               "record is valid, and its items decoded (format, model code, MAC, serial).\n"
               "  --erase  then erases the product record (an update rebuilds it from the old\n"
               "           configuration), after asking on the terminal; the area is read\n"
               "           again to show that the record is gone\n"
               "  --yes    erase without asking (needed when stdin is no terminal)\n"
               "  --json   one object on stdout: \"calibration\" (hex), \"valid\", \"items\"\n"
               "           ({\"tag\", \"name\", \"value\"}); with --erase also \"erased\" and\n"
               "           \"after\" (the area read back)\n"
               "  --xp     the scans send to each interface's directed broadcast\n"
               "Exit status: 0 done, 1 failed or not confirmed (the reason is printed),\n"
               "2 usage error.",
               RunProductData);

}  // namespace qs::cli
