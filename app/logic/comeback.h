// Waiting for a KV-xR device to come back after new network settings and a
// reboot: which report of the device shows that it did. A report from before
// the restart (a scan that heard the device while it was still up, a reply
// sent just before it went down) shows the old settings and is not taken;
// when the new settings equal the old ones nothing in a report tells old from
// new, so the device must first have been seen silent.
#pragma once
#include <cstdint>

#include "app/logic/kvxr_settings.h"

namespace qs::app {

class ComebackCheck {
 public:
  // before: the device's settings when they were sent; wanted: the settings
  // sent (the address fields count only for a static address).
  ComebackCheck(const RecordSettings& before, const NetSettings& wanted);

  // The result of one look for the device that any live device answers.
  void NoteProbe(bool answered);

  // Shows the wanted settings: the addressing mode, and for a static address
  // the device at that address with that netmask and gateway. known: the
  // report carries the device's settings (the program's own scan does not).
  bool ShowsWanted(bool known, const RecordSettings& r) const;
  // Taken as the device back with its new settings.
  bool Accept(bool known, const RecordSettings& r) const;

  bool sameAsBefore() const { return same_; }
  bool seenSilent() const { return silent_; }

 private:
  NetSettings wanted_;
  bool same_;
  bool silent_ = false;
};

}  // namespace qs::app
