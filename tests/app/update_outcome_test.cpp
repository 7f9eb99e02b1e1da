// When a firmware update counts as done: only a status of 1 or 0 with the
// device back at the file's version.
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

TEST(UpdateOutcomeTest, VersionsReadAsTheLibraryWritesThem) {
  EXPECT_EQ(VersionText(Version{1, 5}), "1.005");
  EXPECT_EQ(VersionText(Version{1, 250}), "1.250");
  EXPECT_EQ(VersionText(Version{4294967295u, 1000}), "4294967295.1000");
}
