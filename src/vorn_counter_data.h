#pragma once
// Allocation of a counter's data records: zero-filled by init, released by
// free, pointers cleared.

#include <cstdlib>

#include "mycustom.h"

template <typename T>
inline bool vorn_alloc_records(vorn_mycustom_counter *c, bool with_history) {
  c->data = calloc(1, sizeof(T));
  if (with_history) {
    c->data_prev = calloc(1, sizeof(T));
    c->data_delta = calloc(1, sizeof(T));
  }
  return c->data && (!with_history || (c->data_prev && c->data_delta));
}

inline int32_t vorn_free_records(vorn_mycustom_counter *c) {
  free(c->data);
  free(c->data_prev);
  free(c->data_delta);
  c->data = c->data_prev = c->data_delta = nullptr;
  return 1;
}
