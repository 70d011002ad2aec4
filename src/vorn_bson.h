#pragma once
// The report document: identity, timing, the built-in counters, one array per
// configured group.

#include <cstdint>

// Builds the report into a new buffer (*res, released with free) of *len
// bytes. localAddress is the masked local address for "local_ip"; 0 leaves it
// out. Returns 0, or -1 when no document could be made (*res is then null).
int stats_to_bson(uint8_t **res, uint32_t *len, unsigned long localAddress);
