#pragma once
// Small helpers shared by the test files.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "vorn_config.h"
#include "vorn_core.h"
#include "vorn_shm.h"
#include "vorn_text.h"

// A scratch directory removed with everything in it.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/vorn-test-XXXXXX";
    const char *p = mkdtemp(tmpl);
    if (!p) throw std::runtime_error("mkdtemp failed");
    path_ = p;
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }
  std::string write(const std::string &name, const std::string &content) const {
    std::string p = file(name);
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }

 private:
  std::string path_;
};

// Back to a fresh process: empty registry, default configuration.
inline void reset_agent_globals() {
  fflush(stdout);
  testing::internal::CaptureStdout();
  vorn_config_release();
  testing::internal::GetCapturedStdout();
  // A container table made by an "id" line in a test goes with the test.
  if (config.docker) {
    vorn_shm_remove(vorn_shm_key(1));
    shmdt(config.docker);
  }
  memset(&stats, 0, sizeof stats);
  init_config();
}

// Reads one configuration: main file text and, optionally, extra files in a
// directory of their own; returns parse_config's result and what it printed.
struct ConfigRun {
  int rc;
  std::string out;
};

inline ConfigRun run_parse_config(const TempDir &dir, const std::string &main_text) {
  std::string main = dir.write("main.conf", main_text);
  std::string pattern = dir.file("extra/*.conf");
  vorn_copy_n(config.configFile, sizeof config.configFile, main);
  vorn_copy_n(config.extConfigPattern, sizeof config.extConfigPattern, pattern);
  testing::internal::CaptureStdout();
  int rc = parse_config();
  return {rc, testing::internal::GetCapturedStdout()};
}
