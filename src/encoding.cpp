#include "encoding.h"

#include <cstdint>

// Sequence length by lead byte: 0x00-0xBF one byte, 0xC0-0xDF two, 0xE0-0xEF
// three, 0xF0-0xF7 four, 0xF8-0xFB five, 0xFC-0xFF six.
static int trailing_bytes(uint8_t lead) {
  if (lead < 0xC0) return 0;
  if (lead < 0xE0) return 1;
  if (lead < 0xF0) return 2;
  if (lead < 0xF8) return 3;
  if (lead < 0xFC) return 4;
  return 5;
}

static bool legal_sequence(const uint8_t *s, int length) {
  uint8_t lead = s[0];
  switch (length) {
    default: return false;  // five and six byte forms are never legal
    case 4:
      if (s[3] < 0x80 || s[3] > 0xBF) return false;
      [[fallthrough]];
    case 3:
      if (s[2] < 0x80 || s[2] > 0xBF) return false;
      [[fallthrough]];
    case 2: {
      uint8_t a = s[1];
      if (a > 0xBF) return false;
      switch (lead) {
        case 0xE0: if (a < 0xA0) return false; break;
        case 0xF0: if (a < 0x90) return false; break;
        case 0xF4: if (a > 0x8F) return false; break;
        default: if (a < 0x80) return false;
      }
    }
      [[fallthrough]];
    case 1:
      if (lead >= 0x80 && lead < 0xC2) return false;
  }
  return lead <= 0xF4;
}

int vorn_bson_utf8_check(const char *text, size_t length) {
  const uint8_t *s = reinterpret_cast<const uint8_t *>(text);
  size_t i = 0;
  while (i < length) {
    int seq = trailing_bytes(s[i]) + 1;
    if (i + seq > length || !legal_sequence(s + i, seq)) return -1;
    i += seq;
  }
  return 0;
}
