#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <sstream>
#include <string>

#include "test_util.h"
#include "vorn_main.h"

namespace {

TEST(Banner, DateFieldsAreZeroPadded) {
  struct tm t = {};
  t.tm_year = 2027 - 1900;
  t.tm_mon = 0;  // January
  t.tm_mday = 5;
  t.tm_hour = 3;
  t.tm_min = 4;
  t.tm_sec = 9;
  char buf[128];
  vorn_format_banner(buf, sizeof buf, t, "UTC");
  EXPECT_STREQ(buf, "[2027-01-05 03:04:09 UTC] vorn v0.6.17 started\n");
}

TEST(Signals, HandlerIsOneShot) {
  // The first SIGTERM only sets the flag; the second one ends the process.
  EXPECT_EXIT(
      {
        vorn_install_signal_handlers();
        raise(SIGTERM);
        if (!stop) _exit(3);
        struct sigaction now;
        sigaction(SIGTERM, nullptr, &now);
        if (now.sa_handler != SIG_DFL) _exit(4);
        sigaction(SIGINT, nullptr, &now);
        if (now.sa_handler != on_kill || (now.sa_flags & SA_RESTART)) _exit(5);
        raise(SIGTERM);
        _exit(0);
      },
      testing::KilledBySignal(SIGTERM), "");
}

TEST(PidFile, HoldsTheProcessIdWithoutLineBreak) {
  TempDir dir;
  std::string path = dir.file("vorn.pid");
  ASSERT_EQ(vorn_pid_write(path.c_str()), 0);
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str(), std::to_string(getpid()));
  EXPECT_EQ(vorn_pid_write(dir.file("missing/vorn.pid").c_str()), -1);
}

}  // namespace
