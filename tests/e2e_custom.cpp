#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "e2e_helper.h"

namespace {

// Mode of the segment with this key, or -1 when there is none.
int segment_mode(key_t key) {
  int id = shmget(key, 0, 0);
  struct shmid_ds ds;
  if (id < 0 || shmctl(id, IPC_STAT, &ds) != 0) return -1;
  return ds.shm_perm.mode & 0777;
}

TEST(CustomDelivery, CustomCountersReachTheReportFromTheWorker) {
  if (geteuid() != 0) GTEST_SKIP() << "the agent runs as root only";
  const key_t key = 4242;
  DeliveryRun run("id 4242\ninterval 1\n"
                  "custom web rps periods=1 echo 42\n"
                  "custom \"my app\" queue periods=2 sh -c 'echo 7; echo warn >&2; echo alert one'\n",
                  "");
  ASSERT_TRUE(run.wait_reports(5, 12000)) << run.agent().output();
  EXPECT_EQ(segment_mode(key), 0600);
  run.stop();
  std::vector<std::string> packets = run.packets();
  ASSERT_GE(packets.size(), 5u);
  const std::string rps = "\"web_rps\":{\"report\":\"web\",\"name\":\"rps\",\"interval\":1,\"value\":42,\"errors\":0}";
  const std::string queue =
      "\"my app_queue\":{\"report\":\"my app\",\"name\":\"queue\",\"interval\":2,\"value\":7,\"errors\":1,"
      "\"alerts\":[\"alert one\"]}";
  int with_rps = 0, with_queue = 0, errors_counted = 0;
  for (const std::string &p : packets) {
    with_rps += p.find(rps) != std::string::npos;
    bool q = p.find(queue) != std::string::npos;
    with_queue += q;
    // The command's warning counts in "custom_errors" exactly when its
    // record is imported.
    if (p.find("\"custom_errors\":1,") != std::string::npos) errors_counted++;
  }
  // Values published one cycle after the worker ran them: the every-cycle
  // counter shows from the second report on, the every-other-cycle counter
  // in about half the reports.
  EXPECT_GE(with_rps, (int)packets.size() - 2);
  EXPECT_GE(with_queue, 1);
  EXPECT_LT(with_queue, (int)packets.size());
  EXPECT_GE(errors_counted, with_queue);
  // The worker removed the segment and ended with the agent.
  for (int i = 0; i < 20 && segment_mode(key) != -1; i++) usleep(100000);
  EXPECT_EQ(segment_mode(key), -1);
  EXPECT_NE(run.agent().output().find("Killing child..."), std::string::npos);
  // No worker left running (a dead one may wait for its adopter to reap it).
  bool left = true;
  for (int i = 0; i < 30 && left; i++) {
    left = system("pgrep -r RSD -f '[v]orn --debug --config /tmp/vorn-test' >/dev/null") == 0;
    if (left) usleep(100000);
  }
  EXPECT_FALSE(left) << "a worker is left";
}

}  // namespace
