#pragma once
// Fixed-capacity lists of named entries (disk devices, network interfaces):
// entries 0 to count-1 are in use, each with a device name and an index
// counted from 1.

#include <cstdint>
#include <cstring>
#include <string_view>

#include "vorn_text.h"

template <typename E, size_t N>
const E *vorn_named_find(const E (&list)[N], uint8_t count, std::string_view name) {
  for (unsigned i = 0; i < count && i < N; i++)
    if (name == list[i].device) return &list[i];
  return nullptr;
}

template <typename E, size_t N>
E *vorn_named_find(E (&list)[N], uint8_t count, std::string_view name) {
  return const_cast<E *>(vorn_named_find(static_cast<const E(&)[N]>(list), count, name));
}

// Appends a zero-filled entry with the name; null when the list is full.
template <typename E, size_t N>
E *vorn_named_add(E (&list)[N], uint8_t &count, std::string_view name) {
  static_assert(N <= 255, "the count is 8 bits wide");
  if (count >= N) return nullptr;
  E &e = list[count];
  memset(&e, 0, sizeof e);
  e.index = ++count;
  vorn_copy(e.device, name);
  return &e;
}
