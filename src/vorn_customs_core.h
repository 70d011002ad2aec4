#pragma once
// Custom results record: the data records of every custom counter, and the
// slot layout of the shared-memory segment the custom worker publishes.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <type_traits>

struct vorn_mycustom_agent_alert {
  int32_t index;
  char text[256];
};

struct vorn_mycustom_data_custom {
  int32_t ok;
  int32_t let;
  int32_t get;
  int32_t interval;
  int32_t updated;
  int32_t mustBeUpdated;
  double value;
  int32_t errors;
  int32_t agent_alerts_count;
  vorn_mycustom_agent_alert agent_alerts[10];
};

static_assert(sizeof(vorn_mycustom_agent_alert) == 260);
static_assert(sizeof(vorn_mycustom_data_custom) == 2640);
static_assert(offsetof(vorn_mycustom_data_custom, value) == 24);
static_assert(offsetof(vorn_mycustom_data_custom, errors) == 32);
static_assert(offsetof(vorn_mycustom_data_custom, agent_alerts) == 40);
static_assert(std::is_trivially_copyable_v<vorn_mycustom_data_custom>);

constexpr size_t VORN_CUSTOM_SLOT_SIZE = sizeof(vorn_mycustom_data_custom);

// The custom worker's whole life, and its phase walks over the custom group.
void childThread();
int customs_loop();
void initCustomsCounters(time_t ts);
int updateCustomsCounters(uint64_t iteration);
void deltaCustomsCounters(uint64_t iteration);
void dumpCustomsCounters();
void freeCustomsCounters();
// Writes every custom counter's delta record into its slot of the segment
// (created 0600 when missing, re-created when a leftover has another size).
int vorn_customs_publish();
// Parent side: copies the published slots over the custom counters' delta
// records; skipped silently when there is nothing published yet.
void vorn_customs_import();
void clear_shm();
