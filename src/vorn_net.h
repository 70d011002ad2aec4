#pragma once
// Network counter: per-interface throughput from /proc/net/dev, reported in
// bits per second.

#include <cstdint>
#include <string_view>

#include "mycustom.h"

struct mibnet {
  int ok;
  int32_t index;
  char device[256];
  uint64_t sbytes;  // transmitted
  uint64_t rbytes;  // received
};

constexpr int VORN_MAX_INTERFACES = 255;

struct vorn_mycustom_data_net {
  int ok;
  uint8_t ndevs;
  mibnet mibnet_list[VORN_MAX_INTERFACES];
};

int excluded_interface(const char *name);
// Rebuilds the sample's list from /proc/net/dev text. Each entry's ok is the
// sample's ok before this update, so an interface is valid only from the
// second successful update on.
void net_parse_dev(std::string_view text, vorn_mycustom_data_net &s);
// Byte rates of the interfaces present in both samples, paired by name.
void net_compute_delta(const vorn_mycustom_data_net &cur, const vorn_mycustom_data_net &prev,
                       vorn_mycustom_data_net &delta, uint32_t interval);

int32_t net_init(vorn_mycustom_counter *cnt);
int32_t net_update(vorn_mycustom_counter *cnt);
int32_t net_delta(vorn_mycustom_counter *cnt, uint32_t interval, uint64_t iteration);
int32_t net_tobson(vorn_mycustom_counter *cnt, bson *b);
int32_t net_dump(vorn_mycustom_counter *cnt);
// The latest sample's cumulative byte counts (the --ifs print-out).
int32_t net_dump_sample(vorn_mycustom_counter *cnt);
int32_t net_free(vorn_mycustom_counter *cnt);

extern const vorn_counter_ops net_ops;
