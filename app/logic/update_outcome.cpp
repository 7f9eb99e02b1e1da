#include "app/logic/update_outcome.h"

#include <cstdio>

#include "library/KV-xR_update.h"

namespace qs::app {

UpdateVerdict JudgeUpdate(int32_t st, bool back, const Version& after, const Version& file) {
  if (st != KVXR_UPDATE_WRITTEN && st != KVXR_UPDATE_UP_TO_DATE) return UpdateVerdict::Failed;
  if (!back) return UpdateVerdict::NotBack;
  return after == file ? UpdateVerdict::Done : UpdateVerdict::OtherVersion;
}

std::string VersionText(const Version& v) {
  char b[32];
  std::snprintf(b, sizeof b, "%u.%03u", static_cast<unsigned>(v.major), static_cast<unsigned>(v.minor));
  return b;
}

}  // namespace qs::app
