#include "vorn_os.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bson.h"
#include "vorn_config.h"
#include "vorn_counter_data.h"
#include "vorn_parse.h"
#include "vorn_readfile.h"
#include "vorn_text.h"

using os_data = vorn_mycustom_data_os;

int isVer(const char *text) {
  for (; *text; text++)
    if (!((*text >= '0' && *text <= '9') || *text == '.')) return 0;
  return 1;
}

void strcpyfilter(const char *src, char *dst, char d) {
  for (; *src; src++)
    if (*src != d) *dst++ = *src;
  *dst = '\0';
}

namespace {

enum class family { unknown, redhat, debian };

// The value after a "KEY=" prefix, double quotes removed, cut to 31.
void unquoted(std::string_view value, char (&out)[32]) {
  std::string v;
  for (char c : value)
    if (c != '"') v += c;
  vorn_copy(out, v);
}

family from_os_release(std::string_view text, char (&name)[32], char (&version)[32]) {
  family f = family::unknown;
  vorn_for_lines(text, [&](std::string_view line) {
    if (line.starts_with("ID=")) {
      char id[32];
      unquoted(line.substr(3), id);
      std::string_view w(id);
      if (w == "centos" || w == "fedora" || w == "amzn") {
        f = family::redhat;
      } else if (w == "ubuntu" || w == "debian") {
        f = family::debian;
      } else {
        f = family::unknown;
        return false;  // an unknown family ends the reading of this file
      }
    } else if (line.starts_with("NAME=")) {
      unquoted(line.substr(5), name);
    } else if (line.starts_with("VERSION_ID=")) {
      unquoted(line.substr(11), version);
    }
    return true;
  });
  return f;
}

// First line of a release or issue file: the first word names the
// distribution, the last word made of digits and dots is the version.
family from_first_line(std::string_view text, bool debian_too, char (&name)[32], char (&version)[32]) {
  std::string_view line = text.substr(0, text.find('\n'));
  size_t sp = line.find(' ');
  std::string_view first = line.substr(0, sp);
  family f = family::unknown;
  if (first == "CentOS" || first == "Fedora" || first == "Amazon" || first == "Red")
    f = family::redhat;
  else if (debian_too && (first == "Ubuntu" || first == "Debian"))
    f = family::debian;
  if (f == family::unknown) return f;
  vorn_copy(name, first);
  while (sp != std::string_view::npos) {
    line.remove_prefix(sp + 1);
    sp = line.find(' ');
    std::string word(line.substr(0, sp));
    if (isVer(word.c_str())) vorn_copy(version, word);
  }
  return f;
}

}  // namespace

void os_detect_release(const vorn_file_reader &read, char (&name)[32], char (&version)[32]) {
  vorn_copy(name, "unknown");
  vorn_copy(version, "unknown");
  std::string text;
  family f = family::unknown;
  if (read("/etc/os-release", text)) f = from_os_release(text, name, version);
  if (f == family::unknown && read("/etc/redhat-release", text)) f = from_first_line(text, false, name, version);
  if (f == family::unknown && read("/etc/issue", text)) f = from_first_line(text, true, name, version);
  if (f == family::unknown && read("/etc/issue,net", text)) f = from_first_line(text, true, name, version);
  static constexpr std::pair<const char *, const char *> names[] = {{"Debian GNU/Linux", "Debian"},
                                                                    {"CentOS Linux", "CentOS"},
                                                                    {"Amazon Linux AMI", "AmazonLinux"},
                                                                    {"Amazon", "AmazonLinux"},
                                                                    {"Red", "RHEL"}};
  for (auto [from, to] : names)
    if (strcmp(name, from) == 0) vorn_copy(name, to);
}

uint32_t os_parse_statm(std::string_view statm, long page_size) {
  vorn_next_word(statm);
  uint64_t resident = vorn_to_u64(vorn_next_word(statm));
  return (uint32_t)(resident * (uint64_t)page_size / 1024);
}

int32_t os_init(vorn_mycustom_counter *cnt) {
  vorn_alloc_records<os_data>(cnt, false);
  vorn_copy(cnt->report, "Os");
  return 1;
}

int32_t os_update(vorn_mycustom_counter *cnt) {
  auto *d = static_cast<os_data *>(cnt->data);
  if (!d) return 1;
  char name[32], version[32];
  os_detect_release(vorn_read_file, name, version);
  struct utsname u;
  if (uname(&u) == 0) vorn_copy_n(d->os_bit.text, 32, u.machine);
  vorn_copy_n(d->os_name.text, 32, name);
  vorn_copy_n(d->os_version.text, 32, version);
  static std::string text;
  // Unreadable files keep the figures of the last update.
  if (vorn_read_file("/proc/self/statm", text)) d->vorn_memory_used = os_parse_statm(text, sysconf(_SC_PAGESIZE));
  if (vorn_read_file("/proc/sys/fs/file-nr", text)) d->open_files = vorn_to_u64(text);
  if (vorn_read_file("/proc/uptime", text)) {
    d->uptime_sec = (long)strtod(text.c_str(), nullptr);
    // The start-up figure is rounded by the kernel; never report a negative age.
    d->vorn_uptime_sec = d->uptime_sec > config.uptime_at_startup ? d->uptime_sec - config.uptime_at_startup : 0;
  } else {
    d->uptime_sec = d->vorn_uptime_sec = 0;
  }
  d->ok = 1;
  return 1;
}

int32_t os_tobson(vorn_mycustom_counter *cnt, bson *b) {
  const auto *d = static_cast<const os_data *>(cnt->data);
  if (!d) return 1;
  vorn_bson_append_long(b, "ok", d->ok);
  vorn_bson_append_string(b, "os_bit", d->os_bit.text);
  vorn_bson_append_string(b, "os_name", d->os_name.text);
  vorn_bson_append_string(b, "os_version", d->os_version.text);
  vorn_bson_append_long(b, "vorn_memory_used", (int64_t)d->vorn_memory_used);
  vorn_bson_append_long(b, "open_files", (int64_t)d->open_files);
  vorn_bson_append_long(b, "uptime_sec", (int64_t)d->uptime_sec);
  vorn_bson_append_long(b, "vorn_uptime_sec", (int64_t)d->vorn_uptime_sec);
  return 1;
}

int32_t os_dump(vorn_mycustom_counter *cnt) {
  const auto *d = static_cast<const os_data *>(cnt->data);
  if (!d) return 1;
  printf("MyCustom %s report %s(%d) :\n", cnt->report, cnt->id, d->ok);
  printf("\tOS bit = %s\n", d->os_bit.text);
  printf("\tOS name = %s\n", d->os_name.text);
  printf("\tOS version = %s\n", d->os_version.text);
  printf("\tOS open files = %llu\n", (unsigned long long)d->open_files);
  printf("\tOS vorn mem used = %u\n", d->vorn_memory_used);
  printf("\tOS uptime = %ld\n", d->uptime_sec);
  printf("\tOS vorn uptime = %ld\n", d->vorn_uptime_sec);
  return 1;
}

int32_t os_free(vorn_mycustom_counter *cnt) { return vorn_free_records(cnt); }

const vorn_counter_ops os_ops = {os_init, nullptr, os_update, nullptr, os_tobson, os_dump, os_free};
