#include "vorn_docker_core.h"

#include <poll.h>
#include <sys/ipc.h>
#include <sys/prctl.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bson.h"
#include "vorn_clock.h"
#include "vorn_config.h"
#include "vorn_file.h"
#include "vorn_json.h"
#include "vorn_main.h"
#include "vorn_shm.h"
#include "vorn_text.h"

namespace {

// The parent's parsed inspect document of each entry and the response text
// it points into; never in the shared segment.
struct inspect_doc {
  const nx_json *tree;
  char *text;
};
inspect_doc inspects[VORN_DOCKER_MAX_CONTAINERS];

void release_inspect(int i) {
  nx_json_free(inspects[i].tree);
  free(inspects[i].text);
  inspects[i] = {};
}

key_t table_key() { return vorn_shm_key(1); }

int wait_seconds() { return config.counter_tcp_to > 0 ? config.counter_tcp_to : 1; }

void child_log(const char *message) { printf("[docker-child] %s\n", message); }

// Sends one request line without headers; false on failure.
bool send_request(int sock, const char *path) {
  char req[512];
  int n = snprintf(req, sizeof req, "GET %s HTTP/1.0\n\n", path);
  if (n <= 0 || n >= (int)sizeof req) return false;
  if (send(sock, req, (size_t)n, MSG_NOSIGNAL) != n) {
    perror("send");
    return false;
  }
  return true;
}

}  // namespace

const char *vorn_docker_state_text(int32_t state) {
  static const char *const texts[] = {"running", "paused", "restarting", "oomkilled", "dead", "exited"};
  return state >= 0 && state <= 5 ? texts[state] : "exited";
}

int docker_init(vorn_docker_t **docker) {
  if (*docker) {
    shmdt(*docker);
    *docker = nullptr;
  }
  int id = vorn_shm_get(table_key(), sizeof(vorn_docker_t));
  if (id < 0) {
    perror("shmget");
    return 0;
  }
  void *p = shmat(id, nullptr, 0);
  if (p == (void *)-1) {
    perror("shmget");
    return 0;
  }
  if (config.debug) printf("shmget() succeeded key = %d\n", (int)table_key());
  auto *t = static_cast<vorn_docker_t *>(p);
  t->count = 0;
  vorn_copy(t->sock_path, "/var/run/docker.sock");
  *docker = t;
  return 1;
}

void vorn_docker_set_sock(vorn_docker_t *docker, const char *path) {
  if (docker && path) vorn_copy(docker->sock_path, path);
}

int vorn_docker_find_container(vorn_docker_t *docker, const char *name) {
  unsigned n = docker->count < VORN_DOCKER_MAX_CONTAINERS ? docker->count : VORN_DOCKER_MAX_CONTAINERS;
  for (unsigned i = 0; i < n; i++) {
    if (strncmp(docker->containers[i].name, name, sizeof docker->containers[i].name) == 0) {
      if (config.debug) printf("[docker] Found container '%s', index=%d\n", name, (int)i);
      return (int)i;
    }
  }
  if (config.debug) printf("[docker] Not found container in internal structure '%s', adding\n", name);
  return -1;
}

int vorn_docker_add_container(vorn_docker_t *docker, const char *name) {
  if (docker->count >= VORN_DOCKER_MAX_CONTAINERS) {
    printf("[docker] Max containers number reached: %d, cannot allocate one more\n", VORN_DOCKER_MAX_CONTAINERS);
    return -1;
  }
  int i = docker->count;
  vorn_docker_container_t &c = docker->containers[i];
  memset(&c, 0, sizeof c);
  vorn_copy(c.name, name);
  c.state = VORN_DOCKER_CONT_STATE_EXITED;
  c.cpu_usage = 0.0;
  docker->count = (uint16_t)(i + 1);  // published last: the entry is whole before it counts
  if (config.debug) printf("[docker] Added container '%s', index=%d\n", name, i);
  return i;
}

int vorn_docker_connect(const char *sock_path) {
  // -1 on failure: 0 is a valid descriptor (standard input).
  vorn_fd s(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!s) {
    perror("socket");
    return -1;
  }
  timeval tv{wait_seconds(), 0};
  setsockopt(s.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  vorn_copy(a.sun_path, sock_path);
  if (connect(s.get(), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    perror("connect");
    return -1;
  }
  return s.release();
}

char *vorn_docker_cmd(int sock, const char *command) {
  if (!send_request(sock, command)) return nullptr;
  std::string answer;
  long long deadline = vorn_now_ms() + wait_seconds() * 1000LL;
  char buf[4096];
  for (;;) {
    long long left = deadline - vorn_now_ms();
    pollfd p{sock, POLLIN, 0};
    int r = left > 0 ? poll(&p, 1, (int)left) : 0;
    if (r == 0) {
      printf("select() returned 0\n");
      break;
    }
    if (r < 0) {
      if (errno == EINTR) continue;
      perror("select() failed");
      return nullptr;
    }
    ssize_t n = read(sock, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      perror("read() failed");
      return nullptr;
    }
    if (n == 0) break;
    answer.append(buf, (size_t)n);
    if (answer.size() > (16u << 20)) break;  // no inspect document is this large
  }
  return strdup(answer.c_str());
}

int vorn_docker_update_info(vorn_docker_t *docker, const char *name) {
  if (!docker) return -1;
  vorn_fd sock(vorn_docker_connect(docker->sock_path));
  if (!sock) return -1;
  char path[320];
  snprintf(path, sizeof path, "/containers/%s/json", name);
  char *answer = vorn_docker_cmd(sock.get(), path);
  sock.reset();
  if (!answer) return -1;
  char *body = strstr(answer, "{\"");
  const nx_json *tree = body ? nx_json_parse(body, nullptr) : nullptr;
  if (!tree) {
    free(answer);
    return -1;
  }
  int i = vorn_docker_find_container(docker, name);
  if (i < 0) i = vorn_docker_add_container(docker, name);
  if (i < 0) {
    nx_json_free(tree);
    free(answer);
    return -1;
  }
  release_inspect(i);
  inspects[i] = {tree, answer};
  vorn_docker_container_t &c = docker->containers[i];
  c.running = json_get_bool_by_path(tree, "State.Running") == 1 ? 1 : 0;
  char status[19];
  json_get_str_by_path(tree, "State.Status", status, sizeof status);
  if (strcmp(status, "exited") == 0) c.state = VORN_DOCKER_CONT_STATE_EXITED;
  if (c.running) {
    c.state = VORN_DOCKER_CONT_STATE_RUNNING;
  } else {
    static const std::pair<const char *, vorn_docker_container_state_t> flags[] = {
        {"State.Dead", VORN_DOCKER_CONT_STATE_DEAD},
        {"State.Paused", VORN_DOCKER_CONT_STATE_PAUSED},
        {"State.OOMKilled", VORN_DOCKER_CONT_STATE_OOMKILLED},
        {"State.Restarting", VORN_DOCKER_CONT_STATE_RESTARTING}};
    for (auto [flag, state] : flags) {
      if (json_get_bool_by_path(tree, flag) == 1) {
        c.state = state;
        break;
      }
    }
  }
  json_get_str_by_path(tree, "NetworkSettings.IPAddress", c.ip, sizeof c.ip);
  const nx_json *networks = json_get_item_by_path(tree, "NetworkSettings.Networks");
  if (!c.ip[0] && networks->type == NX_JSON_OBJECT && networks->child) {
    json_get_str_by_path(networks->child, "IPAddress", c.ip, sizeof c.ip);
    if (config.debug)
      printf("Got container [%s] IP [%s] from network [%s]\n", name, c.ip,
             networks->child->key ? networks->child->key : "");
  }
  if (config.debug)
    printf("[docker] Updated container info for '%s'\n\tindex\t%d\n\tstatus\t'%s'\n\tcpu\t%.2f%%\n", name, i, status,
           c.cpu_usage);
  return i;
}

char *vorn_docker_resolve(vorn_docker_t *docker, const char *c_name) {
  int i = vorn_docker_update_info(docker, c_name);
  if (i < 0) return nullptr;
  vorn_docker_container_t &c = docker->containers[i];
  return c.running && c.ip[0] ? c.ip : nullptr;
}

void vorn_docker_update(vorn_docker_t *docker) {
  if (!docker) return;
  for (unsigned i = 0; i < docker->count && i < VORN_DOCKER_MAX_CONTAINERS; i++) {
    char name[256];
    vorn_copy(name, std::string_view(docker->containers[i].name, strnlen(docker->containers[i].name, 255)));
    vorn_docker_update_info(docker, name);
  }
}

void vorn_docker_release(vorn_docker_t *docker) {
  if (docker && docker->count > 0 && config.debug) printf("Freeing docker-related structures\n");
  for (int i = 0; i < VORN_DOCKER_MAX_CONTAINERS; i++) release_inspect(i);
}

void vorn_docker_remove(vorn_docker_t **docker) {
  if (!*docker) return;
  vorn_shm_remove(table_key());
  shmdt(*docker);
  *docker = nullptr;
}

void vorn_docker_tobson(const vorn_docker_t *docker, bson *b) {
  if (!docker || docker->count == 0) return;
  vorn_bson_append_start_object(b, "docker");
  for (unsigned i = 0; i < docker->count && i < VORN_DOCKER_MAX_CONTAINERS; i++) {
    const vorn_docker_container_t &c = docker->containers[i];
    char name[256];
    vorn_copy(name, std::string_view(c.name, strnlen(c.name, 255)));
    vorn_bson_append_start_object(b, name);
    vorn_bson_append_double(b, "cpu_usage", c.cpu_usage);
    vorn_bson_append_string(b, "state", vorn_docker_state_text(c.state));
    vorn_bson_append_finish_object(b);
  }
  vorn_bson_append_finish_object(b);
}

// ---------------------------------------------------------------------------
// Statistics worker

void parse_response(char *buf, docker_stats_t *cnt) {
  char *body = strstr(buf, "{\"");
  const nx_json *tree = body ? nx_json_parse(body, nullptr) : nullptr;
  if (!tree) {
    cnt->ok = 0;
    return;
  }
  cnt->cpu_usage = json_get_long_by_path(tree, "cpu_stats.cpu_usage.total_usage");
  cnt->sys_usage = json_get_long_by_path(tree, "cpu_stats.system_cpu_usage");
  cnt->pre_cpu_usage = json_get_long_by_path(tree, "precpu_stats.cpu_usage.total_usage");
  cnt->pre_sys_usage = json_get_long_by_path(tree, "precpu_stats.system_cpu_usage");
  cnt->ncpu = (int32_t)json_get_long_by_path(tree, "precpu_stats.online_cpus");
  cnt->ok = 1;
  nx_json_free(tree);
}

double vorn_docker_cpu_percent(const docker_stats_t &s) {
  int64_t cpu = s.cpu_usage - s.pre_cpu_usage;
  int64_t sys = s.sys_usage - s.pre_sys_usage;
  if (sys == 0) return 0;  // no system time measured: no share to give
  return (double)cpu / (double)sys * s.ncpu * 100.0;
}

int get_fd_for_container_stats(const char *container_id) {
  vorn_fd s(vorn_docker_connect(config.docker->sock_path));
  if (!s) return -1;
  char path[320];
  snprintf(path, sizeof path, "/containers/%s/stats?stream=true", container_id);
  if (!send_request(s.get(), path)) return -1;
  return s.release();
}

namespace {

// One followed container's stream: messages come one JSON object a line.
struct stream {
  vorn_fd fd;
  std::string pending;
  long long retry_at = 0;
};

void take_messages(stream &st, docker_stats_t &rec, vorn_docker_container_t &entry) {
  size_t nl;
  while ((nl = st.pending.find('\n')) != std::string::npos) {
    std::string line = st.pending.substr(0, nl);
    st.pending.erase(0, nl + 1);
    if (line.find("{\"") == std::string::npos) continue;  // headers, blank lines
    parse_response(line.data(), &rec);
    if (rec.ok) entry.cpu_usage = rec.cpu_usage_percent = vorn_docker_cpu_percent(rec);
  }
  if (st.pending.size() > (1u << 20)) st.pending.clear();  // no message is this long
}

}  // namespace

void docker_loop() {
  vorn_docker_t *t = config.docker;
  sleep(1);
  while (!stop && t->count == 0) sleep(1);
  if (!stop) {
    child_log("Started gathering stats");
    static stream streams[VORN_DOCKER_MAX_CONTAINERS];
    static docker_stats_t records[VORN_DOCKER_MAX_CONTAINERS];
    child_log("Started loop");
    while (!stop) {
      // Containers added later are followed too; a stream that could not be
      // opened or that ended is tried again a few seconds later.
      unsigned n = t->count < VORN_DOCKER_MAX_CONTAINERS ? t->count : VORN_DOCKER_MAX_CONTAINERS;
      long long now = vorn_now_ms();
      for (unsigned i = 0; i < n; i++) {
        if (streams[i].fd || now < streams[i].retry_at) continue;
        vorn_copy(records[i].name, std::string_view(t->containers[i].name, strnlen(t->containers[i].name, 99)));
        streams[i].fd.reset(get_fd_for_container_stats(records[i].name));
        streams[i].pending.clear();
        if (!streams[i].fd) streams[i].retry_at = now + 5000;
      }
      pollfd fds[VORN_DOCKER_MAX_CONTAINERS];
      int idx[VORN_DOCKER_MAX_CONTAINERS], nfds = 0;
      for (unsigned i = 0; i < n; i++) {
        if (!streams[i].fd) continue;
        fds[nfds] = {streams[i].fd.get(), POLLIN, 0};
        idx[nfds++] = (int)i;
      }
      if (nfds == 0) {
        sleep(1);
        continue;
      }
      if (poll(fds, (nfds_t)nfds, 1000) <= 0) continue;
      for (int k = 0; k < nfds; k++) {
        if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        int i = idx[k];
        char buf[10000];
        ssize_t r = read(streams[i].fd.get(), buf, sizeof buf - 1);
        if (r <= 0) {
          streams[i].fd.reset();
          streams[i].retry_at = vorn_now_ms() + 5000;
          continue;
        }
        streams[i].pending.append(buf, (size_t)r);
        take_messages(streams[i], records[i], t->containers[i]);
      }
    }
    child_log("Stopped loop");
    for (stream &s : streams) s.fd.reset();
  }
  child_log("Freeing shm");
  vorn_shm_remove(table_key());
  child_log("Exiting");
}

void dockerThread() {
  // The worker never outlives the agent, however the agent ends.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  sleep(1);
  int id = shmget(table_key(), sizeof(vorn_docker_t), 0600);
  if (id < 0) {
    perror("[docker-child] shmget() failed");
    printf("[docker-child] shmget() failed for key = %d, id=%d\n", (int)table_key(), id);
    return;
  }
  void *p = shmat(id, nullptr, 0);
  if (p == (void *)-1) {
    perror("[docker-child] shmget() failed");
    return;
  }
  config.docker = static_cast<vorn_docker_t *>(p);
  printf("[docker-child] shmat() succeeded key = %d\n", (int)table_key());
  docker_loop();
  shmdt(p);
  config.docker = nullptr;
}
