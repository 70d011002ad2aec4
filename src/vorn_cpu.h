#pragma once
// CPU counter: shares of the elapsed CPU time from the aggregate line of
// /proc/stat, the one-minute load average and the CPU count.

#include <cstdint>
#include <string_view>

#include "mycustom.h"

struct vorn_mycustom_data_cpu {
  int ok;
  float lavg;
  uint8_t ncpus;
  uint64_t user, nice, system, idle, iowait, irq, softirq, steal, guest;
  uint64_t cputot;
};

// Number of distinct per-CPU words ("cpu0", "cpu1", ...) in /proc/stat text,
// modulo 256.
uint8_t cpu_count_cpus(std::string_view stat);
// Reads the aggregate "cpu" line into the nine time fields; fields the line
// lacks keep their values.
void cpu_parse_stat(std::string_view stat, vorn_mycustom_data_cpu &sample);
// Shares of the elapsed time from two samples, into delta (ok set).
void cpu_compute_delta(const vorn_mycustom_data_cpu &cur, const vorn_mycustom_data_cpu &prev,
                       vorn_mycustom_data_cpu &delta);
float load_average();

int32_t cpu_init(vorn_mycustom_counter *cnt);
int32_t cpu_update(vorn_mycustom_counter *cnt);
int32_t cpu_delta(vorn_mycustom_counter *cnt, uint32_t interval, uint64_t iteration);
int32_t cpu_tobson(vorn_mycustom_counter *cnt, bson *b);
int32_t cpu_dump(vorn_mycustom_counter *cnt);
int32_t cpu_free(vorn_mycustom_counter *cnt);

extern const vorn_counter_ops cpu_ops;
