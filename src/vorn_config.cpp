#include "vorn_config.h"

#include <glob.h>
#include <sys/sysinfo.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "vorn_core.h"
#include "vorn_custom.h"
#include "vorn_docker_core.h"
#include "vorn_file.h"
#include "vorn_net.h"
#include "vorn_os.h"
#include "vorn_socket.h"
#include "vorn_parse.h"
#include "vorn_text.h"
#include "vorn_version.h"

vorn_config config;

static constexpr const char *default_path_masks[] = {"/dev/shm", "/run/lock",    "/run/shm",
                                                     "/run",     "/dev",         "/proc/sys",
                                                     "/lib/init/rw", "/boot/efi", "/run/user/*"};

int init_config() {
  memset(&config, 0, sizeof config);
  vorn_copy(config.configFile, "/etc/vorn.conf");
  vorn_copy(config.extConfigPattern, "/etc/vorn.d/*.conf");
  config.interval = 15;
  config.proto = 17;
  config.port = 8641;
  for (const char *mask : default_path_masks)
    vorn_copy(config.path_exclude_masks[config.path_exclude_masks_count++], mask);
  config.custom_counters_delimiter = 4;
  config.custom_default_uid = 65534;
  config.custom_default_gid = 65534;
  config.custom_default_timeout = 5;
  config.counter_tcp_to = 2;
  config.server_tcp_to = 4;
  config.mysql_write_to = 3;
  config.mysql_read_to = 3;
  config.mysql_connect_to = 10;
  vorn_copy(config.mysql_lib, "libmysqlclient.so");
  vorn_copy(config.postgre_lib, "libpq.so");
  vorn_copy(config.slow_query_sec, "100");
  config.apacheSlashed = 1;
  config.uptime_at_startup = get_uptime();
  return 0;
}

long get_uptime() {
  struct sysinfo info;
  int rc = sysinfo(&info);
  if (rc != 0) {
    printf("error in sysinfo() = %d\n", rc);
    return 0;
  }
  return info.uptime;
}

static int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int parse_uuid(const char *uuid, key_t *key) {
  // Five hexadecimal groups separated by single hyphens; a group too large
  // for 32 bits saturates to all bits set. Text after the fifth group is
  // not looked at.
  std::string_view s(uuid ? uuid : "");
  uint32_t groups[5] = {};
  int converted = 0;
  size_t pos = 0;
  for (int g = 0; g < 5; g++) {
    if (g > 0) {
      if (pos >= s.size() || s[pos] != '-') break;
      pos++;
    }
    uint64_t v = 0;
    size_t start = pos;
    while (pos < s.size() && hex_digit(s[pos]) >= 0) {
      if (v <= 0xFFFFFFFFULL) v = v * 16 + hex_digit(s[pos]);
      pos++;
    }
    if (pos == start) break;
    groups[g] = v > 0xFFFFFFFFULL ? 0xFFFFFFFFU : (uint32_t)v;
    converted++;
  }
  uint32_t k = 0;
  for (uint32_t v : groups) k ^= v;
  *key = (key_t)k;
  return converted == 5;
}

int is_valid_int(const char *str) {
  if (!str) return 0;
  if (*str == '-') str++;
  if (!*str) return 0;
  for (; *str; str++)
    if (*str < '0' || *str > '9') return 0;
  return 1;
}

int in_excludelist(const char *needle, const char (*haystack)[256], int size) {
  std::string_view n(needle);
  for (int i = 0; i < size; i++) {
    std::string_view mask(haystack[i], strnlen(haystack[i], 256));
    if (mask.size() >= 2 && mask.back() == '*') {
      if (n.starts_with(mask.substr(0, mask.size() - 1))) return 1;
    } else if (n == mask) {
      return 1;
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Configuration files

namespace {

// One line split into its first two blank-separated words; each word is cut
// to 255 characters.
struct line_ctx {
  const char *line;
  char key[256];
  char value[256];
};

long number(const char *v) { return strtol(v, nullptr, 10); }

// The line from its nth character on (the first character counts as the
// first); empty when the line is shorter.
const char *line_from(const char *line, size_t n) {
  size_t len = strlen(line);
  return line + (n - 1 <= len ? n - 1 : len);
}

enum class text_source { line_from, value_word, server_status };

struct service_kind {
  vorn_group group;
  text_source source;
  size_t from_char;                 // for line_from and server_status
  int32_t *flag;                    // set to 1 when a counter is registered
  const vorn_counter_ops *ops;      // null while the kind has no operations
};

int register_service(const line_ctx &c, const service_kind &k) {
  vorn_mycustom_counter *slot = vorn_stats_add(stats, k.group);
  if (!slot) {
    printf("ERROR: too many '%s' lines (at most %u of this kind), line ignored\n", c.key,
           vorn_stats_group(stats, k.group).capacity);
    return 0;
  }
  char built[256];
  const char *text = c.value;
  if (k.source == text_source::line_from) {
    text = line_from(c.line, k.from_char);
  } else if (k.source == text_source::server_status) {
    snprintf(built, sizeof built, "general server_status uid=0 gid=0 interval=1 type=%d %s", 11001,
             line_from(c.line, k.from_char));
    text = built;
  }
  vorn_counter_set(slot, text, k.ops ? *k.ops : vorn_counter_ops{});
  if (k.flag) *k.flag = 1;
  return 0;
}

using enum vorn_group;
constexpr service_kind custom_kind{custom, text_source::line_from, 7, nullptr, &custom_ops};
constexpr service_kind server_status_kind{custom, text_source::server_status, 14, nullptr, &custom_ops};
constexpr service_kind mysql_kind{mysql, text_source::line_from, 7, &config.mysql_on, nullptr};
constexpr service_kind memcache_kind{memcache, text_source::value_word, 0, nullptr, nullptr};
constexpr service_kind beanstalk_kind{beanstalk, text_source::value_word, 0, nullptr, nullptr};
constexpr service_kind redis_kind{redis, text_source::line_from, 7, nullptr, nullptr};
constexpr service_kind mongodb_kind{mycustoms, text_source::line_from, 9, nullptr, nullptr};
constexpr service_kind sphinx_kind{mycustoms, text_source::line_from, 8, &config.mysql_on, nullptr};
constexpr service_kind rabbit_kind{mycustoms, text_source::line_from, 8, nullptr, nullptr};
constexpr service_kind elastic_kind{mycustoms, text_source::line_from, 9, nullptr, nullptr};
constexpr service_kind apache_kind{mycustoms, text_source::line_from, 8, nullptr, nullptr};
constexpr service_kind nginx_kind{mycustoms, text_source::line_from, 7, nullptr, nullptr};
constexpr service_kind fpm_kind{mycustoms, text_source::line_from, 5, nullptr, nullptr};
constexpr service_kind postgresql_kind{mycustoms, text_source::line_from, 12, &config.postgre_on, nullptr};

template <size_t N>
void append_mask(char (&list)[N][256], int32_t &count, const char *value) {
  if (count < (int32_t)N) vorn_copy(list[count++], value);
}

int set_interval(const line_ctx &c) {
  long v = number(c.value);
  if (v < 1 || v > INT32_MAX) {
    printf("ERROR: interval must be a whole number of seconds, at least 1 (got '%s')\n", c.value);
    return 1;
  }
  config.interval = (uint32_t)v;
  return 0;
}

// The container table, set up on every id or uuid line; without it the
// agent goes on without Docker support.
void set_up_docker_table() {
  if (docker_init(&config.docker)) vorn_docker_set_sock(config.docker, config.docker_sock_path);
}

int set_docker_sock(const line_ctx &c) {
  const char *from = line_from(c.line, 13);
  size_t len = strcspn(from, "\n");
  free(config.docker_sock_path);
  config.docker_sock_path = strndup(from, len);
  if (!config.docker_sock_path) return 0;
  vorn_docker_set_sock(config.docker, config.docker_sock_path);
  printf("Docker socket '%s'\n", config.docker_sock_path);
  return 0;
}

struct key_row {
  const char *key;
  bool prefix;
  int (*apply)(const line_ctx &);
};

#define SERVICE(kind) [](const line_ctx &c) { return register_service(c, kind); }

constexpr key_row key_table[] = {
    {"id", false,
     [](const line_ctx &c) {
       config.id = (uint32_t)number(c.value);
       config.shm_key = (key_t)config.id;
       set_up_docker_table();
       return 0;
     }},
    {"uuid", false,
     [](const line_ctx &c) {
       vorn_copy(config.uuid, c.value);
       if (!parse_uuid(config.uuid, &config.shm_key)) {
         printf("ERROR: UUID must be in aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee format\n");
         return 1;
       }
       set_up_docker_table();
       return 0;
     }},
    {"server_name", false, [](const line_ctx &c) { return vorn_copy(config.server_name, c.value), 0; }},
    {"project_name", false, [](const line_ctx &c) { return vorn_copy(config.project_name, c.value), 0; }},
    {"project_secret", false, [](const line_ctx &c) { return vorn_copy(config.project_secret, c.value), 0; }},
    {"proto", false,
     [](const line_ctx &c) {
       if (strcmp(c.value, "tcp") == 0) config.proto = 6;
       return 0;
     }},
    {"address", false, [](const line_ctx &c) { return vorn_copy(config.defaultServerIp, c.value), 0; }},
    {"domain", false, [](const line_ctx &c) { return vorn_copy(config.serverName, c.value), 0; }},
    {"interval", false, set_interval},
    {"port", false, [](const line_ctx &c) { return config.port = (int32_t)number(c.value), 0; }},
    {"nameserver", false,
     [](const line_ctx &c) { return append_mask(config.dns_servers, config.dns_servers_count, c.value), 0; }},
    {"secret", false, [](const line_ctx &c) { return vorn_copy(config.secret, c.value), 0; }},
    {"mem_slab_as_cached", false,
     [](const line_ctx &c) { return config.mem_slab_as_cached = number(c.value) > 0 ? 1 : 0, 0; }},
    {"mysql_connect_to", false,
     [](const line_ctx &c) { return config.mysql_connect_to = (int32_t)number(c.value), 0; }},
    {"mysql_read_to", false, [](const line_ctx &c) { return config.mysql_read_to = (int32_t)number(c.value), 0; }},
    {"mysql_write_to", false,
     [](const line_ctx &c) { return config.mysql_write_to = (int32_t)number(c.value), 0; }},
    {"server_tcp_to", false, [](const line_ctx &c) { return config.server_tcp_to = (int32_t)number(c.value), 0; }},
    {"counter_tcp_to", false,
     [](const line_ctx &c) { return config.counter_tcp_to = (int32_t)number(c.value), 0; }},
    {"slow_query_sec", false, [](const line_ctx &c) { return vorn_copy(config.slow_query_sec, c.value), 0; }},
    {"custom_counters_delimiter", true,
     [](const line_ctx &c) { return config.custom_counters_delimiter = (int32_t)number(c.value), 0; }},
    {"custom_uid", true, [](const line_ctx &c) { return config.custom_default_uid = (int32_t)number(c.value), 0; }},
    {"custom_gid", true, [](const line_ctx &c) { return config.custom_default_gid = (int32_t)number(c.value), 0; }},
    {"custom", true, SERVICE(custom_kind)},
    {"server_status", true, SERVICE(server_status_kind)},
    {"mysql_lib", false, [](const line_ctx &c) { return vorn_copy(config.mysql_lib, c.value), 0; }},
    {"mysql_", true, SERVICE(mysql_kind)},
    {"memcache", false, SERVICE(memcache_kind)},
    {"beanstalk", false, SERVICE(beanstalk_kind)},
    {"redis_", true, SERVICE(redis_kind)},
    {"mongodb", true, SERVICE(mongodb_kind)},
    {"sphinx", true, SERVICE(sphinx_kind)},
    {"rabbit", true, SERVICE(rabbit_kind)},
    {"elastic", true, SERVICE(elastic_kind)},
    {"apache", true, SERVICE(apache_kind)},
    {"nginx", true, SERVICE(nginx_kind)},
    {"fpm", true, SERVICE(fpm_kind)},
    {"docker_sock", false, set_docker_sock},
    {"slashedApache", false, [](const line_ctx &c) { return config.apacheSlashed = (int32_t)number(c.value), 0; }},
    {"postgre_lib", false, [](const line_ctx &c) { return vorn_copy(config.postgre_lib, c.value), 0; }},
    {"postgresql_", true, SERVICE(postgresql_kind)},
    {"exclude_tmpfs", false, [](const line_ctx &c) { return config.exclude_tmpfs = (int32_t)number(c.value), 0; }},
    {"exclude_mount", false,
     [](const line_ctx &c) {
       return append_mask(config.path_exclude_masks, config.path_exclude_masks_count, c.value), 0;
     }},
    {"exclude_interfaces", false,
     [](const line_ctx &c) {
       return append_mask(config.interface_exclude_masks, config.interface_exclude_masks_count, c.value), 0;
     }},
};

#undef SERVICE

// Applies one line; non-zero rejects the file.
int apply_line(const char *line) {
  line_ctx c{line, {}, {}};
  std::string_view rest(line);
  vorn_copy(c.key, vorn_next_word(rest));
  vorn_copy(c.value, vorn_next_word(rest));
  std::string_view key(c.key);
  for (const key_row &row : key_table) {
    if (row.prefix ? key.starts_with(row.key) : key == row.key) return row.apply(c);
  }
  return 0;
}

int check_identity() {
  if (config.id != 0) return 0;
  if (config.uuid[0] == '\0') {
    printf("ERROR: set server id or uuid!\n");
    return 1;
  }
  if (strlen(config.uuid) != 36) {
    printf("ERROR: UUID must be in aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee format\n");
    return 1;
  }
  int rejected = 0;
  if (config.server_name[0] == '\0') {
    printf("ERROR: When using server UUID instead of ID, 'server_name' must be specified\n");
    rejected = 1;
  }
  if (config.project_name[0] == '\0') {
    printf("ERROR: When using server UUID instead of ID, 'project_name' must be specified\n");
    rejected = 1;
  }
  return rejected;
}

struct glob_owner {
  glob_t g{};
  ~glob_owner() { globfree(&g); }
};

}  // namespace

int parse_config_file(const char *full_file_path) {
  if (config.debug) printf("Reading config file %s\n", full_file_path);
  vorn_file f(fopen(full_file_path, "r"));
  if (!f) {
    printf("Config file %s not found!\n", full_file_path);
    return 1;
  }
  config.mem_slab_as_cached = 0;
  char line[4096];
  while (fgets(line, sizeof line, f.get())) {
    if (apply_line(line)) return 1;
  }
  f.reset();
  return check_identity();
}

int parse_config() {
  config.id = 0;
  config.extConfigCount = 0;
  int rc = parse_config_file(config.configFile);
  if (rc) return rc;
  glob_owner files;
  if (glob(config.extConfigPattern, 0, nullptr, &files.g) != 0) return 0;
  for (size_t i = 0; i < files.g.gl_pathc; i++) {
    const char *path = files.g.gl_pathv[i];
    rc = parse_config_file(path);
    if (rc) return rc;
    if (config.extConfigCount < 256) {
      char *copy = strdup(path);
      if (copy) config.extConfigFiles[config.extConfigCount++] = copy;
    }
  }
  return 0;
}

void vorn_config_release() {
  for (int i = 0; i < config.extConfigCount; i++) {
    printf("Freeing [%d] %s\n", i, config.extConfigFiles[i]);
    free(config.extConfigFiles[i]);
    config.extConfigFiles[i] = nullptr;
  }
  config.extConfigCount = 0;
  free(config.docker_sock_path);
  config.docker_sock_path = nullptr;
}

// ---------------------------------------------------------------------------
// Command line and printers

void print_help() {
  printf("VORN " VORN_VERSION "\n");
  printf("Build on: \n");
  printf("  -h       print this message\n");
  printf("  -v       print version\n");
  printf("  --osver  print OS version\n");
  printf("  --debug  enable debug info\n");
  printf("  --config set config file (/etc/vorn.conf by default)\n");
  printf("  --conf-glob\tpattern for multi-config (/etc/vorn.d/*.conf by default)\n");
  printf("  --ifs    print net interfaces stats\n");
  printf("  --sock   print sockets stats\n");
}

void print_version() {
  printf(VORN_VERSION "\n");
  printf("Build on: \n");
}

// Fills one core slot with its kind, takes one sample and prints it with
// show.
static void run_core_printer(int slot, mycustom_dump show) {
  vorn_mycustom_counter &c = stats.core_counters[slot];
  vorn_counter_set(&c, nullptr, vorn_core_ops(slot));
  if (c.init) c.init(&c);
  if (c.update) c.update(&c);
  if (show) show(&c);
  if (c.free) c.free(&c);
}

void print_osversion() { run_core_printer(VORN_CORE_OS, os_dump); }
void print_sockstats() { run_core_printer(VORN_CORE_SOCKET, socket_dump); }
// One sample has no rates: the interfaces with their cumulative byte counts.
void print_ifsstats() { run_core_printer(VORN_CORE_NET, net_dump_sample); }

int parse_options(int argc, char **argv) {
  for (int i = 1; i < argc; i++) {
    std::string_view a(argv[i]);
    if (a == "-h") {
      print_help();
      exit(0);
    } else if (a == "-v") {
      print_version();
      exit(0);
    } else if (a == "--osver") {
      print_osversion();
      exit(0);
    } else if (a == "--debug") {
      config.debug = 1;
    } else if (a == "--conf-glob" || a == "--config") {
      if (i + 1 >= argc) {
        printf("ERROR: %s needs an argument\n", argv[i]);
        exit(1);
      }
      i++;
      if (a == "--config") {
        vorn_copy(config.configFile, argv[i]);
        printf("Config file: %s\n", config.configFile);
      } else {
        vorn_copy(config.extConfigPattern, argv[i]);
        printf("Ext config pattern: %s\n", config.extConfigPattern);
      }
    } else if (a == "--ifs") {
      print_ifsstats();
      exit(0);
    } else if (a == "--sock") {
      print_sockstats();
      exit(0);
    } else if (a == "--showconfig") {
      config.showconfigonly = 1;
    } else {
      printf("Unknown option %s\n", argv[i]);
    }
  }
  return 0;
}

int print_config() {
  printf("Config:\n");
  printf("\tdebug: %d\n", config.debug);
  printf("\tname: %s\n", config.name);
  printf("\tid: %d\n", (int)config.id);
  printf("\tUUID: %s\n", config.uuid);
  printf("\tServer name: %s\n", config.server_name);
  printf("\tProject name: %s\n", config.project_name);
  printf("\tinterval: %d\n", (int)config.interval);
  printf("\tproto: %d\n", config.proto);
  printf("\tport: %d\n", config.port);
  printf("\tdefault server ip: %s\n", config.defaultServerIp);
  printf("\tserver ip: %s\n", config.serverIp);
  printf("\tdefault server name: %s\n", config.serverName);
  printf("\tcounter_tcp_to: %d\n", config.counter_tcp_to);
  printf("\tserver_tcp_to: %d\n", config.server_tcp_to);
  printf("\tmysql_write_to: %d\n", config.mysql_write_to);
  printf("\tmysql_read_to: %d\n", config.mysql_read_to);
  printf("\tmysql_connect_to: %d\n", config.mysql_connect_to);
  printf("\tslow_query_sec: %s\n", config.slow_query_sec);
  printf("\tconfig file: %s\n", config.configFile);
  for (int i = 0; i < config.extConfigCount; i++) printf("\t\t%s\n", config.extConfigFiles[i]);
  return 0;
}
