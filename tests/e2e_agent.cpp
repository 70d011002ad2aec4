#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/shm.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "agent_process.h"
#include "test_util.h"

namespace {

const char *pid_file = "/var/run/vorn.pid";

bool exists(const char *path) {
  struct stat st;
  return stat(path, &st) == 0;
}

std::string read_file(const char *path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class AgentRun : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the agent runs as root only";
    unlink(pid_file);
  }
  void TearDown() override { unlink(pid_file); }

  // Arguments that point the agent at a temporary main file and extras.
  std::vector<std::string> with_config(const std::string &main_text, std::vector<std::string> args = {}) {
    args.push_back("--config");
    args.push_back(dir.write("vorn.conf", main_text));
    args.push_back("--conf-glob");
    args.push_back(dir.file("vorn.d/*.conf"));
    return args;
  }

  TempDir dir;
};

TEST_F(AgentRun, RunsCyclesAndShutsDownOnSigterm) {
  std::filesystem::create_directory(dir.file("vorn.d"));
  dir.write("vorn.d/extra.conf", "port 9000\n");
  AgentProcess agent(with_config("id 7\ninterval 1\n", {"--debug"}));
  ASSERT_TRUE(agent.wait_for("Main loop iteration at", 8000, 3)) << agent.output();
  const std::string &out = agent.output();
  EXPECT_NE(out.find("] vorn v0.6.17 started\n"), std::string::npos);
  EXPECT_NE(out.find("Config:\n\tdebug: 1\n"), std::string::npos);
  EXPECT_NE(out.find("\tport: 9000\n"), std::string::npos);
  EXPECT_NE(out.find("Successfully forked docker child pid = "), std::string::npos);
  EXPECT_NE(out.find("set core counters... done\n"), std::string::npos);
  EXPECT_NE(out.find("Starting main loop\n"), std::string::npos);
  EXPECT_NE(out.find("Calc delta: core... "), std::string::npos);
  EXPECT_EQ(read_file(pid_file), std::to_string(agent.pid()));

  agent.signal(SIGTERM);
  int status = agent.wait_exit(5000);
  ASSERT_TRUE(WIFEXITED(status)) << status << agent.output();
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string &all = agent.output();
  size_t exiting = all.find("Exiting main loop\n");
  ASSERT_NE(exiting, std::string::npos) << all;
  size_t freeing = all.find("Freeing counters: core... ", exiting);
  size_t extra = all.find("Freeing [0] " + dir.file("vorn.d/extra.conf") + "\n", exiting);
  size_t removing = all.find("removing pid\n", exiting);
  EXPECT_LT(freeing, extra);
  EXPECT_LT(extra, removing);
  EXPECT_NE(removing, std::string::npos);
  EXPECT_FALSE(exists(pid_file));
}

TEST_F(AgentRun, SecondSignalDuringALongStepEndsAtOnce) {
  // A full output pipe that nobody reads blocks the agent inside a debug
  // write: that is the long step the second signal interrupts.
  AgentProcess agent(with_config("id 7\ninterval 1\n", {"--debug"}), {.uid = 0, .pipe_size = 4096});
  ASSERT_TRUE(agent.wait_for("Starting main loop", 8000)) << agent.output();
  // From here on nothing reads the pipe; wait until the agent blocks on it.
  const std::string wchan = "/proc/" + std::to_string(agent.pid()) + "/wchan";
  bool blocked = false;
  for (int i = 0; i < 120 && !blocked; i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    blocked = read_file(wchan.c_str()).find("pipe_write") != std::string::npos;
  }
  ASSERT_TRUE(blocked);
  agent.signal(SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  agent.signal(SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int status = agent.wait_exit(5000);
  ASSERT_NE(status, -1);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

TEST_F(AgentRun, NonRootIsRefusedBeforeAnyOption) {
  AgentProcess agent({"-v"}, {.uid = 65534});
  int status = agent.wait_exit(5000);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(agent.output(), "ERROR: you must be root!\n");
}

TEST_F(AgentRun, ShowConfigPrintsAndStopsWithoutPidFileOrFork) {
  AgentProcess agent(with_config("id 9\nsecret NeverShown\n", {"--showconfig"}));
  int status = agent.wait_exit(5000);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string &out = agent.output();
  EXPECT_NE(out.find("] vorn v0.6.17 started\n"), std::string::npos);
  EXPECT_NE(out.find("Config:\n"), std::string::npos);
  EXPECT_NE(out.find("\tid: 9\n"), std::string::npos);
  EXPECT_EQ(out.find("NeverShown"), std::string::npos);
  EXPECT_EQ(out.find("forked"), std::string::npos);
  EXPECT_FALSE(exists(pid_file));
  EXPECT_LT(shmget(9 + 1, 0, 0), 0) << "the container table is removed";
}

TEST_F(AgentRun, BadConfigurationExitsWithStatusOne) {
  struct Case {
    std::string text;
    std::string why;
  };
  const Case cases[] = {{"id 1\ninterval 0\n", "ERROR: interval must be"},
                        {"port 1\n", "ERROR: set server id or uuid!\n"}};
  for (const Case &c : cases) {
    AgentProcess agent(with_config(c.text));
    int status = agent.wait_exit(5000);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(agent.output().find(c.why), std::string::npos) << agent.output();
    EXPECT_NE(agent.output().find("ERROR: bad config!\n"), std::string::npos);
    EXPECT_FALSE(exists(pid_file));
  }
  AgentProcess missing({"--config"});
  int status = missing.wait_exit(5000);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(missing.output().find("ERROR: --config needs an argument"), std::string::npos);
}

TEST_F(AgentRun, HelpAndVersion) {
  AgentProcess version({"-v", "--debug"});
  ASSERT_TRUE(WIFEXITED(version.wait_exit(5000)));
  EXPECT_EQ(version.output(), "0.6.17\nBuild on: \n");
  AgentProcess help({"-h"});
  ASSERT_TRUE(WIFEXITED(help.wait_exit(5000)));
  EXPECT_EQ(help.output().rfind("VORN 0.6.17\nBuild on: \n  -h       print this message\n", 0), 0u);
  EXPECT_EQ(help.output().find("showconfig"), std::string::npos);
}

}  // namespace
