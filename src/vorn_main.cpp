#include "vorn_main.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vorn_config.h"
#include "vorn_core.h"
#include "vorn_customs_core.h"
#include "vorn_docker_core.h"
#include "vorn_file.h"
#include "vorn_networking.h"
#include "vorn_version.h"

volatile sig_atomic_t stop = 0;

// Client-library loaders, filled in as the probes join the agent; a null
// entry is a step it does not have yet.
static int (*const mysql_loader)() = nullptr;
static int (*const postgre_loader)() = nullptr;

void on_kill(int) { stop = 1; }

void vorn_install_signal_handlers() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_kill;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;  // one-shot, and no SA_RESTART
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGABRT, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

int vorn_pid_write(const char *path) {
  vorn_file f(fopen(path, "w"));
  if (!f) return -1;
  if (fprintf(f.get(), "%u", (unsigned)getpid()) < 0) return -1;
  if (fclose(f.release()) != 0) return -1;
  return 0;
}

int pid_create() {
  if (vorn_pid_write(VORN_PID_FILE) != 0) {
    fprintf(stderr, "ERROR: can't write pid file %s: %s\n", VORN_PID_FILE, strerror(errno));
    return -1;
  }
  return 0;
}

void pid_remove() { unlink(VORN_PID_FILE); }

void vorn_format_banner(char *buf, size_t cap, const struct tm &t, const char *zone) {
  snprintf(buf, cap, "[%d-%02d-%02d %02d:%02d:%02d %s] vorn v%s started\n", t.tm_year + 1900, t.tm_mon + 1,
           t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, zone, VORN_VERSION);
}

static void print_banner() {
  tzset();
  time_t now = time(nullptr);
  struct tm t;
  localtime_r(&now, &t);
  char line[128];
  vorn_format_banner(line, sizeof line, t, tzname[0]);
  fputs(line, stdout);
}

int main_loop() {
  if (config.debug) printf("Starting main loop\n");
  uint64_t iteration = 0;
  while (!stop) {
    time_t ts = time(nullptr) - 2;
    if (!vorn_is_cycle_time(ts, config.interval, config.randomsecond)) {
      sleep(1);
      continue;
    }
    if (config.debug) printf("Main loop iteration at %ld\n", (long)ts);
    if (ts % 60 == 0) reinitCounters(ts);
    updateCounters();
    deltaCounters(iteration);
    stats.custom_errors = countCustomErrors(stats);
    if (config.debug) dumpCounters();
    if (iteration == 0) {
      iteration = 1;  // the first cycle only primes the counters
    } else {
      send_data();
      iteration = vorn_next_iteration(iteration);
    }
    sleep(1);
  }
  if (config.debug) printf("Exiting main loop\n");
  return 0;
}

static void close_library(void *&handle) {
  if (handle) dlclose(handle);
  handle = nullptr;
}

void parentThread(pid_t pid) {
  if (config.mysql_on) {
    printf("Mysql is on\n");
    if (mysql_loader && mysql_loader()) {
      printf("Mysql found and loaded = %s\n", config.mysql_lib);
    } else {
      printf("ERROR loading mysql = %s\n", config.mysql_lib);
      if (config.mysql_handle) {
        printf("Closing libmysql\n");
        close_library(config.mysql_handle);
      }
    }
  }
  if (config.postgre_on) {
    printf("Postrgre is on\n");
    if (postgre_loader && postgre_loader()) {
      printf("Postgre found and loaded = %s\n", config.postgre_lib);
    } else {
      printf("Error loading postgre = %s\n", config.postgre_lib);
      if (config.postgre_handle) {
        printf("Closing libpostgre\n");
        close_library(config.postgre_handle);
      }
    }
  }
  setCoreCounters();
  initCounters(time(nullptr));

  main_loop();

  freeCounters();
  if (pid != 0) {
    printf("Killing child...\n");
    kill(pid, SIGTERM);
  }
  if (config.mysql_handle) {
    printf("Closing libmysql\n");
    close_library(config.mysql_handle);
  }
  if (config.postgre_handle) {
    printf("Closing libpq\n");
    close_library(config.postgre_handle);
  }
  vorn_docker_release(config.docker);
  // Without a Docker worker nobody else removes the container table.
  if (pid != 0) vorn_docker_remove(&config.docker);
  vorn_config_release();
  if (config.debug) printf("removing pid\n");
  pid_remove();
}

int vorn_main(int argc, char **argv) {
  // Reports and debug lines go out line by line, also into a pipe or a log.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  if (getuid() != 0) {
    printf("ERROR: you must be root!\n");
    return 1;
  }
  // stats has static storage and is all zero here; clearing it again would
  // only make its untouched pages resident.
  init_config();
  parse_options(argc, argv);
  if (parse_config() != 0) {
    printf("ERROR: bad config!\n");
    vorn_docker_remove(&config.docker);
    return 1;
  }
  srand((unsigned)time(nullptr));
  config.randomsecond = (int32_t)((unsigned)rand() % config.interval);
  print_banner();
  if (config.showconfigonly) {
    print_config();
    vorn_docker_remove(&config.docker);
    return 0;
  }
  if (config.debug) print_config();
  if (pid_create() != 0) {
    vorn_docker_remove(&config.docker);
    return 1;
  }
  vorn_install_signal_handlers();
  fflush(stdout);

  if (stats.ncustom_counters > 0) {
    pid_t pid = fork();
    if (pid < 0) {
      printf("ERROR: Can't fork\n");
      if (config.debug) printf("removing pid\n");
      pid_remove();
      vorn_docker_remove(&config.docker);
      return 1;
    }
    if (pid == 0) {
      childThread();
      return 0;
    }
    parentThread(pid);
    return 0;
  }
  pid_t pid = fork();
  if (pid < 0) {
    printf("Can't fork docker child\n");
    return 0;
  }
  if (pid == 0) {
    dockerThread();
    return 0;
  }
  printf("Successfully forked docker child pid = %d\n", (int)pid);
  parentThread(0);
  return 0;
}
