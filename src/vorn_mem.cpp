#include "vorn_mem.h"

#include <cstdio>
#include <string>

#include "bson.h"
#include "vorn_config.h"
#include "vorn_counter_data.h"
#include "vorn_parse.h"
#include "vorn_rate.h"
#include "vorn_readfile.h"
#include "vorn_text.h"

using mem_data = vorn_mycustom_data_mem;

// Calls f(key, value) for every line "key value ..." whose second word is a
// number.
template <typename F>
static void key_values(std::string_view text, F f) {
  vorn_for_lines(text, [&](std::string_view line) {
    std::string_view key = vorn_next_word(line);
    bool ok;
    uint64_t v = vorn_to_u64(vorn_next_word(line), &ok);
    if (ok) f(key, v);
    return true;
  });
}

void mem_parse_meminfo(std::string_view meminfo, bool slab_as_cached, mem_data &s) {
  uint64_t slab = 0, reclaimable = 0, unreclaimable = 0;
  key_values(meminfo, [&](std::string_view k, uint64_t v) {
    if (k == "MemTotal:") s.memtotal = v;
    else if (k == "MemFree:") s.memfree = v;
    else if (k == "Cached:") s.memcached = v;
    else if (k == "Buffers:") s.membuffers = v;
    else if (k == "SwapTotal:") s.swaptotal = v;
    else if (k == "SwapFree:") s.swapfree = v;
    else if (k == "Slab:") slab = v;
    else if (k == "SReclaimable:") reclaimable = v;
    else if (k == "SUnreclaim:") unreclaimable = v;
  });
  if (slab_as_cached) {
    if (slab == 0) slab = reclaimable + unreclaimable;
    s.memcached += slab;
  }
  // Never a wrapped figure when the parts add up to more than the total.
  s.memused = vorn_diff(s.memtotal, s.memfree + s.memcached + s.membuffers);
  s.swapused = vorn_diff(s.swaptotal, s.swapfree);
}

void mem_parse_vmstat(std::string_view vmstat, mem_data &s) {
  key_values(vmstat, [&](std::string_view k, uint64_t v) {
    if (k == "pswpin") s.swapin = v;
    else if (k == "pswpout") s.swapout = v;
  });
}

int32_t mem_init(vorn_mycustom_counter *cnt) {
  vorn_alloc_records<mem_data>(cnt, true);
  vorn_copy(cnt->report, "Mem");
  return 1;
}

int32_t mem_update(vorn_mycustom_counter *cnt) {
  auto *d = static_cast<mem_data *>(cnt->data);
  if (!d) return 0;
  static std::string text;
  if (!vorn_read_file("/proc/meminfo", text)) {
    d->ok = 0;
    return 0;
  }
  mem_parse_meminfo(text, config.mem_slab_as_cached != 0, *d);
  if (!vorn_read_file("/proc/vmstat", text)) {
    d->ok = 0;
    return 0;
  }
  mem_parse_vmstat(text, *d);
  d->ok = 1;
  return 1;
}

int32_t mem_delta(vorn_mycustom_counter *cnt, uint32_t interval, uint64_t iteration) {
  auto *cur = static_cast<mem_data *>(cnt->data);
  auto *prev = static_cast<mem_data *>(cnt->data_prev);
  auto *delta = static_cast<mem_data *>(cnt->data_delta);
  if (!cur || !prev || !delta) return 1;
  *delta = *cur;
  if (iteration != 0 && cur->ok && prev->ok) {
    delta->swapin = vorn_rate(cur->swapin, prev->swapin, interval);
    delta->swapout = vorn_rate(cur->swapout, prev->swapout, interval);
    delta->ok = 1;
  } else {
    delta->ok = 0;
  }
  *prev = *cur;
  return 1;
}

int32_t mem_tobson(vorn_mycustom_counter *cnt, bson *b) {
  const auto *d = static_cast<const mem_data *>(cnt->data_delta);
  if (!d) return 1;
  bool ok = d->ok != 0;
  auto v = [&](uint64_t x) { return ok ? (int64_t)x : 0; };
  vorn_bson_append_start_object(b, "mem");
  vorn_bson_append_long(b, "ok", v((uint64_t)d->ok));
  vorn_bson_append_long(b, "free", v(d->memfree));
  vorn_bson_append_long(b, "used", v(d->memused));
  vorn_bson_append_long(b, "buffers", v(d->membuffers));
  vorn_bson_append_long(b, "cached", v(d->memcached));
  vorn_bson_append_long(b, "swapfree", v(d->swapfree));
  vorn_bson_append_long(b, "swapused", v(d->swapused));
  vorn_bson_append_long(b, "swapin", v(d->swapin));
  vorn_bson_append_long(b, "swapout", v(d->swapout));
  vorn_bson_append_finish_object(b);
  return 1;
}

int32_t mem_dump(vorn_mycustom_counter *cnt) {
  const auto *d = static_cast<const mem_data *>(cnt->data);
  if (!d) return 1;
  printf("MyCustom %s report %s(%d) :\n", cnt->report, cnt->id, d->ok);
  printf("\tMEM total = %llu\n", (unsigned long long)d->memtotal);
  printf("\tMEM free = %llu\n", (unsigned long long)d->memfree);
  printf("\tMEM used = %llu\n", (unsigned long long)d->memused);
  printf("\tMEM buffers = %llu\n", (unsigned long long)d->membuffers);
  printf("\tMEM cached = %llu\n", (unsigned long long)d->memcached);
  printf("\tSwap total = %llu\n", (unsigned long long)d->swaptotal);
  printf("\tSwap free = %llu\n", (unsigned long long)d->swapfree);
  printf("\tSwap used = %llu\n", (unsigned long long)d->swapused);
  printf("\tSwap in = %llu\n", (unsigned long long)d->swapin);
  printf("\tSwap out = %llu\n", (unsigned long long)d->swapout);
  return 1;
}

int32_t mem_free(vorn_mycustom_counter *cnt) { return vorn_free_records(cnt); }

const vorn_counter_ops mem_ops = {mem_init, nullptr, mem_update, mem_delta, mem_tobson, mem_dump, mem_free};
