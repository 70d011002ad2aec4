#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "bson.h"
#include "bson_check.h"

namespace {

std::vector<uint8_t> bytes(const bson *b) {
  const auto *p = reinterpret_cast<const uint8_t *>(vorn_bson_data(b));
  return {p, p + vorn_bson_size(b)};
}

TEST(BsonWriter, EmptyDocumentIsFiveBytes) {
  vorn_bson_doc d;
  ASSERT_EQ(vorn_bson_finish(d.get()), 0);
  EXPECT_EQ(bytes(d.get()), (std::vector<uint8_t>{5, 0, 0, 0, 0}));
  EXPECT_EQ(bson_json(d.get()), "{ }");
}

TEST(BsonWriter, EveryTypeReadsBackInOrder) {
  vorn_bson_doc d;
  bson *b = d.get();
  EXPECT_EQ(vorn_bson_append_int(b, "i", -7), 0);
  EXPECT_EQ(vorn_bson_append_long(b, "l", 1LL << 40), 0);
  EXPECT_EQ(vorn_bson_append_double(b, "d", 12.5), 0);
  EXPECT_EQ(vorn_bson_append_string(b, "s", "caf\xc3\xa9"), 0);
  EXPECT_EQ(vorn_bson_append_start_object(b, "empty"), 0);
  EXPECT_EQ(vorn_bson_append_finish_object(b), 0);
  EXPECT_EQ(vorn_bson_append_start_array(b, "arr"), 0);
  EXPECT_EQ(vorn_bson_append_finish_array(b), 0);
  EXPECT_EQ(vorn_bson_append_start_object(b, "o"), 0);
  EXPECT_EQ(vorn_bson_append_start_array(b, "a"), 0);
  EXPECT_EQ(vorn_bson_append_int(b, "eth0", 1), 0);  // array keys are the caller's
  EXPECT_EQ(vorn_bson_append_finish_array(b), 0);
  EXPECT_EQ(vorn_bson_append_finish_object(b), 0);
  EXPECT_EQ(vorn_bson_append_string(b, "a.b", "dot"), 0);
  EXPECT_EQ(vorn_bson_append_string(b, "$x", "dollar"), 0);
  ASSERT_EQ(vorn_bson_finish(b), 0);
  EXPECT_EQ(b->err, BSON_FIELD_HAS_DOT | BSON_FIELD_INIT_DOLLAR);
  EXPECT_EQ(bson_json(b),
            "{ \"i\" : { \"$numberInt\" : \"-7\" }, \"l\" : { \"$numberLong\" : \"1099511627776\" }, "
            "\"d\" : { \"$numberDouble\" : \"12.5\" }, \"s\" : \"caf\xc3\xa9\", \"empty\" : {  }, \"arr\" : [  ], "
            "\"o\" : { \"a\" : [ { \"$numberInt\" : \"1\" } ] }, \"a.b\" : \"dot\", \"$x\" : \"dollar\" }");
  // An empty embedded document and an empty array are five bytes of value.
  const auto raw = bytes(b);
  const std::vector<uint8_t> empty_obj = {3, 'e', 'm', 'p', 't', 'y', 0, 5, 0, 0, 0, 0};
  EXPECT_NE(std::search(raw.begin(), raw.end(), empty_obj.begin(), empty_obj.end()), raw.end());
}

TEST(BsonWriter, GrowsByHalfAgainOfWhatIsNeeded) {
  vorn_bson_doc d;
  bson *b = d.get();
  std::string value(200, 'v');
  ASSERT_EQ(vorn_bson_append_string(b, "k", value.c_str()), 0);
  int needed = 1 + 2 + 200 + 5;
  EXPECT_EQ(b->dataSize, (needed + 128) * 3 / 2);
  EXPECT_EQ(vorn_bson_ensure_space(b, 10), 0);
  EXPECT_EQ(b->dataSize, (needed + 128) * 3 / 2);  // still room: no growth
}

TEST(BsonWriter, RefusesSizesBeyondInt32) {
  bson b{};
  char byte[8];
  b.data = byte;
  b.cur = byte + 4;
  b.dataSize = 8;
  EXPECT_EQ(vorn_bson_ensure_space(&b, INT_MAX - 8), -1);
  EXPECT_EQ(b.err, BSON_SIZE_OVERFLOW);
}

TEST(BsonWriter, InvalidUtf8IsLeftOutAndTheDocumentStaysWhole) {
  struct Case {
    const char *text;
    bool valid;
  };
  const Case cases[] = {
      {"plain", true},         {"\xc3\xa9", true},         {"\xe2\x82\xac", true},  {"\xf0\x9f\x98\x80", true},
      {"", true},              {"\xc3\x28", false},        {"\xc0\xaf", false},     {"\xe0\x80\xaf", false},
      {"\xed\xa0\x80x", true}, {"\xf4\x90\x80\x80", false}, {"\xf8\x88\x80\x80\x80", false},
      {"\x80", false},         {"ab\xe2\x82", false},       {"\xf5\x80\x80\x80", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    vorn_bson_doc d;
    bson *b = d.get();
    vorn_bson_append_int(b, "before", 1);
    EXPECT_EQ(vorn_bson_append_string(b, "value", c.text), c.valid ? 0 : -1);
    EXPECT_EQ(vorn_bson_append_int(b, c.text, 2), c.valid ? 0 : -1);
    vorn_bson_append_int(b, "after", 3);
    ASSERT_EQ(vorn_bson_finish(b), 0);
    EXPECT_EQ((b->err & BSON_NOT_UTF8) != 0, !c.valid);
    const auto raw = bytes(b);
    EXPECT_EQ(bson_keys(raw.data(), raw.size()),
              c.valid ? "before,value," + std::string(c.text) + ",after" : "before,after");
    bson_json(b);  // validates
  }
}

TEST(BsonWriter, RefusedSubDocumentIsSkippedWhole) {
  vorn_bson_doc d;
  bson *b = d.get();
  vorn_bson_append_start_object(b, "mounts");
  vorn_bson_append_start_object(b, "/ok");
  vorn_bson_append_int(b, "free", 1);
  vorn_bson_append_finish_object(b);
  EXPECT_EQ(vorn_bson_append_start_object(b, "/bad\xff"), -1);
  EXPECT_EQ(vorn_bson_append_int(b, "free", 2), -1);
  EXPECT_EQ(vorn_bson_append_start_array(b, "inner"), -1);
  EXPECT_EQ(vorn_bson_append_finish_array(b), -1);
  EXPECT_EQ(vorn_bson_append_finish_object(b), -1);
  vorn_bson_append_start_object(b, "/also");
  vorn_bson_append_int(b, "free", 3);
  vorn_bson_append_finish_object(b);
  vorn_bson_append_finish_object(b);
  vorn_bson_append_int(b, "top", 4);
  ASSERT_EQ(vorn_bson_finish(b), 0);
  EXPECT_EQ(bson_json(b),
            "{ \"mounts\" : { \"/ok\" : { \"free\" : { \"$numberInt\" : \"1\" } }, \"/also\" : { \"free\" : { "
            "\"$numberInt\" : \"3\" } } }, \"top\" : { \"$numberInt\" : \"4\" } }");
}

TEST(BsonWriter, NestingLimitsAndFinishRules) {
  vorn_bson_doc d;
  bson *b = d.get();
  EXPECT_EQ(vorn_bson_append_finish_object(b), -1);  // nothing open
  for (int i = 0; i < 32; i++) ASSERT_EQ(vorn_bson_append_start_object(b, "n"), 0);
  EXPECT_EQ(vorn_bson_append_start_object(b, "too_deep"), -1);
  EXPECT_EQ(vorn_bson_append_int(b, "lost", 1), -1);
  EXPECT_EQ(vorn_bson_finish(b), -1);  // levels still open
  EXPECT_EQ(vorn_bson_append_finish_object(b), -1);  // closes the refused level
  for (int i = 0; i < 32; i++) ASSERT_EQ(vorn_bson_append_finish_object(b), 0);
  EXPECT_EQ(vorn_bson_append_finish_object(b), -1);
  ASSERT_EQ(vorn_bson_finish(b), 0);
  bson_json(b);
  EXPECT_EQ(vorn_bson_finish(b), 0);  // finishing twice is harmless
  EXPECT_EQ(vorn_bson_append_int(b, "late", 1), -1);
  EXPECT_TRUE(b->err & BSON_ALREADY_FINISHED);
}

TEST(BsonWriter, SizeOfUnfinishedOrDestroyedDocumentIsZero) {
  bson *b = vorn_bson_create();
  vorn_bson_init(b);
  vorn_bson_append_int(b, "x", 1);
  EXPECT_EQ(vorn_bson_size(b), 0);
  vorn_bson_destroy(b);
  EXPECT_EQ(vorn_bson_size(b), 0);
  EXPECT_EQ(b->data, nullptr);
  vorn_bson_destroy(nullptr);
  vorn_bson_free(b);
}

TEST(BsonWriter, DebugPrinterFormatAndSecretsHidden) {
  vorn_bson_doc d;
  bson *b = d.get();
  vorn_bson_append_int(b, "id", 42);
  vorn_bson_append_string(b, "project_secret", "TopSecret");
  vorn_bson_append_double(b, "lavg", 0.5);
  vorn_bson_append_long(b, "big", -5000000000LL);
  vorn_bson_append_start_object(b, "cpu");
  vorn_bson_append_int(b, "ok", 1);
  vorn_bson_append_finish_object(b);
  vorn_bson_finish(b);
  testing::internal::CaptureStdout();
  vorn_bson_print_raw(vorn_bson_data(b), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\tid : 16 \t 42\n"
            "\tproject_secret : 2 \t ***\n"
            "\tlavg : 1 \t 0.500000\n"
            "\tbig : 18 \t -5000000000\n"
            "\tcpu : 3 \t \n"
            "\t\tok : 16 \t 1\n"
            "\n");
}

}  // namespace
