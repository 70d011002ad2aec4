#pragma once
// Disk counter: per-device operation, sector and time rates from
// /proc/diskstats for the physical devices under /sys/block, with the
// average service time and the busy share.

#include <cstdint>
#include <string_view>

#include "mycustom.h"

struct mibdisk {
  int ok;
  int32_t index;
  char device[256];
  uint64_t rbytes;  // reads completed (operations, not bytes)
  uint64_t wbytes;  // writes completed
  uint64_t rticks, wticks, tticks;
  uint64_t sRead, sWritten;
  float busy;
  float avio;
};

constexpr int VORN_MAX_DISKS = 255;

struct vorn_mycustom_data_disk {
  int ok;
  uint8_t ndevs;
  mibdisk mibdisk_list[VORN_MAX_DISKS];
};

// Whether a /sys/block entry is reported: it has a device link, and it is
// not removable unless its name begins with "sd".
bool disk_is_reported(const char *name, bool has_device_link, bool removable);
// Adds a device to the sample's list; false when the list is full.
bool disk_add_device(vorn_mycustom_data_disk &s, const char *name);
// Fills the listed devices' counters from /proc/diskstats text; a device on
// no line keeps ok 0.
void disk_parse_diskstats(std::string_view text, vorn_mycustom_data_disk &s);
// Length of the interval in ms as the CPU counter measured it.
double disk_mstot(uint64_t cputot, unsigned ncpus, long hertz);
// Rates of the devices present in both samples, paired by name.
void disk_compute_delta(const vorn_mycustom_data_disk &cur, const vorn_mycustom_data_disk &prev,
                        vorn_mycustom_data_disk &delta, uint32_t interval, double mstot);

int32_t disk_init(vorn_mycustom_counter *cnt);
int32_t disk_update(vorn_mycustom_counter *cnt);
int32_t disk_delta(vorn_mycustom_counter *cnt, uint32_t interval, uint64_t iteration);
int32_t disk_tobson(vorn_mycustom_counter *cnt, bson *b);
int32_t disk_dump(vorn_mycustom_counter *cnt);
int32_t disk_free(vorn_mycustom_counter *cnt);

extern const vorn_counter_ops disk_ops;
