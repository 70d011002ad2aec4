#pragma once
// System V segments shared by the agent's processes: always mode 0600.

#include <sys/types.h>

#include <cstddef>

// Id of the segment with key and size, created when missing; a leftover of
// another size (or mode) is removed and created anew (*replaced set then).
// -1 when no segment can be had.
int vorn_shm_get(key_t key, size_t size, bool *replaced = nullptr);
// Removes the segment with key, if there is one.
void vorn_shm_remove(key_t key);
