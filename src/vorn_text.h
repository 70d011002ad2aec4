#pragma once
// Bounded text copies into fixed-size fields: the copy is cut to the field's
// capacity and always terminated.

#include <cstddef>
#include <cstring>
#include <string_view>

inline void vorn_copy_n(char *dst, size_t cap, std::string_view src) {
  if (cap == 0) return;
  size_t n = src.size() < cap - 1 ? src.size() : cap - 1;
  memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

template <size_t N>
inline void vorn_copy(char (&dst)[N], std::string_view src) {
  vorn_copy_n(dst, N, src);
}

template <size_t N>
inline void vorn_copy(unsigned char (&dst)[N], std::string_view src) {
  vorn_copy_n(reinterpret_cast<char *>(dst), N, src);
}

// Length of a text held in a fixed field, never reading past the field.
template <size_t N>
inline size_t vorn_field_len(const char (&field)[N]) {
  return strnlen(field, N);
}
