#include "vorn_customs_core.h"

#include <sys/ipc.h>
#include <sys/prctl.h>
#include <sys/shm.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "vorn_config.h"
#include "vorn_core.h"
#include "vorn_main.h"
#include "vorn_shm.h"

namespace {

size_t segment_size() { return (size_t)stats.ncustom_counters * VORN_CUSTOM_SLOT_SIZE; }

// An attached segment, detached on every path.
class attachment {
 public:
  attachment(int id, int flags) : p_(shmat(id, nullptr, flags)) {}
  ~attachment() {
    if (ok()) shmdt(p_);
  }
  attachment(const attachment &) = delete;
  attachment &operator=(const attachment &) = delete;
  bool ok() const { return p_ != (void *)-1; }
  char *bytes() const { return static_cast<char *>(p_); }

 private:
  void *p_;
};

}  // namespace

void initCustomsCounters(time_t ts) {
  if (config.debug) printf("Init counters CHILD at %ld: customs... ", (long)ts);
  vorn_visit_group(vorn_group::custom, &vorn_mycustom_counter::init);
  vorn_debug_text("done\n");
}

int updateCustomsCounters(uint64_t iteration) {
  if (config.debug) printf("Update counters CHILD: customs iteration=%lu...\n", (unsigned long)iteration);
  int sum = 0;
  for (unsigned i = 0; i < stats.ncustom_counters; i++) {
    vorn_mycustom_counter &c = stats.custom_counters[i];
    auto *d = static_cast<vorn_mycustom_data_custom *>(c.data);
    if (!c.update || !d) continue;
    d->updated = 0;
    uint64_t period = c.interval > 0 ? (uint64_t)c.interval : 1;
    if (iteration % period == 0) {
      d->mustBeUpdated = 1;
      sum += c.update(&c);
    } else {
      d->mustBeUpdated = 0;
    }
  }
  if (config.debug) printf("done(isUpdated = %d)\n", sum);
  return sum;
}

void deltaCustomsCounters(uint64_t iteration) {
  vorn_debug_text("Calc delta CHILD: customs... ");
  vorn_visit_group(vorn_group::custom, &vorn_mycustom_counter::delta, (uint32_t)config.interval, iteration);
  vorn_debug_text("done\n");
}

void dumpCustomsCounters() {
  vorn_debug_text("Dump delta CHILD: customs...\n");
  vorn_visit_group(vorn_group::custom, &vorn_mycustom_counter::dump);
  vorn_debug_text("done");
}

void freeCustomsCounters() {
  vorn_debug_text("Freeing counters: CHILD customs... ");
  vorn_visit_group(vorn_group::custom, &vorn_mycustom_counter::free);
  vorn_debug_text("done");
}

int vorn_customs_publish() {
  bool replaced;
  int id = vorn_shm_get(vorn_shm_key(0), segment_size(), &replaced);
  if (replaced) perror("shmget");
  if (id < 0) return -1;
  attachment seg(id, 0);
  if (!seg.ok()) {
    perror("shmat");
    return -1;
  }
  for (unsigned i = 0; i < stats.ncustom_counters; i++) {
    const void *d = stats.custom_counters[i].data_delta;
    if (d) memcpy(seg.bytes() + i * VORN_CUSTOM_SLOT_SIZE, d, VORN_CUSTOM_SLOT_SIZE);
  }
  return 0;
}

void vorn_customs_import() {
  if (stats.ncustom_counters == 0) return;
  int id = shmget(vorn_shm_key(0), segment_size(), 0600);
  if (id < 0) return;
  attachment seg(id, SHM_RDONLY);
  if (!seg.ok()) return;
  for (unsigned i = 0; i < stats.ncustom_counters; i++) {
    void *d = stats.custom_counters[i].data_delta;
    if (d) memcpy(d, seg.bytes() + i * VORN_CUSTOM_SLOT_SIZE, VORN_CUSTOM_SLOT_SIZE);
  }
}

void clear_shm() {
  if (stats.ncustom_counters > 0) vorn_shm_remove(vorn_shm_key(0));
}

int customs_loop() {
  vorn_debug_text("Starting customs loop\n");
  uint64_t iteration = 0;
  int is_updated = 0;
  while (!stop) {
    time_t t = time(nullptr);
    if (!vorn_is_cycle_time(t, config.interval, config.randomsecond)) {
      sleep(1);
      continue;
    }
    if (config.debug) printf("Customs loop iteration at %ld\n", (long)t);
    if (is_updated > 0 && iteration != 0) {
      if (config.debug) dumpCustomsCounters();
      vorn_customs_publish();
    }
    is_updated = updateCustomsCounters(iteration);
    deltaCustomsCounters(iteration);
    if (config.debug) printf("Customs loop iteration done at %ld\n", (long)time(nullptr));
    iteration = vorn_next_iteration(iteration);
    sleep(1);
  }
  vorn_debug_text("Exiting customs loop\n");
  vorn_debug_text("clear shm\n");
  clear_shm();
  return 0;
}

void childThread() {
  config.child = 1;
  // The worker never outlives the agent, however the agent ends.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  initCustomsCounters(time(nullptr));
  sleep(1);
  customs_loop();
  freeCustomsCounters();
}
