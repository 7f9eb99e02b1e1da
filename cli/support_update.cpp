#include "cli/support_update.h"

#include "cli/support_firmware.h"

namespace qs::cli {

namespace {
constexpr size_t kMaxQueued = 100000;
std::vector<UpdateEvent> g_events;  // host thread only
}  // namespace

void OnUpdateEvent(int32_t device, int32_t kind, int32_t value) {
  // Beyond the bound only the final records are kept: they end the waits.
  if (g_events.size() < kMaxQueued || kind == kKindEnded) g_events.push_back(UpdateEvent{device, kind, value});
}

void TakeUpdateEvents(std::vector<UpdateEvent>* out) {
  out->clear();
  out->swap(g_events);
}

app::Version VersionOf(const kvxr::DeviceLine& d) { return app::Version{d.major, d.minor}; }

picojson::object UpdateJson(const int32_t* status, const app::Version& before, const app::Version* after,
                            const app::Version& file) {
  picojson::object o;
  o["status"] = status ? picojson::value(static_cast<double>(*status)) : picojson::value();
  o["before"] = VersionJson(before);
  o["after"] = after ? VersionJson(*after) : picojson::value();
  o["file"] = VersionJson(file);
  return o;
}

}  // namespace qs::cli
