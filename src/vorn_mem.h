#pragma once
// Memory counter: memory and swap figures of /proc/meminfo, swap traffic
// from /proc/vmstat as pages per second.

#include <cstdint>
#include <string_view>

#include "mycustom.h"

struct vorn_mycustom_data_mem {
  int ok;
  uint64_t memtotal, memfree, memused, membuffers, memcached;
  uint64_t swaptotal, swapfree, swapused, swapin, swapout;
};

// Fills the memory figures from /proc/meminfo text; keys missing from the
// text leave their fields alone. slab_as_cached adds slab memory to cached.
void mem_parse_meminfo(std::string_view meminfo, bool slab_as_cached, vorn_mycustom_data_mem &s);
void mem_parse_vmstat(std::string_view vmstat, vorn_mycustom_data_mem &s);

int32_t mem_init(vorn_mycustom_counter *cnt);
int32_t mem_update(vorn_mycustom_counter *cnt);
int32_t mem_delta(vorn_mycustom_counter *cnt, uint32_t interval, uint64_t iteration);
int32_t mem_tobson(vorn_mycustom_counter *cnt, bson *b);
int32_t mem_dump(vorn_mycustom_counter *cnt);
int32_t mem_free(vorn_mycustom_counter *cnt);

extern const vorn_counter_ops mem_ops;
