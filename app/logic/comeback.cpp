#include "app/logic/comeback.h"

namespace qs::app {

namespace {
bool SameSettings(const RecordSettings& b, const NetSettings& w) {
  if (b.dhcp != w.dhcp) return false;
  if (w.dhcp) return true;
  return b.currentAddress == w.address && b.staticAddress == w.address && b.netmask == w.netmask &&
         b.gateway == w.gateway;
}
}  // namespace

ComebackCheck::ComebackCheck(const RecordSettings& before, const NetSettings& wanted)
    : wanted_(wanted), same_(SameSettings(before, wanted)) {}

void ComebackCheck::NoteProbe(bool answered) {
  if (!answered) silent_ = true;
}

bool ComebackCheck::ShowsWanted(bool known, const RecordSettings& r) const {
  if (!known || r.dhcp != wanted_.dhcp) return false;
  if (wanted_.dhcp) return true;
  return r.currentAddress == wanted_.address && r.staticAddress == wanted_.address && r.netmask == wanted_.netmask &&
         r.gateway == wanted_.gateway;
}

bool ComebackCheck::Accept(bool known, const RecordSettings& r) const {
  return ShowsWanted(known, r) && (!same_ || silent_);
}

}  // namespace qs::app
