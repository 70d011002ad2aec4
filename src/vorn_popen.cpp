#include "vorn_popen.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>

vorn_proc_outs *vorn_popen(const char *command) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return nullptr;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return nullptr;
  }
  auto close_all = [&] {
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
  };
  auto *p = static_cast<vorn_proc_outs *>(calloc(1, sizeof(vorn_proc_outs)));
  if (!p) {
    close_all();
    return nullptr;
  }
  pid_t pid = fork();
  if (pid < 0) {
    free(p);
    close_all();
    return nullptr;
  }
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    execl("/bin/sh", "sh", "-c", command, (char *)nullptr);
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  p->pid = pid;
  p->out = fdopen(out[0], "r");
  p->err = fdopen(err[0], "r");
  if (!p->out || !p->err) {
    if (p->out) fclose(p->out); else close(out[0]);
    if (p->err) fclose(p->err); else close(err[0]);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    free(p);
    return nullptr;
  }
  return p;
}

int vorn_pclose(vorn_proc_outs *p) {
  if (!p) return -1;
  fclose(p->out);
  fclose(p->err);
  int status = -1;
  while (waitpid(p->pid, &status, 0) < 0 && errno == EINTR) {
  }
  free(p);
  return status;
}
