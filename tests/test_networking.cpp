#include <gtest/gtest.h>

#include <string>

#include "bson_check.h"
#include "fakes/dns_peer.h"
#include "test_util.h"
#include "vorn_bson.h"
#include "vorn_networking.h"
#include "vorn_sign.h"

namespace {

class NetTest : public testing::Test {
 protected:
  void SetUp() override {
    reset_agent_globals();
    config.id = 42;
  }
  void TearDown() override { reset_agent_globals(); }
};

TEST_F(NetTest, SignatureIsSha1OfDocumentAndSecret) {
  struct Case {
    const char *msg, *secret, *digest;
  };
  const Case cases[] = {
      {"ab", "c", "a9993e364706816aba3e25717850c26c9cd0d89d"},  // SHA-1("abc")
      {"", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"The quick brown fox jumps over the lazy ", "dog", "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12"},
  };
  for (const Case &c : cases) {
    vorn_copy(config.secret, c.secret);
    uint8_t *out = nullptr;
    uint32_t len = 0;
    int n = (int)strlen(c.msg);
    ASSERT_EQ(sign(reinterpret_cast<const uint8_t *>(c.msg), n, &out, &len), 0);
    vorn_buffer owner(out);
    ASSERT_EQ(len, (uint32_t)n + 40);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), len), std::string(c.msg) + c.digest);
  }
  // Without a secret the packet is the message itself.
  config.secret[0] = 0;
  uint8_t *out = nullptr;
  uint32_t len = 0;
  ASSERT_EQ(sign(reinterpret_cast<const uint8_t *>("doc"), 3, &out, &len), 0);
  vorn_buffer owner(out);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(out), len), "doc");
}

TEST_F(NetTest, LocalAddressMask) {
  struct Case {
    uint32_t raw;
    const char *key;
    uint32_t masked;
  };
  const Case cases[] = {
      {0x7F000001, "0123456789abcdef", 0x7F000001 ^ 0x01234567},
      {0x7F000001, "FFFFFFFF", 0x80FFFFFE},
      {0x7F000001, "7f000001", 0},       // address equal to the mask
      {0x7F000001, "0123456", 0},        // shorter than eight characters
      {0x7F000001, nullptr, 0},
      {0x7F000001, "01zz4567", 0x7E000001},  // reading stops at the first bad pair
  };
  for (const Case &c : cases) EXPECT_EQ(encrypt_long(c.raw, c.key), c.masked) << (c.key ? c.key : "null");
}

TEST_F(NetTest, EndsWith) {
  EXPECT_EQ(endsWith("collector.example.net", ".example.net"), 1);
  EXPECT_EQ(endsWith("example.net", "example.net"), 1);
  EXPECT_EQ(endsWith("net", "example.net"), 0);
  EXPECT_EQ(endsWith("collector.EXAMPLE.net", ".example.net"), 0);
  EXPECT_EQ(endsWith("x", ""), 1);
  EXPECT_EQ(endsWith(nullptr, "x"), 0);
  EXPECT_EQ(endsWith("x", nullptr), 0);
}

TEST_F(NetTest, ReportTopLevelOrder) {
  uint8_t *doc;
  uint32_t len;
  ASSERT_EQ(stats_to_bson(&doc, &len, 0), 0);
  vorn_buffer a(doc);
  EXPECT_EQ(bson_keys(doc, len),
            "id,name,time,interval,version,custom_errors,memcaches,beanstalks,custom,mysqls,redises,mycustoms");
  EXPECT_NE(bson_json(doc, len).find("\"memcaches\" : [  ]"), std::string::npos);

  config.id = 0;
  vorn_copy(config.uuid, "00000001-0002-0003-0004-000000000005");
  vorn_copy(config.project_secret, "ps");
  ASSERT_EQ(stats_to_bson(&doc, &len, 0x7E234566), 0);
  vorn_buffer b(doc);
  EXPECT_EQ(bson_keys(doc, len),
            "uuid,server_name,project_name,project_secret,local_ip,name,time,interval,version,custom_errors,"
            "memcaches,beanstalks,custom,mysqls,redises,mycustoms");
  EXPECT_NE(bson_json(doc, len).find("\"local_ip\" : { \"$numberLong\" : \"2116240742\" }"), std::string::npos);
}

// Counters writing text that is not UTF-8, or leaving a level open, cost
// only their own elements.
int32_t bad_mount_tobson(vorn_mycustom_counter *, bson *b) {
  vorn_bson_append_start_object(b, "mounts");
  vorn_bson_append_start_object(b, "/mnt/caf\xe9");
  vorn_bson_append_int(b, "free", 1);
  vorn_bson_append_finish_object(b);
  vorn_bson_append_start_object(b, "/");
  vorn_bson_append_int(b, "free", 2);
  vorn_bson_append_finish_object(b);
  return vorn_bson_append_finish_object(b);
}
int32_t unclosed_tobson(vorn_mycustom_counter *, bson *b) {
  vorn_bson_append_start_object(b, "web");
  return vorn_bson_append_string(b, "name", "bad\xff");
}

TEST_F(NetTest, BadTextInACounterDoesNotStopTheReport) {
  stats.ncore_counters = 7;
  stats.core_counters[4].tobson = bad_mount_tobson;
  vorn_mycustom_counter *c = vorn_stats_add(stats, vorn_group::mycustoms);
  c->tobson = unclosed_tobson;
  uint8_t *doc;
  uint32_t len;
  ASSERT_EQ(stats_to_bson(&doc, &len, 0), 0);
  vorn_buffer owner(doc);
  std::string json = bson_json(doc, len);
  EXPECT_NE(json.find("\"mounts\" : { \"/\" : { \"free\" : { \"$numberInt\" : \"2\" } } }"), std::string::npos)
      << json;
  EXPECT_NE(json.find("\"mycustoms\" : [ {  } ]"), std::string::npos) << json;
}

TEST_F(NetTest, UdpPacketIsTheSignedDocument) {
  int rx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  ASSERT_EQ(bind(rx, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  socklen_t al = sizeof a;
  getsockname(rx, reinterpret_cast<sockaddr *>(&a), &al);
  config.port = ntohs(a.sin_port);
  vorn_copy(config.defaultServerIp, "127.0.0.1");
  vorn_copy(config.secret, "k");
  send_data();
  uint8_t buf[65536];
  timeval tv{2, 0};
  setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ssize_t n = recv(rx, buf, sizeof buf, 0);
  close(rx);
  ASSERT_GT(n, 45);
  uint32_t doc_len;
  memcpy(&doc_len, buf, 4);
  ASSERT_EQ((size_t)n, doc_len + 40u);
  EXPECT_EQ(bson_keys(buf, doc_len).rfind("id,name,", 0), 0u);  // no local_ip over UDP
  uint8_t *again;
  uint32_t again_len;
  config.secret[0] = 'k';
  ASSERT_EQ(sign(buf, (int)doc_len, &again, &again_len), 0);
  vorn_buffer owner(again);
  EXPECT_EQ(memcmp(again, buf, (size_t)n), 0);
}

TEST_F(NetTest, TcpFailureIsReportedNotFatal) {
  config.proto = 6;
  vorn_copy(config.defaultServerIp, "127.0.0.1");
  config.port = 1;  // nothing listens
  testing::internal::CaptureStdout();
  send_data();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("could not bind socket or connect whatever (127.0.0.1) -1 ", 0), 0u) << out;
}

TEST_F(NetTest, NameServersAreAskedInTurn) {
  if (geteuid() != 0) GTEST_SKIP() << "name servers listen on port 53";
  DnsPeer first("127.0.0.2", "127.0.0.11");
  DnsPeer second("127.0.0.3", "127.0.0.12");
  DnsPeer mute("127.0.0.4", "127.0.0.13", true);
  ASSERT_TRUE(first.ok() && second.ok() && mute.ok());
  vorn_copy(config.serverName, "collector.test");
  vorn_copy(config.dns_servers[0], "127.0.0.2");
  vorn_copy(config.dns_servers[1], "127.0.0.3");
  vorn_copy(config.dns_servers[2], "127.0.0.4");
  config.dns_servers_count = 3;
  config.counter_tcp_to = 1;
  dns_rr_counter = 0;
  const char *expect[] = {"127.0.0.11", "127.0.0.12", "127.0.0.12", "127.0.0.11"};
  std::string outputs;
  for (const char *ip : expect) {
    testing::internal::CaptureStdout();
    update_ip();
    outputs += testing::internal::GetCapturedStdout() + "|";
    EXPECT_STREQ(config.serverIp, ip);
  }
  // The silent one fails with "error 2" and the address found before stays.
  EXPECT_EQ(outputs, "||error 2||");
  EXPECT_EQ(first.queries(), 2);
  EXPECT_EQ(second.queries(), 1);
  EXPECT_GE(mute.queries(), 1);
  EXPECT_EQ(dns_rr_counter, 1);
}

TEST_F(NetTest, LocalResolverWithoutNameServers) {
  vorn_copy(config.serverName, "localhost");
  update_ip();
  EXPECT_STREQ(config.serverIp, "127.0.0.1");
  vorn_copy(config.serverName, "no-such-host.invalid");
  update_ip();
  EXPECT_STREQ(config.serverIp, "127.0.0.1");  // a failed lookup keeps the last address
  config.serverName[0] = 0;
  config.serverIp[0] = 0;
  update_ip();
  EXPECT_STREQ(config.serverIp, "");
}

}  // namespace
