#pragma once
// The statistics registry, counter registration and the phase walks of the
// parent process.

#include <cstdint>
#include <ctime>

#include "mycustom.h"

struct vorn_stats {
  uint8_t ncore_counters;
  vorn_mycustom_counter core_counters[7];
  uint8_t nmysql_counters;
  vorn_mycustom_counter mysql_counters[16];
  uint16_t ncustom_counters;
  vorn_mycustom_counter custom_counters[512];
  uint16_t nmycustoms;
  int32_t custom_errors;
  vorn_mycustom_counter mycustom_counters[128];
  uint8_t nmemcache_counters;
  vorn_mycustom_counter memcache_counters[32];
  uint8_t nbeanstalk_counters;
  vorn_mycustom_counter beanstalk_counters[16];
  uint8_t nredis_counters;
  vorn_mycustom_counter redis_counters[16];
};

// Static storage, so it is all zero at start without touching its pages.
extern vorn_stats stats;

// Core slots: the kind of each built-in counter is fixed by its slot.
enum vorn_core_slot {
  VORN_CORE_OS = 0,
  VORN_CORE_MEM = 1,
  VORN_CORE_CPU = 2,
  VORN_CORE_SOCKET = 3,
  VORN_CORE_MOUNT = 4,
  VORN_CORE_DISK = 5,
  VORN_CORE_NET = 6,
};

enum class vorn_group { core, mysql, custom, mycustoms, memcache, beanstalk, redis };

struct vorn_group_view {
  vorn_mycustom_counter *slots;
  unsigned count;
  unsigned capacity;
};

vorn_group_view vorn_stats_group(vorn_stats &s, vorn_group g);

// Next free slot of a group with its count bumped, or null when the group is
// full (nothing is written then).
vorn_mycustom_counter *vorn_stats_add(vorn_stats &s, vorn_group g);

int mycustom_set(vorn_mycustom_counter *counter, const char *cfg_string, mycustom_init init,
                 mycustom_reinit reinit, mycustom_update update, mycustom_delta delta,
                 mycustom_tobson tobson, mycustom_dump dump, mycustom_free free);
int vorn_counter_set(vorn_mycustom_counter *counter, const char *cfg_string, const vorn_counter_ops &ops);

// Operations of each built-in kind, by core slot; a kind not built yet has
// all seven null.
const vorn_counter_ops &vorn_core_ops(int slot);

// Calls op on every counter of a group that has it, in slot order.
template <typename Fn, typename... Args>
void vorn_visit_group(vorn_group g, Fn vorn_mycustom_counter::*op, Args... args) {
  vorn_group_view v = vorn_stats_group(stats, g);
  for (unsigned i = 0; i < v.count; i++) {
    vorn_mycustom_counter &c = v.slots[i];
    if (c.*op) (c.*op)(&c, args...);
  }
}

// Prints text when debug output is on.
void vorn_debug_text(const char *text);

void setCoreCounters();
void initCounters(time_t ts);
void reinitCounters(time_t ts);
void updateCounters();
void deltaCounters(uint64_t iteration);
void dumpCounters();
void freeCounters();
int countCustomErrors(const vorn_stats &s);

void remove_newline_ch(char *line);

// Iteration wrap shared by the parent's and the custom worker's loops.
constexpr uint64_t VORN_ITERATION_WRAP = 1163962800ULL;
uint64_t vorn_next_iteration(uint64_t iteration);

// Whether the scheduled second has come: (ts mod interval) == randomsecond,
// in unsigned arithmetic. The parent passes the time minus 2, the custom
// worker the plain time.
bool vorn_is_cycle_time(time_t ts, uint32_t interval, int32_t randomsecond);
