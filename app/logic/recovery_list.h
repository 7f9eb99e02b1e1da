// The recovery dialog's list without its window: one row per unit found in
// recovery mode, what each event of the library's recovery callback does to
// it, and the rules for "Recover", the end of a batch and "Exit". The dialog
// mirrors the rows into its list view in the same order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qs::app {

struct RecoveryRow {
  int32_t handle = 0;  // the library's number of the unit in recovery
  uint32_t address = 0;
  uint8_t mac[6] = {};
  uint32_t major = 0, minor = 0;
  bool programming = false;  // "Recover" asked for it and it has not ended
  bool ready = false;        // the library reported it ready to program
  bool done = false;         // programmed, or already up to date
  bool checked = false;      // the row's check box
  std::string status;
};

// The unit's description of event 1: "a.b.c.d|XX:XX:XX:XX:XX:XX" (16-bit
// characters; anything beyond ASCII or off the format is refused).
bool ParseRecoveryDescription(std::u16string_view text, uint32_t& address, uint8_t mac[6]);

// What one recovery event changed, for the dialog to copy.
struct RecoveryChange {
  int added = -1;    // index of a new row
  int changed = -1;  // index of a row whose texts changed
  bool hideHint = false;
  bool batchEnded = false;  // every check box was cleared
};

class RecoveryList {
 public:
  RecoveryChange OnEvent(int32_t handle, std::u16string_view text, int32_t event, int32_t value);

  // The check box of a row changed (the list's item-changed notification).
  void SetChecked(size_t row, bool checked);
  // Rows that "Recover" would start: ticked, ready, not done and not being
  // programmed already.
  size_t RecoverableCount() const;
  // "Recover": the handles to resume; each row is marked programming until
  // its resume is refused (Refused) or the unit ends.
  std::vector<int32_t> StartRecover();
  void Refused(int32_t handle);
  // "Exit": the units not (yet) recovered; a non-zero count asks first.
  size_t NotDoneCount() const;

  const std::vector<RecoveryRow>& rows() const { return rows_; }
  static std::string VersionText(const RecoveryRow& r);

 private:
  int Find(int32_t handle) const;
  bool EndOfBatch();

  std::vector<RecoveryRow> rows_;
};

}  // namespace qs::app
