#pragma once
// Owners of descriptors and streams: each releases what it holds on every path.

#include <unistd.h>

#include <cstdio>
#include <memory>

struct vorn_file_closer {
  void operator()(FILE *f) const {
    if (f) fclose(f);
  }
};
using vorn_file = std::unique_ptr<FILE, vorn_file_closer>;

class vorn_fd {
 public:
  vorn_fd() = default;
  explicit vorn_fd(int fd) : fd_(fd) {}
  vorn_fd(const vorn_fd &) = delete;
  vorn_fd &operator=(const vorn_fd &) = delete;
  vorn_fd(vorn_fd &&o) noexcept : fd_(o.release()) {}
  vorn_fd &operator=(vorn_fd &&o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  ~vorn_fd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};
