#pragma once
// Runs a built binary (the agent by default) as a child process with its standard output and
// error in one pipe, so a test can wait for lines, signal it and reap it.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

class AgentProcess {
 public:
  struct Options {
    uid_t uid = 0;          // run as this user when not 0
    int pipe_size = 0;      // shrink the output pipe to this many bytes when not 0
    const char *binary = VORN_BINARY;
  };

  explicit AgentProcess(const std::vector<std::string> &args) : AgentProcess(args, Options{}) {}
  AgentProcess(const std::vector<std::string> &args, Options opt) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    if (opt.pipe_size) fcntl(fds[0], F_SETPIPE_SZ, opt.pipe_size);
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      dup2(fds[1], 1);
      dup2(fds[1], 2);
      if (opt.uid) {
        setgroups(0, nullptr);
        if (setgid(opt.uid) != 0 || setuid(opt.uid) != 0) _exit(126);
      }
      std::vector<char *> argv;
      argv.push_back(const_cast<char *>(opt.binary));
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(opt.binary, argv.data());
      _exit(127);
    }
    close(fds[1]);
    out_fd_ = fds[0];
    fcntl(out_fd_, F_SETFL, O_NONBLOCK);
  }

  ~AgentProcess() {
    if (pid_ > 0 && !reaped_) {
      kill(-pid_, SIGKILL);
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
  }
  AgentProcess(const AgentProcess &) = delete;
  AgentProcess &operator=(const AgentProcess &) = delete;

  pid_t pid() const { return pid_; }
  const std::string &output() const { return out_; }

  // Reads output until `text` has appeared `times` times in all, or until the
  // time is up.
  bool wait_for(const std::string &text, int timeout_ms, size_t times = 1) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (count(text) < times) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      if (!read_some((int)left.count())) {
        // End of output: nothing more will come.
        return count(text) >= times;
      }
    }
    return true;
  }

  size_t count(const std::string &text) const {
    size_t n = 0;
    for (size_t p = out_.find(text); p != std::string::npos; p = out_.find(text, p + text.size())) n++;
    return n;
  }

  // Reads whatever output is there now, without waiting.
  const std::string &drain() {
    for (pollfd p{out_fd_, POLLIN, 0}; out_fd_ >= 0 && poll(&p, 1, 0) > 0; p.fd = out_fd_) {
      if (!read_some(0)) break;
    }
    return out_;
  }

  void signal(int sig) const { kill(pid_, sig); }

  // Waits for the process to end, reading its output meanwhile; returns the
  // wait status, or -1 when it is still running after the time-out.
  int wait_exit(int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      int status;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        reaped_ = true;
        while (read_some(0)) {
        }
        return status;
      }
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      read_some(50);
    }
  }

 private:
  // One read after waiting up to timeout_ms; false at end of output.
  bool read_some(int timeout_ms) {
    if (out_fd_ < 0) return false;
    pollfd p{out_fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return true;
    char buf[4096];
    ssize_t n = read(out_fd_, buf, sizeof buf);
    if (n > 0) {
      out_.append(buf, (size_t)n);
      return true;
    }
    if (n < 0 && errno == EAGAIN) return true;
    close(out_fd_);
    out_fd_ = -1;
    return false;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  bool reaped_ = false;
  std::string out_;
};
