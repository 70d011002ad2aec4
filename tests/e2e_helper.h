#pragma once
// The agent and vorn-collector on loopback: start both, wait for reports,
// stop, so each end-to-end test says only what it checks.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent_process.h"
#include "test_util.h"

constexpr int kCollectorPort = 18641;

class DeliveryRun {
 public:
  // config_text is the agent's main file; the collector checks with secret.
  DeliveryRun(const std::string &config_text, const std::string &collector_secret)
      : collector_(collector_args(collector_secret), {.binary = VORN_COLLECTOR}) {
    collector_.wait_for("listening", 5000);
    std::string main = dir_.write("vorn.conf", "address 127.0.0.1\nport " + std::to_string(kCollectorPort) +
                                                   "\n" + config_text);
    agent_ = std::make_unique<AgentProcess>(
        std::vector<std::string>{"--debug", "--config", main, "--conf-glob", dir_.file("vorn.d/*.conf")});
  }
  ~DeliveryRun() { stop(); }

  AgentProcess &agent() { return *agent_; }

  // Waits until the collector has printed n reports.
  bool wait_reports(size_t n, int timeout_ms) { return collector_.wait_for("\"signature\":", timeout_ms, n); }

  // Stops the agent (SIGTERM, status 0 expected) and reads what the
  // collector printed until then.
  void stop() {
    if (stopped_) return;
    stopped_ = true;
    agent_->signal(SIGTERM);
    int status = agent_->wait_exit(5000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    collector_.wait_for("never printed", 500);
  }

  // One collector line per packet.
  std::vector<std::string> packets() const {
    std::vector<std::string> out;
    const std::string &all = collector_.output();
    for (size_t p = 0, e; (e = all.find('\n', p)) != std::string::npos; p = e + 1) {
      std::string line = all.substr(p, e - p);
      if (line.find("\"signature\":") != std::string::npos) out.push_back(line);
    }
    return out;
  }

 private:
  static std::vector<std::string> collector_args(const std::string &secret) {
    std::vector<std::string> a{"--port", std::to_string(kCollectorPort)};
    if (!secret.empty()) a.insert(a.end(), {"--secret", secret});
    return a;
  }

  TempDir dir_;
  AgentProcess collector_;
  std::unique_ptr<AgentProcess> agent_;
  bool stopped_ = false;
};
