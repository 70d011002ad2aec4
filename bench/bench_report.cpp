// Building one full report from a registry whose seven built-in slots write
// documents of a typical server's shape, and signing it.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "bson.h"
#include "vorn_bson.h"
#include "vorn_config.h"
#include "vorn_core.h"
#include "vorn_sign.h"
#include "vorn_text.h"

namespace {

void fields(bson *b, const char *const *names, int n, double base) {
  for (int i = 0; i < n; i++) vorn_bson_append_double(b, names[i], base + i);
}

template <int N>
void table(bson *b, const char *key, const char *prefix, int rows, const char *const (&cols)[N]) {
  vorn_bson_append_start_object(b, key);
  for (int r = 0; r < rows; r++) {
    char name[32];
    snprintf(name, sizeof name, "%s%d", prefix, r);
    vorn_bson_append_start_object(b, name);
    fields(b, cols, N, r * 100.0);
    vorn_bson_append_finish_object(b);
  }
  vorn_bson_append_finish_object(b);
}

int32_t os_tobson(vorn_mycustom_counter *, bson *b) {
  vorn_bson_append_int(b, "ok", 1);
  vorn_bson_append_int(b, "os_bit", 64);
  vorn_bson_append_string(b, "os_name", "debian");
  vorn_bson_append_string(b, "os_version", "12");
  vorn_bson_append_long(b, "vorn_memory_used", 3145728);
  vorn_bson_append_long(b, "open_files", 1824);
  vorn_bson_append_long(b, "uptime_sec", 8640000);
  return vorn_bson_append_long(b, "vorn_uptime_sec", 86400);
}
int32_t mem_tobson(vorn_mycustom_counter *, bson *b) {
  static const char *const cols[] = {"ok", "total", "free", "buffers", "cached", "used", "swap_total", "swap_free",
                                     "swap_used", "swap_in", "swap_out"};
  vorn_bson_append_start_object(b, "mem");
  fields(b, cols, 11, 1e6);
  return vorn_bson_append_finish_object(b);
}
int32_t cpu_tobson(vorn_mycustom_counter *, bson *b) {
  static const char *const cols[] = {"ok", "user", "nice", "system", "idle", "iowait", "irq", "softirq", "steal"};
  vorn_bson_append_double(b, "lavg", 0.42);
  vorn_bson_append_int(b, "ncpu", 8);
  vorn_bson_append_start_object(b, "cpu");
  fields(b, cols, 9, 1.0);
  return vorn_bson_append_finish_object(b);
}
int32_t socket_tobson(vorn_mycustom_counter *, bson *b) {
  static const char *const cols[] = {"ok", "tcp", "udp", "unix", "raw", "tw"};
  vorn_bson_append_start_object(b, "socket");
  fields(b, cols, 6, 10.0);
  return vorn_bson_append_finish_object(b);
}
int32_t mounts_tobson(vorn_mycustom_counter *, bson *b) {
  static const char *const cols[] = {"total", "free", "used", "itotal", "ifree", "iused"};
  table(b, "mounts", "/srv/data", 5, cols);
  return 1;
}
int32_t disks_tobson(vorn_mycustom_counter *, bson *b) {
  static const char *const cols[] = {"reads", "writes", "rbytes", "wbytes", "avio", "busy"};
  table(b, "disks", "sd", 3, cols);
  return 1;
}
int32_t net_tobson(vorn_mycustom_counter *, bson *b) {
  static const char *const cols[] = {"rbytes", "wbytes", "rpackets", "wpackets"};
  table(b, "net", "eth", 3, cols);
  return 1;
}

void fill_registry() {
  memset(&stats, 0, sizeof stats);
  init_config();
  config.id = 42;
  vorn_copy(config.secret, "0123456789abcdef0123456789abcdef");
  static constexpr mycustom_tobson kinds[7] = {os_tobson,     mem_tobson,   cpu_tobson, socket_tobson,
                                               mounts_tobson, disks_tobson, net_tobson};
  stats.ncore_counters = 7;
  for (int i = 0; i < 7; i++) stats.core_counters[i].tobson = kinds[i];
}

void BM_BuildReport(benchmark::State &state) {
  fill_registry();
  size_t bytes = 0;
  for (auto _ : state) {
    uint8_t *doc;
    uint32_t len;
    stats_to_bson(&doc, &len, 0);
    bytes = len;
    benchmark::DoNotOptimize(doc);
    free(doc);
  }
  state.counters["report_bytes"] = (double)bytes;
}
BENCHMARK(BM_BuildReport);

void BM_SignReport(benchmark::State &state) {
  fill_registry();
  uint8_t *doc;
  uint32_t len;
  stats_to_bson(&doc, &len, 0);
  for (auto _ : state) {
    uint8_t *out;
    uint32_t out_len;
    sign(doc, (int)len, &out, &out_len);
    benchmark::DoNotOptimize(out);
    free(out);
  }
  free(doc);
  state.counters["report_bytes"] = (double)len;
}
BENCHMARK(BM_SignReport);

// One cycle of the real built-in counters on this machine: update, delta and
// the report.
void BM_CountersCycle(benchmark::State &state) {
  memset(&stats, 0, sizeof stats);
  init_config();
  config.id = 42;
  setCoreCounters();
  initCounters(0);
  updateCounters();
  deltaCounters(0);
  uint64_t iteration = 1;
  for (auto _ : state) {
    updateCounters();
    deltaCounters(iteration++);
    uint8_t *doc;
    uint32_t len;
    stats_to_bson(&doc, &len, 0);
    benchmark::DoNotOptimize(doc);
    free(doc);
  }
  freeCounters();
}
BENCHMARK(BM_CountersCycle);

}  // namespace

BENCHMARK_MAIN();
