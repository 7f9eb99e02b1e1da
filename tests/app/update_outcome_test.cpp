// When a firmware update counts as done: only a status of 1 or 0 with the
// device back at the file's version; and every status the library can end an
// update with has words of its own.
#include <gtest/gtest.h>

#include "app/logic/update_outcome.h"

using namespace qs::app;

namespace {
const Version kFile{1, 250};
}  // namespace

TEST(UpdateOutcomeTest, SuccessNeedsTheDeviceBackWithTheFilesVersion) {
  EXPECT_EQ(JudgeUpdate(1, true, Version{1, 250}, kFile), UpdateVerdict::Done);
  EXPECT_EQ(JudgeUpdate(0, true, Version{1, 250}, kFile), UpdateVerdict::Done);
  // "written" but another version reported: no success
  EXPECT_EQ(JudgeUpdate(1, true, Version{1, 100}, kFile), UpdateVerdict::OtherVersion);
  EXPECT_EQ(JudgeUpdate(0, true, Version{2, 250}, kFile), UpdateVerdict::OtherVersion);
  EXPECT_EQ(JudgeUpdate(1, false, Version{}, kFile), UpdateVerdict::NotBack);
  // an error is an error whatever the device says afterwards
  EXPECT_EQ(JudgeUpdate(-7, true, Version{1, 250}, kFile), UpdateVerdict::Failed);
  EXPECT_EQ(JudgeUpdate(-25, false, Version{}, kFile), UpdateVerdict::Failed);
  EXPECT_EQ(JudgeUpdate(2, true, Version{1, 250}, kFile), UpdateVerdict::Failed);
}

TEST(UpdateOutcomeTest, EveryFinalStatusHasItsOwnMeaning) {
  const int32_t known[] = {1, 0, -7, -9, -18, -19, -20, -21, -22, -23, -24, -25, -26, -27, -28, -29, -100, -104, -105, -107};
  for (int32_t a : known) {
    EXPECT_NE(UpdateResultMeaning(a), "unexpected status") << a;
    for (int32_t b : known) {
      if (a != b) {
        EXPECT_NE(UpdateResultMeaning(a), UpdateResultMeaning(b)) << a << " " << b;
      }
    }
  }
  EXPECT_EQ(UpdateResultMeaning(-1), "unexpected status");
  EXPECT_EQ(UpdateResultMeaning(-106), "unexpected status");
  for (int32_t st : {-100, -200, -500, -501, -502, -503}) EXPECT_NE(FirmwareFileMeaning(st), "unexpected status") << st;
  for (int32_t st : {-100, -101, -102, -103}) EXPECT_NE(UpdateStartMeaning(st), "unexpected status") << st;
  EXPECT_EQ(UpdateStartMeaning(-104), "unexpected status");
}

TEST(UpdateOutcomeTest, VersionsReadAsTheLibraryWritesThem) {
  EXPECT_EQ(VersionText(Version{1, 5}), "1.005");
  EXPECT_EQ(VersionText(Version{1, 250}), "1.250");
  EXPECT_EQ(VersionText(Version{4294967295u, 1000}), "4294967295.1000");
}
