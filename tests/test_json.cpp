#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nxjson.h"
#include "vorn_json.h"

namespace {

// A parsed text and its tree, released together.
struct Parsed {
  std::vector<char> text;
  const nx_json *root;
  std::string err;
  explicit Parsed(const std::string &t) : text(t.begin(), t.end()) {
    text.push_back('\0');
    testing::internal::CaptureStderr();
    root = nx_json_parse(text.data(), nullptr);
    err = testing::internal::GetCapturedStderr();
  }
  ~Parsed() { nx_json_free(root); }
};

TEST(Json, NestingPathsAndLengths) {
  Parsed p(R"({"a":{"b":[1,2]}, "s":"x", "t":true, "f":false, "n":null} {"ignored":1})");
  ASSERT_NE(p.root, nullptr) << p.err;
  EXPECT_EQ(p.root->type, NX_JSON_OBJECT);
  EXPECT_EQ(p.root->length, 5);
  const nx_json *b = json_get_item_by_path(p.root, "a.b");
  EXPECT_EQ(b->type, NX_JSON_ARRAY);
  EXPECT_EQ(b->length, 2);
  EXPECT_EQ(nx_json_item(b, 1)->int_value, 2);
  EXPECT_EQ(nx_json_item(b, 2)->type, NX_JSON_NULL);  // past the end
  EXPECT_EQ(json_get_item_by_path(p.root, ".a..b."), b);
  EXPECT_EQ(json_get_item_by_path(p.root, ""), p.root);
  EXPECT_EQ(json_get_bool_by_path(p.root, "t"), 1);
  EXPECT_EQ(json_get_bool_by_path(p.root, "f"), 0);
  EXPECT_EQ(nx_json_get(p.root, "ignored")->type, NX_JSON_NULL);
}

TEST(Json, MissingPathsUseTheNotFoundNode) {
  Parsed p(R"({"a":{"b":"text"}})");
  char buf[8] = "junk";
  EXPECT_EQ(json_get_str_by_path(p.root, "a.x.y", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(json_get_bool_by_path(p.root, "nope"), -1);
  EXPECT_EQ(json_get_long_by_path(p.root, "a.b.c"), 0);
  EXPECT_EQ(json_get_str_by_path(p.root, "a.b", buf, 3), 1);
  EXPECT_STREQ(buf, "te");  // cut to the buffer
  EXPECT_EQ(nx_json_get(nullptr, "a")->type, NX_JSON_NULL);
  EXPECT_EQ(json_get_item_by_path(nullptr, "a")->type, NX_JSON_NULL);
}

TEST(Json, Numbers) {
  Parsed p(R"([10, 2.5, 1e3, -7, 9007199254740993, 99999999999999999999, 0x1f])");
  ASSERT_NE(p.root, nullptr) << p.err;
  struct Case {
    nx_json_type type;
    int64_t i;
    double d;
  };
  const Case cases[] = {{NX_JSON_INTEGER, 10, 10.0},
                        {NX_JSON_DOUBLE, 2, 2.5},
                        {NX_JSON_DOUBLE, 1, 1000.0},
                        {NX_JSON_INTEGER, -7, -7.0},
                        {NX_JSON_INTEGER, 9007199254740993LL, 9007199254740992.0},
                        {NX_JSON_INTEGER, INT64_MAX, (double)INT64_MAX},
                        {NX_JSON_INTEGER, 31, 31.0}};
  for (int i = 0; i < 7; i++) {
    const nx_json *n = nx_json_item(p.root, i);
    EXPECT_EQ(n->type, cases[i].type) << i;
    EXPECT_EQ(n->int_value, cases[i].i) << i;
    EXPECT_DOUBLE_EQ(n->dbl_value, cases[i].d) << i;
  }
}

TEST(Json, StringsCommentsAndEscapes) {
  Parsed p("{ // a line comment\n \"a\" : \"x\\\"y\\\\z\\n\\u00e9\\q\", /* block */ \"b\":[]}");
  ASSERT_NE(p.root, nullptr) << p.err;
  EXPECT_STREQ(nx_json_get(p.root, "a")->text_value, "x\"y\\z\n\\u00e9\\q");
  EXPECT_EQ(nx_json_get(p.root, "b")->length, 0);
}

TEST(Json, ErrorsAreReportedAndReturnNull) {
  struct Case {
    const char *text;
    const char *message;
  };
  const Case cases[] = {
      {"{\"a\":\"open", "NXJSON PARSE ERROR (line 174): no closing quote for string at \"open\n"},
      {"", "NXJSON PARSE ERROR (line 246): unexpected end of text at \n"},
      {"{\"a\" 1}", "NXJSON PARSE ERROR (line 204): unexpected chars at 1}\n"},
      {"tru", "NXJSON PARSE ERROR (line 308): unexpected chars at tru\n"},
      {"{\"a\":1", "NXJSON PARSE ERROR (line 237): unexpected chars at \n"},
      {"// no end", "NXJSON PARSE ERROR (line 330): endless comment at // no end\n"},
      {"/* no end", "NXJSON PARSE ERROR (line 188): endless comment at /* no end\n"},
      {"-x", "NXJSON PARSE ERROR (line 286): invalid number at -x\n"},
      {"@", "NXJSON PARSE ERROR (line 345): unexpected chars at @\n"},
  };
  for (const Case &c : cases) {
    Parsed p(c.text);
    EXPECT_EQ(p.root, nullptr) << c.text;
    EXPECT_EQ(p.err, c.message) << c.text;
  }
  Parsed deep(std::string(100000, '['));
  EXPECT_EQ(deep.root, nullptr);  // refused, not a stack overflow
}

TEST(Json, ColumnSum) {
  Parsed p(R"({"a":{"count":2},"b":{"count":40},"c":{"other":1}})");
  int err = -1;
  EXPECT_EQ(json_column_sum(p.root, "count", &err), 42);
  EXPECT_EQ(err, 1);
  Parsed q(R"({"a":{"count":2},"b":{"count":40}})");
  EXPECT_EQ(json_column_sum(q.root, "count", &err), 42);
  EXPECT_EQ(err, 0);
  EXPECT_EQ(json_column_sum(nx_json_get(q.root, "a"), "count", &err), 0);  // children are no objects
  EXPECT_EQ(err, 1);
  EXPECT_EQ(json_column_sum(nullptr, "count", &err), 0);
  EXPECT_EQ(err, 1);
}

}  // namespace
