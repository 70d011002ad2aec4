#include "vorn_readfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "vorn_file.h"

bool vorn_read_file(const char *path, std::string &out) {
  out.clear();
  vorn_fd fd(open(path, O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  if (out.capacity() < 4096) out.reserve(4096);
  for (;;) {
    size_t have = out.size();
    if (out.capacity() - have < 1024) out.reserve(out.capacity() * 2);
    out.resize(out.capacity());
    ssize_t n = read(fd.get(), out.data() + have, out.size() - have);
    if (n < 0 && errno == EINTR) {
      out.resize(have);
      continue;
    }
    out.resize(have + (n > 0 ? (size_t)n : 0));
    if (n < 0) return false;
    if (n == 0) return true;
  }
}
