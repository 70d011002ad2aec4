#pragma once
// The global configuration record, its defaults, the configuration files and
// the command line.

#include <sys/types.h>

#include <cstdint>

struct vorn_docker_t;

struct vorn_config {
  char configFile[1025];
  char extConfigPattern[257];
  int32_t extConfigCount;
  char *extConfigFiles[256];
  char name[1024];
  uint32_t id;
  key_t shm_key;
  char uuid[40];
  char server_name[100];
  char project_name[100];
  char project_secret[100];
  uint32_t interval;
  int32_t proto;
  int32_t port;
  char serverName[1025];
  char defaultServerIp[17];
  char serverIp[17];
  int32_t dns_servers_count;
  char dns_servers[16][256];
  int32_t path_exclude_masks_count;
  char path_exclude_masks[256][256];
  int32_t exclude_tmpfs;
  int32_t interface_exclude_masks_count;
  char interface_exclude_masks[256][256];
  unsigned char secret[256];
  int32_t randomsecond;
  int32_t custom_counters_delimiter;
  int32_t custom_default_uid;
  int32_t custom_default_gid;
  int32_t custom_default_timeout;
  int32_t counter_tcp_to;
  int32_t server_tcp_to;
  int32_t mysql_write_to;
  int32_t mysql_read_to;
  int32_t mysql_connect_to;
  int32_t mem_slab_as_cached;
  char mysql_lib[512];
  int32_t mysql_on;
  void *mysql_handle;
  int32_t postgre_on;
  char postgre_lib[512];
  char slow_query_sec[32];
  void *postgre_handle;
  int32_t debug;
  int32_t child;
  int32_t showconfigonly;
  int32_t apacheSlashed;
  vorn_docker_t *docker;
  char *docker_sock_path;
  long uptime_at_startup;
};

extern vorn_config config;

// System V key of a segment: shm_key + offset (0 custom results, 1 container
// table). Key 0 would be IPC_PRIVATE, a new segment at every request, so it
// is never used.
inline key_t vorn_shm_key(int offset) {
  key_t k = (key_t)((uint32_t)config.shm_key + (uint32_t)offset);
  return k == 0 ? (key_t)(0x766f726e + offset) : k;
}

int init_config();
long get_uptime();
int parse_uuid(const char *uuid, key_t *key);
int is_valid_int(const char *str);
int in_excludelist(const char *needle, const char (*haystack)[256], int size);

int parse_options(int argc, char **argv);
int parse_config();
int parse_config_file(const char *full_file_path);

void print_help();
void print_version();
int print_config();

// Releases the texts the configuration reader allocated (extra file names,
// Docker socket path), printing each extra file name as it goes.
void vorn_config_release();
