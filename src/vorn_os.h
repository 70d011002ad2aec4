#pragma once
// OS information counter: distribution name and version, architecture, the
// agent's own memory, open files and uptimes, written at the report's top.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "mycustom.h"

struct vorn_fixed_str {
  char text[256];
};

struct vorn_mycustom_data_os {
  int ok;
  vorn_fixed_str os_bit;
  vorn_fixed_str os_name;
  vorn_fixed_str os_version;
  uint64_t open_files;
  uint32_t vorn_memory_used;
  long uptime_sec;
  long vorn_uptime_sec;
};

int isVer(const char *text);
void strcpyfilter(const char *src, char *dst, char d);

// Reads a file's whole text into out; false when it cannot be opened.
using vorn_file_reader = std::function<bool(const char *path, std::string &out)>;
// Distribution name and version (each at most 31 characters) from the
// release files, as read through read.
void os_detect_release(const vorn_file_reader &read, char (&name)[32], char (&version)[32]);
// Resident memory in KiB from /proc/self/statm text.
uint32_t os_parse_statm(std::string_view statm, long page_size);

int32_t os_init(vorn_mycustom_counter *cnt);
int32_t os_update(vorn_mycustom_counter *cnt);
int32_t os_tobson(vorn_mycustom_counter *cnt, bson *b);
int32_t os_dump(vorn_mycustom_counter *cnt);
int32_t os_free(vorn_mycustom_counter *cnt);

extern const vorn_counter_ops os_ops;
