#include "app/logic/recovery_list.h"

#include <cstdio>
#include <cstring>

#include "library/recovery_text.h"

namespace qs::app {

bool ParseRecoveryDescription(std::u16string_view text, uint32_t& address, uint8_t mac[6]) {
  if (text.size() > qs::kvxr::kRecoveryTextMax) return false;
  char narrow[qs::kvxr::kRecoveryTextMax];
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == 0 || text[i] > 0x7F) return false;
    narrow[i] = static_cast<char>(text[i]);
  }
  return qs::kvxr::ParseRecoveryText(narrow, text.size(), &address, mac);
}

int RecoveryList::Find(int32_t handle) const {
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].handle == handle) return static_cast<int>(i);
  return -1;
}

RecoveryChange RecoveryList::OnEvent(int32_t handle, std::u16string_view text, int32_t event, int32_t value) {
  RecoveryChange c;
  if (event == 1) {
    RecoveryRow r;
    r.handle = handle;
    if (!ParseRecoveryDescription(text, r.address, r.mac)) return c;
    c.hideHint = true;
    for (size_t i = 0; i < rows_.size(); ++i) {
      RecoveryRow& old = rows_[i];
      if (std::memcmp(old.mac, r.mac, 6) != 0) continue;
      // The unit announced itself again (another interface, or back in its
      // boot loader after a recovery): the library answers only its newest
      // number, so the row takes it. A unit being programmed keeps its row.
      if (!old.programming) {
        old.handle = handle;
        old.address = r.address;
        old.ready = false;
        old.done = false;
        old.status.clear();
        c.changed = static_cast<int>(i);
      }
      return c;
    }
    rows_.push_back(r);
    c.added = static_cast<int>(rows_.size() - 1);
    return c;
  }
  const int i = Find(handle);
  if (i < 0) return c;
  RecoveryRow& r = rows_[static_cast<size_t>(i)];
  switch (event) {
    case 2:
      r.status = "Preparing ...(" + std::to_string(static_cast<uint32_t>(value)) + "%)";
      break;
    case 3:
      r.ready = true;
      r.status = "Ready to program";
      break;
    case 4:
      r.status = "In progress(" + std::to_string(static_cast<uint32_t>(value)) + "%)...";
      break;
    case 5:
    case 6:
    case 7:
      r.status = event == 5   ? std::string("Finished!")
                 : event == 6 ? std::string("Already up-to-date.")
                              : "Error! (" + std::to_string(value) + ")";
      r.programming = false;
      r.ready = false;
      r.done = event != 7;
      c.batchEnded = EndOfBatch();
      break;
    default:
      return c;
  }
  c.changed = i;
  return c;
}

bool RecoveryList::EndOfBatch() {
  for (const RecoveryRow& r : rows_)
    if (r.programming) return false;
  for (RecoveryRow& r : rows_) r.checked = false;
  return true;
}

void RecoveryList::SetChecked(size_t row, bool checked) {
  if (row < rows_.size()) rows_[row].checked = checked;
}

size_t RecoveryList::RecoverableCount() const {
  size_t n = 0;
  for (const RecoveryRow& r : rows_)
    if (r.checked && r.ready && !r.done && !r.programming) ++n;
  return n;
}

std::vector<int32_t> RecoveryList::StartRecover() {
  std::vector<int32_t> handles;
  for (RecoveryRow& r : rows_) {
    // A unit being programmed is not resumed again: the library would refuse,
    // and the row would stop counting as programming while it still is.
    if (!r.checked || r.programming) continue;
    r.programming = true;
    handles.push_back(r.handle);
  }
  return handles;
}

void RecoveryList::Refused(int32_t handle) {
  const int i = Find(handle);
  if (i >= 0) rows_[static_cast<size_t>(i)].programming = false;
}

size_t RecoveryList::NotDoneCount() const {
  size_t n = 0;
  for (const RecoveryRow& r : rows_)
    if (!r.done) ++n;
  return n;
}

std::string RecoveryList::VersionText(const RecoveryRow& r) {
  if (r.major == 0 && r.minor == 0) return std::string();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%u.%03u", r.major, r.minor);
  return buf;
}

}  // namespace qs::app
