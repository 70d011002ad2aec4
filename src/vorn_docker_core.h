#pragma once
// The container table in shared memory, container inspection and
// name-to-address resolution for the probes, and the worker that follows
// each container's CPU statistics.
//
// The segment holds plain data only: names, addresses, states, CPU usage
// and the socket path. The parsed inspect documents stay in the parent's
// own memory. Each field has one writer: the parent writes everything but
// cpu_usage, the worker writes cpu_usage.

#include <cstdint>
#include <type_traits>

#include "mycustom.h"
#include "nxjson.h"

enum vorn_docker_container_state_t : int32_t {
  VORN_DOCKER_CONT_STATE_RUNNING = 0,
  VORN_DOCKER_CONT_STATE_PAUSED = 1,
  VORN_DOCKER_CONT_STATE_RESTARTING = 2,
  VORN_DOCKER_CONT_STATE_OOMKILLED = 3,
  VORN_DOCKER_CONT_STATE_DEAD = 4,
  VORN_DOCKER_CONT_STATE_EXITED = 5,
};

constexpr int VORN_DOCKER_MAX_CONTAINERS = 100;

struct vorn_docker_container_t {
  char name[256];
  char ip[16];
  int32_t running;
  vorn_docker_container_state_t state;
  double cpu_usage;
};

struct vorn_docker_t {
  uint16_t count;
  uint16_t rnd;
  char sock_path[108];
  vorn_docker_container_t containers[VORN_DOCKER_MAX_CONTAINERS];
};

static_assert(std::is_trivially_copyable_v<vorn_docker_t>);

struct docker_stats_t {
  char name[100];
  int32_t ok;
  int32_t ncpu;
  int64_t cpu_usage;
  int64_t sys_usage;
  int64_t pre_cpu_usage;
  int64_t pre_sys_usage;
  double cpu_usage_percent;
};

const char *vorn_docker_state_text(int32_t state);

// Creates (or opens) the segment with key shm_key + 1, mode 0600, and
// attaches it; 0 (docker left null) when that fails.
int docker_init(vorn_docker_t **docker);
// Stores a socket path in the table (cut to its field).
void vorn_docker_set_sock(vorn_docker_t *docker, const char *path);
int vorn_docker_find_container(vorn_docker_t *docker, const char *container_name);
int vorn_docker_add_container(vorn_docker_t *docker, const char *container_name);
// A connected stream socket, or -1.
int vorn_docker_connect(const char *sock_path);
char *vorn_docker_cmd(int sock, const char *command);
int vorn_docker_update_info(vorn_docker_t *docker, const char *container_name);
char *vorn_docker_resolve(vorn_docker_t *docker, const char *c_name);
void vorn_docker_update(vorn_docker_t *docker);
// The parent's parsed inspect documents, released at shutdown.
void vorn_docker_release(vorn_docker_t *docker);
// Detaches and removes the table segment (when the agent ends without a
// Docker worker to do it).
void vorn_docker_remove(vorn_docker_t **docker);
// The report's "docker" document, when the table holds containers.
void vorn_docker_tobson(const vorn_docker_t *docker, bson *b);

// Statistics worker.
void parse_response(char *buf, docker_stats_t *cnt);
double vorn_docker_cpu_percent(const docker_stats_t &s);
int get_fd_for_container_stats(const char *container_id);
void docker_loop();
void dockerThread();
