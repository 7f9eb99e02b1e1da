// The command line as the program's entry reads it, and the scanner that the
// KV-xR page uses on the library's device lines.
#include <gtest/gtest.h>

#include "app/logic/cmdline.h"

using qs::app::AnswerKind;
using qs::app::CommandLine;
using qs::app::ParseCommandLine;
using qs::app::TextScanner;

TEST(CommandLineTest, EmptyAndBlankLinesStartTheProgram) {
  CommandLine c;
  ASSERT_TRUE(ParseCommandLine("", c));
  EXPECT_FALSE(c.stop);
  EXPECT_FALSE(c.kill);
  EXPECT_TRUE(c.discoveryMode);
  ASSERT_TRUE(ParseCommandLine(" \t  ", c));
  EXPECT_FALSE(c.stop);
}

TEST(CommandLineTest, OptionsCombineInBothSpellings) {
  CommandLine c;
  ASSERT_TRUE(ParseCommandLine("-xp /kill", c));
  EXPECT_FALSE(c.discoveryMode);
  EXPECT_TRUE(c.kill);
  EXPECT_FALSE(c.stop);
  ASSERT_TRUE(ParseCommandLine("/xp", c));
  EXPECT_FALSE(c.discoveryMode);
  EXPECT_FALSE(c.kill);
}

TEST(CommandLineTest, KeywordNeedsNothingAfterIt) {
  CommandLine c;
  // "-xp-kill" is "-xp" and then "-kill".
  ASSERT_TRUE(ParseCommandLine("-xp-kill", c));
  EXPECT_FALSE(c.discoveryMode);
  EXPECT_TRUE(c.kill);
  // "-xpz": the "z" is a token of its own, and no option.
  EXPECT_FALSE(ParseCommandLine("-xpz", c));
}

TEST(CommandLineTest, UnknownTokensAndWrongCaseFail) {
  CommandLine c;
  EXPECT_FALSE(ParseCommandLine("-help", c));
  EXPECT_FALSE(ParseCommandLine("-XP", c));
  EXPECT_FALSE(ParseCommandLine("-xp bogus", c));
  EXPECT_FALSE(ParseCommandLine("xp", c));
}

TEST(CommandLineTest, VersionTakesQuotedOrBareFileAndStops) {
  CommandLine c;
  ASSERT_TRUE(ParseCommandLine("-version \"C:\\my dir\\v.txt\" -kill", c));
  EXPECT_TRUE(c.stop);
  EXPECT_EQ(c.answer, AnswerKind::Version);
  EXPECT_EQ(c.file, "C:\\my dir\\v.txt");
  EXPECT_FALSE(c.kill) << "parsing ends at -version";

  ASSERT_TRUE(ParseCommandLine("/version out.txt", c));
  EXPECT_EQ(c.answer, AnswerKind::Version);
  EXPECT_EQ(c.file, "out.txt");

  // An unclosed quote is read as a bare token from the quote on.
  ASSERT_TRUE(ParseCommandLine("-version \"abc def", c));
  EXPECT_EQ(c.file, "\"abc");
}

TEST(CommandLineTest, VersionWithoutFileStopsAndWritesNothing) {
  CommandLine c;
  ASSERT_TRUE(ParseCommandLine("-version", c));
  EXPECT_TRUE(c.stop);
  EXPECT_EQ(c.answer, AnswerKind::None);
  ASSERT_TRUE(ParseCommandLine("-version   ", c));
  EXPECT_EQ(c.answer, AnswerKind::None);
  // An empty quoted name is still a name (an empty one): the file cannot be made.
  ASSERT_TRUE(ParseCommandLine("-version \"\"", c));
  EXPECT_EQ(c.answer, AnswerKind::Version);
  EXPECT_EQ(c.file, "");
}

TEST(CommandLineTest, StringNeedsDigitsRightAfterTheOption) {
  CommandLine c;
  ASSERT_TRUE(ParseCommandLine("-string128 name.txt", c));
  EXPECT_EQ(c.answer, AnswerKind::String);
  EXPECT_EQ(c.stringId, 128u);
  EXPECT_EQ(c.file, "name.txt");

  ASSERT_TRUE(ParseCommandLine("-string 128 name.txt", c));
  EXPECT_TRUE(c.stop);
  EXPECT_EQ(c.answer, AnswerKind::None);

  ASSERT_TRUE(ParseCommandLine("/string131", c));
  EXPECT_TRUE(c.stop);
  EXPECT_EQ(c.answer, AnswerKind::None) << "no file name";

  // The file name may follow the digits at once.
  ASSERT_TRUE(ParseCommandLine("-string7\"a b\"", c));
  EXPECT_EQ(c.stringId, 7u);
  EXPECT_EQ(c.file, "a b");
}

TEST(CommandLineTest, StringIdBeyondSixteenBitsNamesNoString) {
  CommandLine c;
  ASSERT_TRUE(ParseCommandLine("-string99999999999999999999 f.txt", c));
  EXPECT_EQ(c.answer, AnswerKind::String);
  EXPECT_FALSE(c.stringIdInRange);
  EXPECT_EQ(c.file, "f.txt");
  ASSERT_TRUE(ParseCommandLine("-string65535 f.txt", c));
  EXPECT_TRUE(c.stringIdInRange);
  EXPECT_EQ(c.stringId, 65535u);
}

TEST(TextScannerTest, Addresses) {
  uint32_t a = 0;
  TextScanner ok("192.168.1.23rest");
  ASSERT_TRUE(ok.ReadIPv4(a));
  EXPECT_EQ(a, 0xC0A80117u);
  EXPECT_EQ(ok.Rest(), "rest");

  for (const char* bad : {"256.1.1.1", "1.2.3", "1..2.3", " 1.2.3.4", "1.2.3.", "a.b.c.d"}) {
    TextScanner s(bad);
    EXPECT_FALSE(s.ReadIPv4(a)) << bad;
    EXPECT_EQ(s.Offset(), 0u) << "a failed read leaves the cursor: " << bad;
  }
}

TEST(TextScannerTest, MacsWithEitherSeparatorAndCase) {
  uint8_t m[6];
  TextScanner s("00:1a-2B:3c:4D:ff");
  ASSERT_TRUE(s.ReadMac(m));
  const uint8_t want[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFF};
  EXPECT_EQ(0, memcmp(m, want, 6));
  for (const char* bad : {"00:11:22:33:44", "0:11:22:33:44:55", "00:11:22:33:44:5g", "00.11.22.33.44.55"}) {
    TextScanner b(bad);
    EXPECT_FALSE(b.ReadMac(m)) << bad;
    EXPECT_EQ(b.Offset(), 0u);
  }
}

TEST(TextScannerTest, FieldsAndNumbers) {
  TextScanner s("a|bb||c");
  EXPECT_EQ(s.ReadField('|'), "a");
  EXPECT_EQ(s.ReadField('|'), "bb");
  EXPECT_EQ(s.ReadField('|'), "");
  EXPECT_EQ(s.ReadField('|'), "c");
  EXPECT_TRUE(s.AtEnd());
  EXPECT_EQ(s.ReadField('|'), "");

  uint32_t n = 0;
  TextScanner big("4294967296");
  EXPECT_FALSE(big.ReadNumber(n)) << "does not wrap";
  TextScanner max("4294967295x");
  ASSERT_TRUE(max.ReadNumber(n));
  EXPECT_EQ(n, 4294967295u);
}
