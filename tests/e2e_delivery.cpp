#include <gtest/gtest.h>

#include <bson/bson.h>
#include <unistd.h>

#include <fstream>

#include "e2e_helper.h"

namespace {

class Delivery : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the agent runs as root only";
  }
  void TearDown() override { unlink("/var/run/vorn.pid"); }
};

TEST_F(Delivery, SignedReportsFromTheSecondCycleOn) {
  struct Case {
    const char *name;
    std::string config;
    std::string collector_secret;
    std::string verdict;
    std::string local_ip;  // expected "local_ip" element, or "" for none
  };
  // 127.0.0.1 masked with 01234567 is 7e234566.
  const Case cases[] = {
      {"udp", "secret 0123456789abcdef\n", "0123456789abcdef", "\"signature\":\"ok\"", ""},
      {"tcp", "proto tcp\nsecret 0123456789abcdef\n", "0123456789abcdef", "\"signature\":\"ok\"",
       "\"local_ip\":2116240742,"},
      {"udp unsigned", "", "", "\"signature\":\"none\"", ""},
      {"tcp unsigned", "proto tcp\n", "", "\"signature\":\"none\"", ""},
      {"tcp short secret", "proto tcp\nsecret 0123\n", "0123", "\"signature\":\"ok\"", ""},
      {"wrong secret", "secret 0123456789abcdef\n", "another", "\"signature\":\"bad\"", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    DeliveryRun run("id 42\ninterval 1\n" + c.config, c.collector_secret);
    ASSERT_TRUE(run.wait_reports(1, 8000)) << run.agent().output();
    // The first report leaves on the second cycle.
    run.agent().drain();
    EXPECT_GE(run.agent().count("Main loop iteration at"), 2u);
    ASSERT_TRUE(run.wait_reports(2, 5000));
    run.stop();
    std::vector<std::string> packets = run.packets();
    EXPECT_EQ(packets.size() + 1, run.agent().count("Main loop iteration at"));
    for (const std::string &p : packets) {
      EXPECT_NE(p.find(c.verdict), std::string::npos) << p;
      if (c.verdict.find("bad") != std::string::npos) {
        EXPECT_EQ(p.find("\"report\""), std::string::npos) << "an untrusted packet is never shown as a report";
        continue;
      }
      EXPECT_NE(p.find("\"report\":{\"id\":42," + c.local_ip + "\"name\":\"\",\"time\":"), std::string::npos)
          << p;
      EXPECT_NE(p.find("\"interval\":1,\"version\":\"0.6.17\",\"custom_errors\":0,"), std::string::npos) << p;
    }
  }
}

TEST_F(Delivery, UuidModeCarriesTheProjectSecretButNoOutputShowsIt) {
  DeliveryRun run(
      "uuid 00000001-0002-0003-0004-000000000005\nserver_name web1\nproject_name shop\n"
      "project_secret Pr0jSecr3t\nsecret S1gnS3cret\ninterval 1\n",
      "S1gnS3cret");
  ASSERT_TRUE(run.wait_reports(1, 8000)) << run.agent().output();
  run.stop();
  std::vector<std::string> packets = run.packets();
  ASSERT_FALSE(packets.empty());
  EXPECT_NE(packets[0].find("\"report\":{\"uuid\":\"00000001-0002-0003-0004-000000000005\",\"server_name\":\"web1\","
                            "\"project_name\":\"shop\",\"project_secret\":\"Pr0jSecr3t\",\"name\":"),
            std::string::npos)
      << packets[0];
  const std::string &out = run.agent().output();
  EXPECT_NE(out.find("project_secret : 2 \t ***"), std::string::npos);
  EXPECT_EQ(out.find("Pr0jSecr3t"), std::string::npos);
  EXPECT_EQ(out.find("S1gnS3cret"), std::string::npos);
}

}  // namespace

namespace {

// The "report" object of one collector line, read back with libbson.
struct Report {
  bson_t *doc = nullptr;
  explicit Report(const std::string &line) {
    size_t at = line.find("\"report\":");
    if (at == std::string::npos) return;
    std::string json = line.substr(at + 9, line.rfind('}') - (at + 9));
    doc = bson_new_from_json(reinterpret_cast<const uint8_t *>(json.data()), (ssize_t)json.size(), nullptr);
  }
  ~Report() {
    if (doc) bson_destroy(doc);
  }
  int64_t number(const char *path) const {
    bson_iter_t it, found;
    if (!doc || !bson_iter_init(&it, doc) || !bson_iter_find_descendant(&it, path, &found)) return -1;
    return bson_iter_as_int64(&found);
  }
  bool has(const char *path) const {
    bson_iter_t it, found;
    return doc && bson_iter_init(&it, doc) && bson_iter_find_descendant(&it, path, &found);
  }
};

uint64_t meminfo_kb(const char *key) {
  std::ifstream in("/proc/meminfo");
  std::string k;
  uint64_t v;
  std::string unit;
  while (in >> k >> v) {
    if (k == key) return v;
    std::getline(in, unit);
  }
  return 0;
}

TEST_F(Delivery, ReportsCarryTheLiveMachineFigures) {
  DeliveryRun run("id 42\ninterval 1\n", "");
  ASSERT_TRUE(run.wait_reports(2, 10000)) << run.agent().output();
  run.stop();
  std::vector<std::string> packets = run.packets();
  ASSERT_GE(packets.size(), 2u);
  // The first report (second cycle) and the one after it.
  Report second(packets[0]), third(packets[1]);
  ASSERT_NE(second.doc, nullptr) << packets[0];
  EXPECT_EQ(second.number("cpu.ok"), 1);
  int64_t shares = 0;
  for (const char *k : {"cpu.guest", "cpu.idle", "cpu.iowait", "cpu.irq", "cpu.nice", "cpu.softirq", "cpu.steal",
                        "cpu.system", "cpu.user"})
    shares += second.number(k);
  EXPECT_LE(shares, 100);
  EXPECT_GE(shares, 80);  // truncation loses at most one percent a field
  EXPECT_EQ(second.number("ncpu"), sysconf(_SC_NPROCESSORS_CONF));
  EXPECT_EQ(second.number("mem.ok"), 1);
  uint64_t total = meminfo_kb("MemTotal:");
  int64_t parts = second.number("mem.free") + second.number("mem.used") + second.number("mem.buffers") +
                  second.number("mem.cached");
  EXPECT_NEAR((double)parts, (double)total, total * 0.01);
  EXPECT_EQ(second.number("socket.ok"), 1);
  // The root file system is a /dev device here.
  std::ifstream mtab("/etc/mtab");
  std::string dev, dir;
  bool root_on_dev = false;
  while (mtab >> dev >> dir && !root_on_dev) {
    root_on_dev = dir == "/" && dev.rfind("/dev", 0) == 0;
    std::getline(mtab, dev);
  }
  if (root_on_dev) {
    EXPECT_EQ(second.number("mounts./.ok"), 1);
    EXPECT_GT(second.number("mounts./.total"), 0);
  }
  EXPECT_FALSE(second.has("net.lo"));  // interfaces count from the report after
  EXPECT_EQ(third.number("net.lo.ok"), 1);
  EXPECT_GT(third.number("uptime_sec"), 0);
  EXPECT_GT(third.number("vorn_memory_used"), 0);
}

}  // namespace
