#include <gtest/gtest.h>

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
