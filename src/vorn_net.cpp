#include "vorn_net.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "bson.h"
#include "vorn_config.h"
#include "vorn_counter_data.h"
#include "vorn_named_list.h"
#include "vorn_parse.h"
#include "vorn_rate.h"
#include "vorn_readfile.h"
#include "vorn_text.h"

using net_data = vorn_mycustom_data_net;

int excluded_interface(const char *name) {
  return in_excludelist(name, config.interface_exclude_masks, config.interface_exclude_masks_count);
}

void net_parse_dev(std::string_view text, net_data &s) {
  int was_ok = s.ok;
  s.ndevs = 0;
  int header = 2;
  vorn_for_lines(text, [&](std::string_view line) {
    if (header > 0) return header--, true;
    // "  eth0: 123 ..." or "eth0:123 ...": the name ends at the first colon.
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return true;
    std::string_view head = line.substr(0, colon);
    std::string name(vorn_next_word(head));
    std::string_view rest = line.substr(colon + 1);
    if (name.empty() || excluded_interface(name.c_str()) || vorn_named_find(s.mibnet_list, s.ndevs, name)) return true;
    mibnet *e = vorn_named_add(s.mibnet_list, s.ndevs, name);
    if (!e) return false;
    e->ok = was_ok;
    uint64_t f[9];
    for (uint64_t &v : f) v = vorn_to_u64(vorn_next_word(rest));
    e->rbytes = f[0];
    e->sbytes = f[8];
    return true;
  });
}

void net_compute_delta(const net_data &cur, const net_data &prev, net_data &delta, uint32_t interval) {
  delta.ndevs = 0;
  for (int i = 0; i < cur.ndevs; i++) {
    const mibnet &c = cur.mibnet_list[i];
    const mibnet *p = vorn_named_find(prev.mibnet_list, prev.ndevs, c.device);
    if (!p) continue;
    mibnet *d = vorn_named_add(delta.mibnet_list, delta.ndevs, c.device);
    if (!d) break;
    d->rbytes = vorn_rate(c.rbytes, p->rbytes, interval);
    d->sbytes = vorn_rate(c.sbytes, p->sbytes, interval);
    d->ok = c.ok && p->ok;
  }
  delta.ok = 1;
}

int32_t net_init(vorn_mycustom_counter *cnt) {
  vorn_alloc_records<net_data>(cnt, true);
  vorn_copy(cnt->report, "net");
  return 1;
}

int32_t net_update(vorn_mycustom_counter *cnt) {
  auto *d = static_cast<net_data *>(cnt->data);
  if (!d) return 0;
  static std::string text;
  if (!vorn_read_file("/proc/net/dev", text)) {
    d->ok = 0;
    return 0;
  }
  net_parse_dev(text, *d);
  d->ok = 1;
  return 1;
}

int32_t net_delta(vorn_mycustom_counter *cnt, uint32_t, uint64_t iteration) {
  auto *cur = static_cast<net_data *>(cnt->data);
  auto *prev = static_cast<net_data *>(cnt->data_prev);
  auto *delta = static_cast<net_data *>(cnt->data_delta);
  if (!cur || !prev || !delta) return 1;
  delta->ndevs = 0;
  if (iteration == 0 || !cur->ok || !prev->ok)
    delta->ok = 0;
  else
    net_compute_delta(*cur, *prev, *delta, config.interval);
  prev->ok = cur->ok;
  prev->ndevs = cur->ndevs;
  memcpy(prev->mibnet_list, cur->mibnet_list, sizeof(mibnet) * cur->ndevs);
  return 1;
}

int32_t net_tobson(vorn_mycustom_counter *cnt, bson *b) {
  const auto *d = static_cast<const net_data *>(cnt->data_delta);
  if (!d) return 1;
  vorn_bson_append_start_object(b, "net");
  for (int i = 0; d->ok && i < d->ndevs; i++) {
    const mibnet &e = d->mibnet_list[i];
    if (!e.ok) continue;
    vorn_bson_append_start_object(b, e.device);
    vorn_bson_append_long(b, "ok", e.ok);
    vorn_bson_append_string(b, "name", e.device);
    vorn_bson_append_long(b, "rbytes", (int64_t)(e.rbytes * 8));
    vorn_bson_append_long(b, "sbytes", (int64_t)(e.sbytes * 8));
    vorn_bson_append_finish_object(b);
  }
  vorn_bson_append_finish_object(b);
  return 1;
}

static int32_t dump_list(const vorn_mycustom_counter *cnt, const net_data *d) {
  if (!d) return 1;
  printf("MyCustom %s report %s(%d) :\n", cnt->report, cnt->id, d->ok);
  printf("\tNet interfaces:\n");
  for (int i = 0; i < d->ndevs; i++) {
    const mibnet &e = d->mibnet_list[i];
    printf("\tok = %d\n", e.ok);
    printf("\tdev = %s\n", e.device);
    printf("\tbytes read = %llu\n", (unsigned long long)e.rbytes);
    printf("\tbytes write = %llu\n", (unsigned long long)e.sbytes);
  }
  return 1;
}

int32_t net_dump(vorn_mycustom_counter *cnt) { return dump_list(cnt, static_cast<const net_data *>(cnt->data_delta)); }
int32_t net_dump_sample(vorn_mycustom_counter *cnt) { return dump_list(cnt, static_cast<const net_data *>(cnt->data)); }

int32_t net_free(vorn_mycustom_counter *cnt) { return vorn_free_records(cnt); }

const vorn_counter_ops net_ops = {net_init, nullptr, net_update, net_delta, net_tobson, net_dump, net_free};
