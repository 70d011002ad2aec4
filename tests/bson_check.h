#pragma once
// Reads documents back with libbson, an independent reader: every document a
// test builds is validated and turned into canonical JSON for comparison.

#include <bson/bson.h>
#include <gtest/gtest.h>

#include <string>

#include "bson.h"

// The document's JSON, or "" (with a test failure) when libbson rejects it.
inline std::string bson_json(const uint8_t *data, size_t len) {
  bson_t doc;
  if (!bson_init_static(&doc, data, len)) {
    ADD_FAILURE() << "libbson rejects the document header";
    return "";
  }
  size_t offset = 0;
  if (!bson_validate(&doc, BSON_VALIDATE_UTF8, &offset)) {
    ADD_FAILURE() << "bson_validate fails at offset " << offset;
    return "";
  }
  char *s = bson_as_canonical_extended_json(&doc, nullptr);
  std::string out = s ? s : "";
  bson_free(s);
  return out;
}

inline std::string bson_json(const bson *b) {
  return bson_json(reinterpret_cast<const uint8_t *>(vorn_bson_data(b)), (size_t)vorn_bson_size(b));
}

// Top-level keys in order, joined by ",".
inline std::string bson_keys(const uint8_t *data, size_t len) {
  bson_t doc;
  bson_iter_t it;
  std::string keys;
  if (!bson_init_static(&doc, data, len) || !bson_iter_init(&it, &doc)) return "<bad>";
  while (bson_iter_next(&it)) keys += std::string(keys.empty() ? "" : ",") + bson_iter_key(&it);
  return keys;
}
