#pragma once
// Starts a shell command with its standard output and standard error on
// two pipes of their own.

#include <sys/types.h>

#include <cstdio>

struct vorn_proc_outs {
  int pid;
  FILE *out;
  FILE *err;
};

// Runs "/bin/sh -c command"; null when the pipes or the process cannot be
// made.
vorn_proc_outs *vorn_popen(const char *command);
// Closes both streams, waits for the shell and frees the handle; returns the
// shell's wait status (-1 when it could not be waited for).
int vorn_pclose(vorn_proc_outs *p);
