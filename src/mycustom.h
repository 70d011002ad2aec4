#pragma once
// The counter record and its seven operations. Every source of figures in the
// agent (built-in counters, service probes, custom commands) is one of these.

#include <cstdint>

struct vorn_mycustom_counter;
struct bson;

typedef int32_t (*mycustom_init)(vorn_mycustom_counter *counter);
typedef int32_t (*mycustom_reinit)(vorn_mycustom_counter *counter);
typedef int32_t (*mycustom_update)(vorn_mycustom_counter *counter);
typedef int32_t (*mycustom_delta)(vorn_mycustom_counter *counter, uint32_t interval, uint64_t iteration);
typedef int32_t (*mycustom_tobson)(vorn_mycustom_counter *counter, bson *b);
typedef int32_t (*mycustom_dump)(vorn_mycustom_counter *counter);
typedef int32_t (*mycustom_free)(vorn_mycustom_counter *counter);

struct vorn_mycustom_counter {
  char cfg_string[2048];
  char report[256];
  char id[256];
  char user[256];
  char password[256];
  char exec[2048];
  char alert_condition[50];
  int32_t interval;
  int32_t uid;
  int32_t gid;
  int32_t max_seconds;
  int32_t incremental;
  int32_t type;
  int32_t restarted_flag;
  void *data;
  void *data_prev;
  void *data_delta;
  mycustom_init init;
  mycustom_reinit reinit;
  mycustom_update update;
  mycustom_delta delta;
  mycustom_tobson tobson;
  mycustom_dump dump;
  mycustom_free free;
};

// The seven operations of one counter kind, as the kind tables hold them.
struct vorn_counter_ops {
  mycustom_init init;
  mycustom_reinit reinit;
  mycustom_update update;
  mycustom_delta delta;
  mycustom_tobson tobson;
  mycustom_dump dump;
  mycustom_free free;
};
