#pragma once
// UTF-8 well-formedness of keys and string values written into a report.

#include <cstddef>

// 0 when the length bytes of text are well-formed UTF-8, -1 otherwise.
int vorn_bson_utf8_check(const char *text, size_t length);
