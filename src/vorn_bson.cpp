#include "vorn_bson.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "bson.h"
#include "vorn_config.h"
#include "vorn_core.h"
#include "vorn_docker_core.h"
#include "vorn_version.h"

namespace {

struct group_array {
  const char *key;
  vorn_group group;
};

constexpr group_array report_groups[] = {
    {"memcaches", vorn_group::memcache}, {"beanstalks", vorn_group::beanstalk}, {"custom", vorn_group::custom},
    {"mysqls", vorn_group::mysql},       {"redises", vorn_group::redis},        {"mycustoms", vorn_group::mycustoms},
};

// A counter that leaves a level open would leave the whole report
// unfinishable: whatever it opened is closed behind it.
void append_counter(bson *b, vorn_mycustom_counter &c) {
  if (!c.tobson) return;
  int depth = b->stackPos;
  c.tobson(&c, b);
  while (b->skipDepth > 0 || b->stackPos > depth) vorn_bson_append_finish_object(b);
}

}  // namespace

int stats_to_bson(uint8_t **res, uint32_t *len, unsigned long localAddress) {
  *res = nullptr;
  *len = 0;
  vorn_bson_doc doc;
  bson *b = doc.get();
  time_t now = time(nullptr);

  if (config.id != 0) {
    vorn_bson_append_int(b, "id", (int32_t)config.id);
  } else {
    vorn_bson_append_string(b, "uuid", config.uuid);
    vorn_bson_append_string(b, "server_name", config.server_name);
    vorn_bson_append_string(b, "project_name", config.project_name);
    vorn_bson_append_string(b, "project_secret", config.project_secret);
  }
  if (localAddress != 0) vorn_bson_append_long(b, "local_ip", (int64_t)(uint32_t)localAddress);
  vorn_bson_append_string(b, "name", config.name);
  vorn_bson_append_int(b, "time", (int32_t)now);
  vorn_bson_append_int(b, "interval", (int32_t)config.interval);
  vorn_bson_append_string(b, "version", VORN_VERSION);
  vorn_bson_append_int(b, "custom_errors", stats.custom_errors);

  for (unsigned slot = 0; slot < stats.ncore_counters && slot < 7; slot++)
    append_counter(b, stats.core_counters[slot]);

  for (const group_array &g : report_groups) {
    vorn_bson_append_start_array(b, g.key);
    vorn_group_view v = vorn_stats_group(stats, g.group);
    for (unsigned i = 0; i < v.count; i++) append_counter(b, v.slots[i]);
    vorn_bson_append_finish_array(b);
  }

  vorn_docker_tobson(config.docker, b);

  if (vorn_bson_finish(b) != 0) return -1;
  int size = vorn_bson_size(b);
  auto *copy = static_cast<uint8_t *>(malloc((size_t)size));
  if (!copy) return -1;
  memcpy(copy, vorn_bson_data(b), (size_t)size);
  *res = copy;
  *len = (uint32_t)size;
  return 0;
}
