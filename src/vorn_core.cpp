#include "vorn_core.h"

#include <cstdio>
#include <cstring>

#include "vorn_config.h"
#include "vorn_cpu.h"
#include "vorn_customs_core.h"
#include "vorn_disk.h"
#include "vorn_docker_core.h"
#include "vorn_mem.h"
#include "vorn_mount.h"
#include "vorn_net.h"
#include "vorn_os.h"
#include "vorn_socket.h"
#include "vorn_text.h"

vorn_stats stats;

vorn_group_view vorn_stats_group(vorn_stats &s, vorn_group g) {
  switch (g) {
    case vorn_group::core: return {s.core_counters, s.ncore_counters, 7};
    case vorn_group::mysql: return {s.mysql_counters, s.nmysql_counters, 16};
    case vorn_group::custom: return {s.custom_counters, s.ncustom_counters, 512};
    case vorn_group::mycustoms: return {s.mycustom_counters, s.nmycustoms, 128};
    case vorn_group::memcache: return {s.memcache_counters, s.nmemcache_counters, 32};
    case vorn_group::beanstalk: return {s.beanstalk_counters, s.nbeanstalk_counters, 16};
    case vorn_group::redis: return {s.redis_counters, s.nredis_counters, 16};
  }
  return {nullptr, 0, 0};
}

vorn_mycustom_counter *vorn_stats_add(vorn_stats &s, vorn_group g) {
  vorn_group_view v = vorn_stats_group(s, g);
  if (v.count >= v.capacity) return nullptr;
  switch (g) {
    case vorn_group::core: s.ncore_counters++; break;
    case vorn_group::mysql: s.nmysql_counters++; break;
    case vorn_group::custom: s.ncustom_counters++; break;
    case vorn_group::mycustoms: s.nmycustoms++; break;
    case vorn_group::memcache: s.nmemcache_counters++; break;
    case vorn_group::beanstalk: s.nbeanstalk_counters++; break;
    case vorn_group::redis: s.nredis_counters++; break;
  }
  return &v.slots[v.count];
}

int mycustom_set(vorn_mycustom_counter *counter, const char *cfg_string, mycustom_init init,
                 mycustom_reinit reinit, mycustom_update update, mycustom_delta delta,
                 mycustom_tobson tobson, mycustom_dump dump, mycustom_free free) {
  if (cfg_string) vorn_copy(counter->cfg_string, cfg_string);
  counter->init = init;
  counter->reinit = reinit;
  counter->update = update;
  counter->delta = delta;
  counter->tobson = tobson;
  counter->dump = dump;
  counter->free = free;
  return 1;
}

int vorn_counter_set(vorn_mycustom_counter *counter, const char *cfg_string, const vorn_counter_ops &ops) {
  return mycustom_set(counter, cfg_string, ops.init, ops.reinit, ops.update, ops.delta, ops.tobson, ops.dump,
                      ops.free);
}

// Built-in kinds in slot order: OS, memory, CPU, sockets, mounts, disks,
// network interfaces. No core counter registers reinit.
static const vorn_counter_ops *const core_kinds[7] = {&os_ops,    &mem_ops,  &cpu_ops, &socket_ops,
                                                      &mount_ops, &disk_ops, &net_ops};

const vorn_counter_ops &vorn_core_ops(int slot) { return *core_kinds[slot]; }

void vorn_debug_text(const char *text) {
  if (config.debug) fputs(text, stdout);
}

struct phase_step {
  const char *label;  // printed in debug mode just before the group is visited
  vorn_group group;
};

template <size_t N, typename Fn, typename... Args>
static void run_steps(const phase_step (&steps)[N], Fn vorn_mycustom_counter::*op, Args... args) {
  for (const phase_step &s : steps) {
    vorn_debug_text(s.label);
    vorn_visit_group(s.group, op, args...);
  }
}

void setCoreCounters() {
  vorn_debug_text("set core counters... ");
  stats.ncore_counters = 7;
  for (int slot = 0; slot < 7; slot++) vorn_counter_set(&stats.core_counters[slot], nullptr, *core_kinds[slot]);
  vorn_debug_text("done\n");
}

void initCounters(time_t ts) {
  using enum vorn_group;
  if (config.debug) printf("Init counters parent at %ld: customs... ", (long)ts);
  vorn_visit_group(custom, &vorn_mycustom_counter::init);
  vorn_debug_text("done, core... ");
  vorn_visit_group(core, &vorn_mycustom_counter::init);
  vorn_debug_text("done, mysqls... ");
  // Without the client library the MySQL probes are never prepared.
  if (config.mysql_handle)
    vorn_visit_group(mysql, &vorn_mycustom_counter::init);
  else
    vorn_debug_text("none(no mysql_handle)... ");
  static constexpr phase_step rest[] = {{"done, mycustoms... ", mycustoms},
                                        {"done, memcaches... ", memcache},
                                        {"done, beanstalks... ", beanstalk},
                                        {"done, redises... ", redis}};
  run_steps(rest, &vorn_mycustom_counter::init);
  vorn_debug_text("done\n");
}

void reinitCounters(time_t ts) {
  using enum vorn_group;
  if (config.debug) printf("Reinit counters at %ld: ", (long)ts);
  static constexpr phase_step steps[] = {{"core... ", core},
                                         {"done, mysqls... ", mysql},
                                         {"done, mycustoms... ", mycustoms},
                                         {"done, memcaches... ", memcache},
                                         {"done, beanstalkss... ", beanstalk},
                                         {"done, redises... ", redis}};
  run_steps(steps, &vorn_mycustom_counter::reinit);
  vorn_debug_text("done\n");
}

void updateCounters() {
  using enum vorn_group;
  static constexpr phase_step steps[] = {{"update: core... ", core},
                                         {"done, mysqls... ", mysql},
                                         {"done, memcaches... ", memcache},
                                         {"done, beanstalks... ", beanstalk},
                                         {"done, redises... ", redis},
                                         {"done, mycustoms... ", mycustoms}};
  vorn_docker_update(config.docker);
  run_steps(steps, &vorn_mycustom_counter::update);
  if (config.debug) printf("done, customs PARENT... %ld", (long)time(nullptr));
  vorn_customs_import();
  vorn_debug_text("done\n");
}

void deltaCounters(uint64_t iteration) {
  using enum vorn_group;
  static constexpr phase_step steps[] = {{"Calc delta: core... ", core},
                                         {"done, mysqls... ", mysql},
                                         {"done, mycustoms... ", mycustoms},
                                         {"done, memcaches... ", memcache},
                                         {"done, beanstalkss... ", beanstalk},
                                         {"done, redises... ", redis}};
  run_steps(steps, &vorn_mycustom_counter::delta, (uint32_t)config.interval, iteration);
  vorn_debug_text("done\n");
}

void dumpCounters() {
  using enum vorn_group;
  static constexpr phase_step steps[] = {{"Dump delta: core...\n", core},
                                         {"done, mysqls... ", mysql},
                                         {"done, customs...\n", custom},
                                         {"done, mycustoms...\n", mycustoms},
                                         {"done, memcaches... ", memcache},
                                         {"done, beanstalks... ", beanstalk},
                                         {"done, redises... ", redis}};
  run_steps(steps, &vorn_mycustom_counter::dump);
  vorn_debug_text("done\n");
}

void freeCounters() {
  using enum vorn_group;
  static constexpr phase_step steps[] = {{"Freeing counters: core... ", core},
                                         {"done, mysqls... ", mysql},
                                         {"done, PARENT customs... ", custom},
                                         {"done, mycustoms... ", mycustoms},
                                         {"done, memcaches... ", memcache},
                                         {"done, beanstalks... ", beanstalk},
                                         {"done, redises... ", redis}};
  run_steps(steps, &vorn_mycustom_counter::free);
  vorn_debug_text("done\n");
}

int countCustomErrors(const vorn_stats &s) {
  int sum = 0;
  for (unsigned i = 0; i < s.ncustom_counters; i++) {
    const auto *d = static_cast<const vorn_mycustom_data_custom *>(s.custom_counters[i].data_delta);
    if (d) sum += d->errors;
  }
  return sum;
}

void remove_newline_ch(char *line) {
  size_t n = strlen(line);
  if (n > 0 && line[n - 1] == '\n') line[n - 1] = '\0';
}

uint64_t vorn_next_iteration(uint64_t iteration) {
  iteration++;
  if (iteration == VORN_ITERATION_WRAP) {
    printf("WOW! iteration 1163962800\n");
    iteration = 0;
  }
  return iteration;
}

bool vorn_is_cycle_time(time_t ts, uint32_t interval, int32_t randomsecond) {
  if (interval == 0) return false;
  return (uint64_t)ts % interval == (uint32_t)randomsecond;
}
