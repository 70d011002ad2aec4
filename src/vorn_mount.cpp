#include "vorn_mount.h"

#include <mntent.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "bson.h"
#include "vorn_config.h"
#include "vorn_counter_data.h"
#include "vorn_text.h"

using mount_data = vorn_mycustom_data_mount;

int excluded_mount(const char *path) {
  return in_excludelist(path, config.path_exclude_masks, config.path_exclude_masks_count);
}

bool mount_is_watched(const char *device, const char *dir, const char *type) {
  bool candidate = strncmp(device, "/dev", 4) == 0 || strncmp(type, "fuse.", 5) == 0 ||
                   (config.exclude_tmpfs == 0 && strcmp(device, "tmpfs") == 0);
  return candidate && !excluded_mount(dir);
}

void mount_figures(const struct statvfs *sv, mibmount &m) {
  if (!sv) {
    m.free = m.total = 0;
    m.inodes_usage = m.space_usage = 0;
    return;
  }
  m.free = ((uint64_t)sv->f_bsize * sv->f_bavail) >> 20;
  m.total = ((uint64_t)sv->f_bsize * sv->f_blocks) >> 20;
  m.inodes_usage = sv->f_files ? (double)sv->f_ffree / (double)sv->f_files : 0;
  m.space_usage = sv->f_blocks ? (double)sv->f_bavail / (double)sv->f_blocks : 0;
}

static bool listed(const mount_data &d, const char *dir) {
  for (int i = 0; i < d.nmnts; i++)
    if (strncmp(d.mibmount_list[i].name, dir, sizeof d.mibmount_list[i].name - 1) == 0) return true;
  return false;
}

int32_t mount_init(vorn_mycustom_counter *cnt) {
  vorn_alloc_records<mount_data>(cnt, false);
  vorn_copy(cnt->report, "Mount");
  auto *d = static_cast<mount_data *>(cnt->data);
  if (!d) return 0;
  std::unique_ptr<FILE, int (*)(FILE *)> table(setmntent("/etc/mtab", "r"), endmntent);
  if (!table) {
    d->ok = 0;
    return 0;
  }
  struct mntent entry;
  char buf[4096];
  while (getmntent_r(table.get(), &entry, buf, sizeof buf)) {
    if (!mount_is_watched(entry.mnt_fsname, entry.mnt_dir, entry.mnt_type)) continue;
    if (listed(*d, entry.mnt_dir)) continue;  // one entry per mount point, one key in the report
    if (d->nmnts >= VORN_MAX_MOUNTS) break;
    mibmount &m = d->mibmount_list[d->nmnts++];
    m.index = d->nmnts;
    m.ok = 1;
    vorn_copy(m.name, entry.mnt_dir);
  }
  d->ok = 1;
  return 1;
}

int32_t mount_update(vorn_mycustom_counter *cnt) {
  auto *d = static_cast<mount_data *>(cnt->data);
  if (!d) return 1;
  // One query per mount gives all four figures.
  for (int i = 0; i < d->nmnts; i++) {
    mibmount &m = d->mibmount_list[i];
    struct statvfs sv;
    mount_figures(statvfs(m.name, &sv) == 0 ? &sv : nullptr, m);
    m.ok = 1;
  }
  return 1;
}

int32_t mount_tobson(vorn_mycustom_counter *cnt, bson *b) {
  const auto *d = static_cast<const mount_data *>(cnt->data);
  if (!d) return 1;
  vorn_bson_append_start_object(b, "mounts");
  for (int i = 0; d->ok && i < d->nmnts; i++) {
    const mibmount &m = d->mibmount_list[i];
    if (!m.ok || excluded_mount(m.name)) continue;
    vorn_bson_append_start_object(b, m.name);
    vorn_bson_append_long(b, "ok", m.ok);
    vorn_bson_append_string(b, "name", m.name);
    vorn_bson_append_long(b, "free", (int64_t)m.free);
    vorn_bson_append_long(b, "total", (int64_t)m.total);
    vorn_bson_append_double(b, "space_perc", m.space_usage);
    vorn_bson_append_double(b, "inodes_perc", m.inodes_usage);
    vorn_bson_append_finish_object(b);
  }
  vorn_bson_append_finish_object(b);
  return 1;
}

int32_t mount_dump(vorn_mycustom_counter *cnt) {
  const auto *d = static_cast<const mount_data *>(cnt->data);
  if (!d) return 1;
  printf("MyCustom %s report %s(%d) :\n", cnt->report, cnt->id, d->ok);
  for (int i = 0; i < d->nmnts; i++) {
    const mibmount &m = d->mibmount_list[i];
    printf("\tMount = %s\n", m.name);
    printf("\t\tok = %d\n", m.ok);
    printf("\t\ttotal = %llu\n", (unsigned long long)m.total);
    printf("\t\tfree = %llu\n", (unsigned long long)m.free);
    printf("\t\tfree perc = %lf\n", m.space_usage);
    printf("\t\tinodes free perc = %lf\n", m.inodes_usage);
  }
  return 1;
}

int32_t mount_free(vorn_mycustom_counter *cnt) { return vorn_free_records(cnt); }

const vorn_counter_ops mount_ops = {mount_init, nullptr, mount_update, nullptr, mount_tobson, mount_dump, mount_free};
