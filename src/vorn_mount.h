#pragma once
// Mount counter: space and inode figures of the file systems picked from the
// mount table at start.

#include <sys/statvfs.h>

#include <cstdint>

#include "mycustom.h"

struct mibmount {
  int ok;
  int32_t index;
  char name[256];
  uint64_t free;
  uint64_t total;
  double inodes_usage;  // free inodes / total inodes
  double space_usage;   // available blocks / total blocks
};

constexpr int VORN_MAX_MOUNTS = 255;

struct vorn_mycustom_data_mount {
  int ok;
  uint8_t nmnts;
  mibmount mibmount_list[VORN_MAX_MOUNTS];
};

int excluded_mount(const char *path);
// Whether a mount-table entry is watched: a /dev device, a FUSE file system,
// or tmpfs unless tmpfs is excluded; never an excluded path.
bool mount_is_watched(const char *device, const char *dir, const char *type);
// The figures of one mount from its statvfs result (null: query failed).
void mount_figures(const struct statvfs *sv, mibmount &m);

int32_t mount_init(vorn_mycustom_counter *cnt);
int32_t mount_update(vorn_mycustom_counter *cnt);
int32_t mount_tobson(vorn_mycustom_counter *cnt, bson *b);
int32_t mount_dump(vorn_mycustom_counter *cnt);
int32_t mount_free(vorn_mycustom_counter *cnt);

extern const vorn_counter_ops mount_ops;
