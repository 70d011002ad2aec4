#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <string>

#include "agent_process.h"
#include "bson_check.h"
#include "test_util.h"
#include "vorn_docker_core.h"

namespace {

int open_fds() {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  while (readdir(d)) n++;
  closedir(d);
  return n;
}

class DockerTest : public testing::Test {
 protected:
  void SetUp() override {
    reset_agent_globals();
    config.shm_key = 0x76700000 + (getpid() & 0xfffe);  // one key per test process
    ASSERT_EQ(docker_init(&config.docker), 1);
    fake_ = std::make_unique<AgentProcess>(std::vector<std::string>{sock()},
                                           AgentProcess::Options{.binary = VORN_FAKE_DOCKER});
    ASSERT_TRUE(fake_->wait_for("listening", 5000)) << fake_->output();
    vorn_docker_set_sock(config.docker, sock().c_str());
  }
  void TearDown() override {
    vorn_docker_release(config.docker);
    reset_agent_globals();
  }
  std::string sock() const { return dir_.file("docker.sock"); }

  // Resolution with the library's messages kept out of the test output.
  const char *resolve(const char *name) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const char *ip = vorn_docker_resolve(config.docker, name);
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    return ip;
  }

  TempDir dir_;
  std::unique_ptr<AgentProcess> fake_;
  std::string out_, err_;
};

TEST_F(DockerTest, SegmentIsPrivateAndHoldsNoPointers) {
  struct shmid_ds ds;
  ASSERT_EQ(shmctl(shmget(config.shm_key + 1, 0, 0), IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.shm_perm.mode & 0777, 0600);
  EXPECT_EQ(ds.shm_segsz, sizeof(vorn_docker_t));
}

TEST_F(DockerTest, ResolutionByState) {
  struct Case {
    const char *name;
    const char *ip;  // null: not resolved
    int state;
  };
  const Case cases[] = {{"web", "172.17.0.2", VORN_DOCKER_CONT_STATE_RUNNING},
                        {"old", nullptr, VORN_DOCKER_CONT_STATE_EXITED},
                        {"pz", nullptr, VORN_DOCKER_CONT_STATE_PAUSED},
                        {"netted", "172.18.0.5", VORN_DOCKER_CONT_STATE_RUNNING}};
  for (const Case &c : cases) {
    const char *ip = resolve(c.name);
    if (c.ip) {
      ASSERT_NE(ip, nullptr) << c.name;
      EXPECT_STREQ(ip, c.ip);
    } else {
      EXPECT_EQ(ip, nullptr) << c.name;
    }
    int i = vorn_docker_find_container(config.docker, c.name);
    ASSERT_GE(i, 0) << c.name;  // added even when not running
    EXPECT_EQ(config.docker->containers[i].state, c.state) << c.name;
  }
  EXPECT_EQ(config.docker->count, 4);
  resolve("web");  // again: the same entry
  EXPECT_EQ(config.docker->count, 4);
}

TEST_F(DockerTest, TableRefusesThe101stContainer) {
  for (int i = 0; i < 100; i++) {
    std::string name = std::to_string(i);
    name.insert(0, 1, 'c');
    ASSERT_NE(resolve(name.c_str()), nullptr) << i;
  }
  EXPECT_EQ(resolve("c100"), nullptr);
  EXPECT_NE(out_.find("[docker] Max containers number reached: 100, cannot allocate one more\n"), std::string::npos);
  EXPECT_EQ(config.docker->count, 100);
}

TEST_F(DockerTest, NoDaemonFailsEachResolutionWithoutLeaks) {
  vorn_docker_set_sock(config.docker, dir_.file("absent.sock").c_str());
  int before = open_fds();
  for (int i = 0; i < 100; i++) EXPECT_EQ(resolve("web"), nullptr);
  EXPECT_EQ(open_fds(), before);
  EXPECT_NE(err_.find("connect"), std::string::npos);
}

TEST_F(DockerTest, ReportDocumentAndRefresh) {
  resolve("pz");
  resolve("web");
  config.docker->containers[0].cpu_usage = 12.5;
  vorn_docker_update(config.docker);
  vorn_bson_doc d;
  vorn_docker_tobson(config.docker, d.get());
  vorn_bson_finish(d.get());
  EXPECT_EQ(bson_json(d.get()),
            "{ \"docker\" : { \"pz\" : { \"cpu_usage\" : { \"$numberDouble\" : \"12.5\" }, \"state\" : \"paused\" }, "
            "\"web\" : { \"cpu_usage\" : { \"$numberDouble\" : \"0.0\" }, \"state\" : \"running\" } } }");
}

TEST(DockerStats, CpuPercentFromAStatisticsMessage) {
  char msg[] =
      "{\"read\":\"2026-12-11T10:00:00Z\",\"cpu_stats\":{\"cpu_usage\":{\"total_usage\":5000000000000},"
      "\"system_cpu_usage\":98000000000000,\"online_cpus\":4},\"precpu_stats\":{\"cpu_usage\":{\"total_usage\":"
      "4998000000000},\"system_cpu_usage\":97992000000000,\"online_cpus\":4}}\n";
  docker_stats_t s{};
  parse_response(msg, &s);
  ASSERT_EQ(s.ok, 1);
  EXPECT_EQ(s.cpu_usage, 5000000000000LL);
  EXPECT_DOUBLE_EQ(vorn_docker_cpu_percent(s), 100.0);
  s.pre_sys_usage = s.sys_usage;  // no system time: 0, not NaN
  EXPECT_DOUBLE_EQ(vorn_docker_cpu_percent(s), 0.0);
  char junk[] = "HTTP/1.0 200 OK\r\n\r\n";
  parse_response(junk, &s);
  EXPECT_EQ(s.ok, 0);
}

TEST(DockerConfig, SocketPathBeforeOrAfterTheIdLine) {
  for (const char *text : {"docker_sock /tmp/before.sock\nid 5\n", "id 5\ndocker_sock /tmp/after.sock\n"}) {
    reset_agent_globals();
    TempDir dir;
    ConfigRun r = run_parse_config(dir, text);
    ASSERT_EQ(r.rc, 0) << r.out;
    ASSERT_NE(config.docker, nullptr);
    EXPECT_STREQ(config.docker->sock_path, config.docker_sock_path);
    EXPECT_EQ(std::string(config.docker->sock_path).rfind("/tmp/", 0), 0u);
  }
  reset_agent_globals();
}

}  // namespace
