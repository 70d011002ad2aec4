#pragma once
// Lookups by dotted member path in a parsed JSON tree.

#include <cstddef>
#include <cstdint>

#include "nxjson.h"

// The node the path reaches (segments are member names; empty ones are
// skipped), or the not-found node.
const nx_json *json_get_item_by_path(const nx_json *json, const char *path);
// 1 with the string copied (cut to len - 1) when the path ends at a string;
// otherwise 0 with result empty.
int json_get_str_by_path(const nx_json *json, const char *path, char *result, size_t len);
// 1 or 0 for a boolean, -1 for anything else.
int json_get_bool_by_path(const nx_json *json, const char *path);
// The reached node's integer value, 0 when the path is missing.
int64_t json_get_long_by_path(const nx_json *json, const char *path);
// Total of an integer member over an object of objects; *error is 1 when
// the object is none, or a child lacks the member.
int64_t json_column_sum(const nx_json *object, const char *column, int *error);
