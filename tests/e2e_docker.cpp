#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <thread>

#include "e2e_helper.h"
#include "vorn_docker_core.h"

namespace {

int table_mode(key_t key) {
  int id = shmget(key, 0, 0);
  struct shmid_ds ds;
  if (id < 0 || shmctl(id, IPC_STAT, &ds) != 0) return -1;
  return ds.shm_perm.mode & 0777;
}

TEST(DockerDelivery, ContainerStateAndCpuReachTheReport) {
  if (geteuid() != 0) GTEST_SKIP() << "the agent runs as root only";
  TempDir dir;
  std::string sock = dir.file("docker.sock");
  AgentProcess fake({sock}, {.binary = VORN_FAKE_DOCKER});
  ASSERT_TRUE(fake.wait_for("listening", 5000));
  const key_t key = 5151 + 1;
  DeliveryRun run("id 5151\ninterval 1\ndocker_sock " + sock + "\n", "");
  ASSERT_TRUE(run.agent().wait_for("[docker-child] shmat() succeeded", 8000)) << run.agent().output();
  EXPECT_EQ(table_mode(key), 0600);

  // What a probe naming [web] does: an entry in the shared table.
  int id = shmget(key, 0, 0);
  ASSERT_GE(id, 0);
  auto *t = static_cast<vorn_docker_t *>(shmat(id, nullptr, 0));
  ASSERT_NE(t, (void *)-1);
  memset(&t->containers[0], 0, sizeof t->containers[0]);
  snprintf(t->containers[0].name, sizeof t->containers[0].name, "web");
  t->containers[0].state = VORN_DOCKER_CONT_STATE_EXITED;
  t->count = 1;
  shmdt(t);

  // The worker follows the stream: 0.5e9 of 8e9 ns per message on 4 CPUs.
  bool seen = false;
  for (size_t n = 1; n < 16 && !seen; n++) {
    run.wait_reports(n, 2000);
    for (const std::string &p : run.packets())
      seen |= p.find("\"docker\":{\"web\":{\"cpu_usage\":25,\"state\":\"running\"}}") != std::string::npos;
  }
  EXPECT_TRUE(seen) << (run.packets().empty() ? run.agent().drain() : run.packets().back());

  const std::string &out = run.agent().drain();
  size_t at = out.find("Successfully forked docker child pid = ");
  ASSERT_NE(at, std::string::npos);
  pid_t worker = atoi(out.c_str() + at + strlen("Successfully forked docker child pid = "));
  kill(worker, SIGTERM);
  run.stop();
  for (int i = 0; i < 30 && table_mode(key) != -1; i++) usleep(100000);
  EXPECT_EQ(table_mode(key), -1) << "the worker removes the table when it ends";
}

}  // namespace
