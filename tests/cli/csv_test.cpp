// The CSV writer against what a spreadsheet program (RFC 4180) reads back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/support_csv.h"

namespace qs::cli {
namespace {

// An independent RFC 4180 reader: records of fields, CR LF between records.
std::vector<std::vector<std::string>> Read(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> fields;
  std::string cur;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        cur += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cur += c;
      }
    } else if (c == '"') {
      EXPECT_TRUE(cur.empty()) << "a quote inside an unquoted field";
      quoted = true;
    } else if (c == ',') {
      fields.push_back(cur);
      cur.clear();
    } else if (c == '\r') {
      EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "a bare CR outside quotes";
      fields.push_back(cur);
      cur.clear();
      records.push_back(fields);
      fields.clear();
      ++i;
    } else {
      EXPECT_NE(c, '\n') << "a bare LF outside quotes";
      cur += c;
    }
  }
  EXPECT_FALSE(quoted) << "unterminated quote";
  EXPECT_TRUE(cur.empty() && fields.empty()) << "the last record has no CR LF";
  return records;
}

TEST(Csv, PlainFieldsStayAsTheyAre) {
  EXPECT_EQ(CsvRecord({"KV-1R", "14", "10.71.1.30", "", "A5411+"}), "KV-1R,14,10.71.1.30,,A5411+\r\n");
  EXPECT_EQ(CsvRecord({}), "\r\n");
}

TEST(Csv, CommasQuotesAndLineBreaksAreQuoted) {
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("two\r\nlines"), "\"two\r\nlines\"");
  EXPECT_EQ(CsvField("lf\nonly"), "\"lf\nonly\"");
  EXPECT_EQ(CsvField("\""), "\"\"\"\"");
  const std::vector<std::string> nasty = {"SN,1", "\"quoted\"", "a\"b,c", "line\r\nbreak", "", "plain", " spaced "};
  const std::vector<std::vector<std::string>> back = Read(CsvRecord(nasty) + CsvRecord({"x", "y"}));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0], nasty);
  EXPECT_EQ(back[1], (std::vector<std::string>{"x", "y"}));
}

// A serial is the device's own text: one that a spreadsheet would take for a
// formula is written so that it is shown, not run.
TEST(Csv, FormulasAreDefused) {
  EXPECT_EQ(CsvField("=1+2"), "'=1+2");
  EXPECT_EQ(CsvField("+1"), "'+1");
  EXPECT_EQ(CsvField("-1"), "'-1");
  EXPECT_EQ(CsvField("@SUM(A1)"), "'@SUM(A1)");
  EXPECT_EQ(CsvField("\tx"), "'\tx");
  EXPECT_EQ(CsvField("=HYPERLINK(\"x\",\"y\")"), "\"'=HYPERLINK(\"\"x\"\",\"\"y\"\")\"");
  // only at the start
  EXPECT_EQ(CsvField("A5411+"), "A5411+");
  EXPECT_EQ(CsvField("KV-SN-77"), "KV-SN-77");
  EXPECT_EQ(CsvField("a=b"), "a=b");
}

}  // namespace
}  // namespace qs::cli
