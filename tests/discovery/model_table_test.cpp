#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "discovery/model_table.h"

namespace qs::disc {
namespace {

const ModelRow* ByCode(const char* s, size_t* n = nullptr) {
  return FindModelByCode(reinterpret_cast<const uint8_t*>(s), std::strlen(s), n);
}

TEST(ModelTable, SeventeenRowsWithTheFlagsThatDecideBehaviour) {
  ASSERT_EQ(ModelCount(), 17u);
  std::vector<int32_t> web, listed, kvxr;
  for (size_t i = 0; i < ModelCount(); ++i) {
    const ModelRow& r = ModelAt(i);
    EXPECT_LE(std::strlen(r.code), kModelCodeMax);
    if (r.webPage) web.push_back(r.modelNumber);
    if (r.listed) listed.push_back(r.modelNumber);
    if (r.networkSetup && r.wink) kvxr.push_back(r.modelNumber);
    EXPECT_EQ(r.networkSetup != 0, IsKvxrModel(r.modelNumber));
  }
  EXPECT_EQ(web, (std::vector<int32_t>{4, 5, 10, 11}));
  EXPECT_EQ(listed.size(), 11u);
  EXPECT_EQ(kvxr, (std::vector<int32_t>{12, 13, 14}));
  for (size_t i = 0; i < 6; ++i) EXPECT_FALSE(ModelAt(i).listed) << ModelAt(i).code;
}

TEST(ModelTable, CodeLookupTakesTheFirstPrefixInTableOrder) {
  size_t n = 0;
  EXPECT_STREQ(ByCode("QMAJJ10.0.0.1", &n)->displayName, "QMA-11JJ");
  EXPECT_EQ(n, 5u);
  EXPECT_STREQ(ByCode("QMAXYZ", &n)->displayName, "QMA-99");
  EXPECT_EQ(n, 3u);
  EXPECT_STREQ(ByCode("QMA11")->displayName, "QMA-11");
  EXPECT_STREQ(ByCode("KV1R")->displayName, "KV-1R");
  EXPECT_EQ(ByCode("KV1R")->modelNumber, 14);
  EXPECT_EQ(ByCode("A5411+")->modelNumber, 10);
  EXPECT_EQ(ByCode("XYZ"), nullptr);
  EXPECT_EQ(ByCode("kv1r"), nullptr);
}

TEST(ModelTable, CodeLookupNeverReadsPastTheInput) {
  // "KV1" is three bytes of a longer buffer: the row "KV1R" needs four.
  const uint8_t buf[] = {'K', 'V', '1', 'R'};
  EXPECT_EQ(FindModelByCode(buf, 3), nullptr);
  EXPECT_NE(FindModelByCode(buf, 4), nullptr);
  const uint8_t q[] = {'Q', 'M', 'A', '2', '7'};  // "QMA271" cut short falls to "QMA"
  EXPECT_STREQ(FindModelByCode(q, 5)->code, "QMA");
  EXPECT_EQ(FindModelByCode(q, 2), nullptr);
  EXPECT_EQ(FindModelByCode(nullptr, 0), nullptr);
}

TEST(ModelTable, NameLookupIsAPrefixMatchInTableOrderAndCaseSensitive) {
  EXPECT_STREQ(FindModelByName("QMA-11JJ")->displayName, "QMA-11");
  EXPECT_STREQ(FindModelByName("QMA-2351BR")->displayName, "QMA-2351B");
  EXPECT_STREQ(FindModelByName("QMA-991BR")->displayName, "QMA-99");
  EXPECT_STREQ(FindModelByName(" \tKV-2R")->displayName, "KV-2R");
  EXPECT_EQ(FindModelByName("kv-2r"), nullptr);
  EXPECT_EQ(FindModelByName("KV-"), nullptr);
  EXPECT_EQ(FindModelByName(""), nullptr);
}

void AddName(const std::u16string& n, void* ctx) { static_cast<std::vector<std::u16string>*>(ctx)->push_back(n); }

TEST(ModelTable, EnumeratesDisplayNamesInOrderAsWideText) {
  std::vector<std::u16string> names;
  EnumModelNames(AddName, &names);
  ASSERT_EQ(names.size(), 17u);
  EXPECT_EQ(names.front(), u"QMA-2711");
  EXPECT_EQ(names[9], u"QMA-2351BR");
  EXPECT_EQ(names.back(), u"KV-1R");
}

}  // namespace
}  // namespace qs::disc
