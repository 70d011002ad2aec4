#pragma once
// Start-up, the parent's life and scheduling loop, signals and the pid file.

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <ctime>

#define VORN_PID_FILE "/var/run/vorn.pid"

extern volatile sig_atomic_t stop;

int vorn_main(int argc, char **argv);

void on_kill(int signum);
// One-shot handlers for SIGTERM, SIGABRT and SIGINT: the first delivery sets
// stop, a second one ends the process at once.
void vorn_install_signal_handlers();

int pid_create();
void pid_remove();
// Writes the current process id to path; 0 on success, -1 with errno set.
int vorn_pid_write(const char *path);

// "[YYYY-MM-DD hh:mm:ss ZONE] vorn v0.6.17 started\n"
void vorn_format_banner(char *buf, size_t cap, const struct tm &t, const char *zone);

void parentThread(pid_t pid);
int main_loop();
