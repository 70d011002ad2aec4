#include "vorn_disk.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bson.h"
#include "vorn_core.h"
#include "vorn_counter_data.h"
#include "vorn_cpu.h"
#include "vorn_named_list.h"
#include "vorn_parse.h"
#include "vorn_rate.h"
#include "vorn_readfile.h"
#include "vorn_text.h"

using disk_data = vorn_mycustom_data_disk;

bool disk_is_reported(const char *name, bool has_device_link, bool removable) {
  if (!has_device_link) return false;
  return strncmp(name, "sd", 2) == 0 || !removable;
}

bool disk_add_device(disk_data &s, const char *name) {
  return vorn_named_add(s.mibdisk_list, s.ndevs, name) != nullptr;
}

void disk_parse_diskstats(std::string_view text, disk_data &s) {
  vorn_for_lines(text, [&](std::string_view line) {
    vorn_next_word(line);  // major
    vorn_next_word(line);  // minor
    mibdisk *e = vorn_named_find(s.mibdisk_list, s.ndevs, vorn_next_word(line));
    if (!e || e->ok) return true;
    // Fields 4 to 13: reads, merged, sectors read, ms reading, writes,
    // merged, sectors written, ms writing, in flight, ms doing I/O.
    uint64_t f[10];
    for (uint64_t &v : f) v = vorn_to_u64(vorn_next_word(line));
    e->rbytes = f[0];
    e->sRead = f[2];
    e->rticks = f[3];
    e->wbytes = f[4];
    e->sWritten = f[6];
    e->wticks = f[7];
    e->tticks = f[9];
    e->ok = 1;
    return true;
  });
}

double disk_mstot(uint64_t cputot, unsigned ncpus, long hertz) {
  if (ncpus == 0 || hertz <= 0) return 0;
  return (double)((float)(cputot * 1000) / (float)hertz) / ncpus;
}

void disk_compute_delta(const disk_data &cur, const disk_data &prev, disk_data &delta, uint32_t interval,
                        double mstot) {
  uint32_t secs = interval ? interval : 1;
  delta.ndevs = 0;
  for (int i = 0; i < cur.ndevs; i++) {
    const mibdisk &c = cur.mibdisk_list[i];
    const mibdisk *p = vorn_named_find(prev.mibdisk_list, prev.ndevs, c.device);
    mibdisk *added = p ? vorn_named_add(delta.mibdisk_list, delta.ndevs, c.device) : nullptr;
    if (!added) continue;
    mibdisk &d = *added;
    d.rbytes = vorn_rate(c.rbytes, p->rbytes, secs);
    d.wbytes = vorn_rate(c.wbytes, p->wbytes, secs);
    d.rticks = vorn_rate(c.rticks, p->rticks, secs);
    d.wticks = vorn_rate(c.wticks, p->wticks, secs);
    d.tticks = vorn_rate(c.tticks, p->tticks, secs);
    d.sRead = vorn_rate(c.sRead, p->sRead, secs);
    d.sWritten = vorn_rate(c.sWritten, p->sWritten, secs);
    uint64_t ops = d.rbytes + d.wbytes;
    d.avio = ops ? (float)((double)d.tticks / (double)ops) : 0.0f;
    // No CPU ticks measured: no interval length to relate to, busy is 0.
    d.busy = mstot > 0 ? (float)((double)(d.tticks * secs * 100) / mstot) : 0.0f;
    d.ok = c.ok && p->ok;
  }
  delta.ok = 1;
}

int32_t disk_init(vorn_mycustom_counter *cnt) {
  vorn_alloc_records<disk_data>(cnt, true);
  vorn_copy(cnt->report, "disk");
  return 1;
}

static bool read_flag(const std::string &path) {
  char c = 0;
  FILE *f = fopen(path.c_str(), "r");
  if (!f) return false;
  bool one = fread(&c, 1, 1, f) == 1 && c == '1';
  fclose(f);
  return one;
}

int32_t disk_update(vorn_mycustom_counter *cnt) {
  auto *d = static_cast<disk_data *>(cnt->data);
  if (!d) return 0;
  d->ndevs = 0;
  std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir("/sys/block"), closedir);
  if (!dir) {
    d->ok = 0;
    return 0;
  }
  while (struct dirent *e = readdir(dir.get())) {
    if (e->d_name[0] == '.') continue;
    std::string base = std::string("/sys/block/") + e->d_name;
    char link[512];
    bool has_link = readlink((base + "/device").c_str(), link, sizeof link) > 0;
    if (!has_link) continue;
    if (!disk_is_reported(e->d_name, true, read_flag(base + "/removable"))) continue;
    if (!disk_add_device(*d, e->d_name)) break;
  }
  dir.reset();
  static std::string text;
  if (!vorn_read_file("/proc/diskstats", text)) {
    d->ok = 0;
    return 0;
  }
  disk_parse_diskstats(text, *d);
  d->ok = 1;
  return 1;
}

// Copies a sample's used entries only.
static void copy_sample(disk_data &to, const disk_data &from) {
  to.ok = from.ok;
  to.ndevs = from.ndevs;
  memcpy(to.mibdisk_list, from.mibdisk_list, sizeof(mibdisk) * from.ndevs);
}

int32_t disk_delta(vorn_mycustom_counter *cnt, uint32_t interval, uint64_t iteration) {
  auto *cur = static_cast<disk_data *>(cnt->data);
  auto *prev = static_cast<disk_data *>(cnt->data_prev);
  auto *delta = static_cast<disk_data *>(cnt->data_delta);
  if (!cur || !prev || !delta) return 1;
  // The CPU counter's delta of this same cycle tells how long it lasted.
  const auto *cpu = static_cast<const vorn_mycustom_data_cpu *>(stats.core_counters[VORN_CORE_CPU].data_delta);
  double mstot = cpu ? disk_mstot(cpu->cputot, cpu->ncpus, sysconf(_SC_CLK_TCK)) : 0;
  delta->ndevs = 0;
  if (iteration == 0 || !cur->ok || !prev->ok)
    delta->ok = 0;
  else
    disk_compute_delta(*cur, *prev, *delta, interval, mstot);
  copy_sample(*prev, *cur);
  return 1;
}

int32_t disk_tobson(vorn_mycustom_counter *cnt, bson *b) {
  const auto *d = static_cast<const disk_data *>(cnt->data_delta);
  if (!d) return 1;
  vorn_bson_append_start_object(b, "disks");
  for (int i = 0; d->ok && i < d->ndevs; i++) {
    const mibdisk &e = d->mibdisk_list[i];
    if (!e.ok) continue;
    vorn_bson_append_start_object(b, e.device);
    vorn_bson_append_long(b, "ok", e.ok);
    vorn_bson_append_string(b, "name", e.device);
    vorn_bson_append_long(b, "rbytes", (int64_t)e.rbytes);
    vorn_bson_append_long(b, "wbytes", (int64_t)e.wbytes);
    vorn_bson_append_long(b, "rticks", (int64_t)e.rticks);
    vorn_bson_append_long(b, "wticks", (int64_t)e.wticks);
    vorn_bson_append_long(b, "tticks", (int64_t)e.tticks);
    vorn_bson_append_long(b, "sread", (int64_t)e.sRead);
    vorn_bson_append_long(b, "swrite", (int64_t)e.sWritten);
    vorn_bson_append_double(b, "avio", (double)e.avio);
    vorn_bson_append_double(b, "busy", (double)e.busy);
    vorn_bson_append_finish_object(b);
  }
  vorn_bson_append_finish_object(b);
  return 1;
}

int32_t disk_dump(vorn_mycustom_counter *cnt) {
  const auto *d = static_cast<const disk_data *>(cnt->data_delta);
  if (!d) return 1;
  printf("MyCustom %s report %s(%d) :\n", cnt->report, cnt->id, d->ok);
  for (int i = 0; i < d->ndevs; i++) {
    const mibdisk &e = d->mibdisk_list[i];
    printf("\tok = %d\n", e.ok);
    printf("\tdev = %s\n", e.device);
    printf("\tops read = %llu\n", (unsigned long long)e.rbytes);
    printf("\tops write = %llu\n", (unsigned long long)e.wbytes);
    printf("\tsectors read = %llu\n", (unsigned long long)e.sRead);
    printf("\tsectors write = %llu\n", (unsigned long long)e.sWritten);
    printf("\tavio = %lf\n", (double)e.avio);
    printf("\tbusy = %lf\n", (double)e.busy);
  }
  return 1;
}

int32_t disk_free(vorn_mycustom_counter *cnt) { return vorn_free_records(cnt); }

const vorn_counter_ops disk_ops = {disk_init, nullptr, disk_update, disk_delta, disk_tobson, disk_dump, disk_free};
