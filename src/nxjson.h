#pragma once
// A small lenient JSON reader that parses a text in place into a tree of
// nodes: strings and member names are unescaped where they lie, so the text
// must outlive the tree.

#include <cstdint>

enum nx_json_type {
  NX_JSON_NULL = 0,
  NX_JSON_OBJECT = 1,
  NX_JSON_ARRAY = 2,
  NX_JSON_STRING = 3,
  NX_JSON_INTEGER = 4,
  NX_JSON_DOUBLE = 5,
  NX_JSON_BOOL = 6,
};

struct nx_json {
  nx_json_type type;
  const char *key;
  const char *text_value;
  int64_t int_value;
  double dbl_value;
  int length;
  nx_json *child;
  nx_json *next;
  nx_json *last_child;
};

// Writes the code point of a \uXXXX escape at *p and advances it; 0 for an
// invalid code point. The agent passes none: such escapes stay as written.
typedef int (*nx_json_unicode_encoder)(unsigned int codepoint, char *p, char **endp);

// Deepest nesting a text may have; deeper texts are refused.
constexpr int NX_JSON_MAX_DEPTH = 512;

const nx_json *nx_json_parse(char *text, nx_json_unicode_encoder encoder);
void nx_json_free(const nx_json *js);
const nx_json *nx_json_get(const nx_json *json, const char *key);
const nx_json *nx_json_item(const nx_json *json, int idx);
