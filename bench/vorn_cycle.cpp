// vorn-cycle: the agent's real cycle, N times back to back: update and delta
// of the seven built-in counters, the report, its signature and one UDP
// datagram to 127.0.0.1. Prints CPU microseconds per cycle and the peak
// resident set, in the same key=value shape as the physical floor.
//
//   vorn-cycle [cycles=10000] [port=9]

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "vorn_config.h"
#include "vorn_core.h"
#include "vorn_networking.h"
#include "vorn_text.h"

static double cpu_ns() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e9 + t.tv_nsec;
}

int main(int argc, char **argv) {
  long cycles = argc > 1 ? atol(argv[1]) : 10000;
  int port = argc > 2 ? atoi(argv[2]) : 9;
  init_config();
  config.id = 1;
  config.interval = 15;
  config.port = port;
  vorn_copy(config.defaultServerIp, "127.0.0.1");
  vorn_copy(config.secret, "0123456789abcdef0123456789abcdef");
  setCoreCounters();
  initCounters(time(nullptr));
  updateCounters();
  deltaCounters(0);
  rusage r0;
  getrusage(RUSAGE_SELF, &r0);
  double c0 = cpu_ns();
  for (long i = 1; i <= cycles; i++) {
    updateCounters();
    deltaCounters((uint64_t)i);
    send_data();
  }
  double c1 = cpu_ns();
  rusage r;
  getrusage(RUSAGE_SELF, &r);
  auto us = [](const timeval &a, const timeval &b) { return (b.tv_sec - a.tv_sec) * 1e6 + (b.tv_usec - a.tv_usec); };
  printf("cycles=%ld cpu_us_per_cycle=%.2f user_us_per_cycle=%.2f sys_us_per_cycle=%.2f maxrss_kib=%ld\n", cycles,
         (c1 - c0) / 1e3 / (double)cycles, us(r0.ru_utime, r.ru_utime) / (double)cycles,
         us(r0.ru_stime, r.ru_stime) / (double)cycles, r.ru_maxrss);
  freeCounters();
  return 0;
}
