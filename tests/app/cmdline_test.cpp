// The command line as the program's entry reads it, and the cursor scanner it
// is read with.
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
