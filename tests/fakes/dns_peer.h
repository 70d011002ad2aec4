#pragma once
// A name server on a loopback address for tests: answers every A query with
// one fixed address, or, when silent, reads queries and never answers.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

class DnsPeer {
 public:
  // Listens on address:port; answer is the dotted address every A query gets.
  DnsPeer(const std::string &address, const std::string &answer, bool silent = false, int port = 53)
      : silent_(silent) {
    inet_pton(AF_INET, answer.c_str(), &answer_);
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    if (ok_) thread_ = std::thread([this] { serve(); });
  }
  ~DnsPeer() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  DnsPeer(const DnsPeer &) = delete;
  DnsPeer &operator=(const DnsPeer &) = delete;

  bool ok() const { return ok_; }
  int queries() const { return queries_; }

 private:
  void serve() {
    while (!done_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      unsigned char q[512];
      sockaddr_in from{};
      socklen_t fl = sizeof from;
      ssize_t n = recvfrom(fd_, q, sizeof q, 0, reinterpret_cast<sockaddr *>(&from), &fl);
      if (n < 12) continue;
      queries_++;
      if (silent_) continue;
      // The question: labels up to the root, then type and class.
      size_t end = 12;
      while (end < (size_t)n && q[end] != 0) end += q[end] + 1;
      end += 5;
      if (end > (size_t)n) continue;
      unsigned char r[600];
      memcpy(r, q, end);
      r[2] = 0x81;  // response, recursion desired
      r[3] = 0x80;  // recursion available, no error
      r[6] = 0, r[7] = 1;  // one answer
      r[8] = r[9] = r[10] = r[11] = 0;
      size_t k = end;
      const unsigned char rr[] = {0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4};
      memcpy(r + k, rr, sizeof rr);
      k += sizeof rr;
      memcpy(r + k, &answer_, 4);
      k += 4;
      sendto(fd_, r, k, 0, reinterpret_cast<sockaddr *>(&from), fl);
    }
  }

  bool silent_;
  in_addr answer_{};
  int fd_ = -1;
  bool ok_ = false;
  std::atomic<bool> done_{false};
  std::atomic<int> queries_{0};
  std::thread thread_;
};
