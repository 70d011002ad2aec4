#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "test_util.h"
#include "vorn_config.h"
#include "vorn_core.h"

namespace {

class ConfigTest : public testing::Test {
 protected:
  void SetUp() override { reset_agent_globals(); }
  void TearDown() override { reset_agent_globals(); }
  TempDir dir;
};

TEST_F(ConfigTest, DefaultsWithoutAnyKey) {
  EXPECT_STREQ(config.configFile, "/etc/vorn.conf");
  EXPECT_STREQ(config.extConfigPattern, "/etc/vorn.d/*.conf");
  EXPECT_EQ(config.interval, 15u);
  EXPECT_EQ(config.proto, 17);
  EXPECT_EQ(config.port, 8641);
  EXPECT_EQ(config.counter_tcp_to, 2);
  EXPECT_EQ(config.server_tcp_to, 4);
  EXPECT_EQ(config.mysql_connect_to, 10);
  EXPECT_EQ(config.mysql_read_to, 3);
  EXPECT_EQ(config.mysql_write_to, 3);
  EXPECT_EQ(config.custom_counters_delimiter, 4);
  EXPECT_EQ(config.custom_default_uid, 65534);
  EXPECT_EQ(config.custom_default_gid, 65534);
  EXPECT_EQ(config.custom_default_timeout, 5);
  EXPECT_STREQ(config.slow_query_sec, "100");
  EXPECT_STREQ(config.mysql_lib, "libmysqlclient.so");
  EXPECT_STREQ(config.postgre_lib, "libpq.so");
  EXPECT_EQ(config.apacheSlashed, 1);
  EXPECT_EQ(config.interface_exclude_masks_count, 0);
  ASSERT_EQ(config.path_exclude_masks_count, 9);
  EXPECT_STREQ(config.path_exclude_masks[0], "/dev/shm");
  EXPECT_STREQ(config.path_exclude_masks[8], "/run/user/*");
  EXPECT_GT(config.uptime_at_startup, 0);
}

// Each setting line, read after "id 1", and what it must leave in the record.
TEST_F(ConfigTest, SettingKeys) {
  struct Case {
    const char *line;
    std::function<void()> check;
  };
  const std::vector<Case> cases = {
      {"interval 30", [] { EXPECT_EQ(config.interval, 30u); }},
      {"port 9000", [] { EXPECT_EQ(config.port, 9000); }},
      {"proto tcp", [] { EXPECT_EQ(config.proto, 6); }},
      {"proto udp", [] { EXPECT_EQ(config.proto, 17); }},
      {"proto TCP", [] { EXPECT_EQ(config.proto, 17); }},
      {"address 127.0.0.5", [] { EXPECT_STREQ(config.defaultServerIp, "127.0.0.5"); }},
      {"domain collector.example", [] { EXPECT_STREQ(config.serverName, "collector.example"); }},
      {"secret abc123", [] { EXPECT_STREQ((const char *)config.secret, "abc123"); }},
      {"server_name web1", [] { EXPECT_STREQ(config.server_name, "web1"); }},
      {"project_name shop", [] { EXPECT_STREQ(config.project_name, "shop"); }},
      {"project_secret ps", [] { EXPECT_STREQ(config.project_secret, "ps"); }},
      {"mem_slab_as_cached 1", [] { EXPECT_EQ(config.mem_slab_as_cached, 1); }},
      {"mem_slab_as_cached 7", [] { EXPECT_EQ(config.mem_slab_as_cached, 1); }},
      {"mem_slab_as_cached -1", [] { EXPECT_EQ(config.mem_slab_as_cached, 0); }},
      {"mysql_connect_to 7",
       [] {
         EXPECT_EQ(config.mysql_connect_to, 7);
         EXPECT_EQ(stats.nmysql_counters, 0);
         EXPECT_EQ(config.mysql_on, 0);
       }},
      {"mysql_read_to 5", [] { EXPECT_EQ(config.mysql_read_to, 5); }},
      {"mysql_write_to 6", [] { EXPECT_EQ(config.mysql_write_to, 6); }},
      {"server_tcp_to 9", [] { EXPECT_EQ(config.server_tcp_to, 9); }},
      {"counter_tcp_to 3", [] { EXPECT_EQ(config.counter_tcp_to, 3); }},
      {"slow_query_sec 250", [] { EXPECT_STREQ(config.slow_query_sec, "250"); }},
      {"custom_counters_delimiter 7", [] { EXPECT_EQ(config.custom_counters_delimiter, 7); }},
      {"custom_counters_delimiterX 8", [] { EXPECT_EQ(config.custom_counters_delimiter, 8); }},
      {"custom_uid 1000", [] { EXPECT_EQ(config.custom_default_uid, 1000); }},
      {"custom_gid 1001",
       [] {
         EXPECT_EQ(config.custom_default_gid, 1001);
         EXPECT_EQ(stats.ncustom_counters, 0);
       }},
      {"mysql_lib /opt/lib/libmysqlclient.so.21",
       [] {
         EXPECT_STREQ(config.mysql_lib, "/opt/lib/libmysqlclient.so.21");
         EXPECT_EQ(stats.nmysql_counters, 0);
       }},
      {"postgre_lib /opt/lib/libpq.so.5", [] { EXPECT_STREQ(config.postgre_lib, "/opt/lib/libpq.so.5"); }},
      {"slashedApache 0", [] { EXPECT_EQ(config.apacheSlashed, 0); }},
      {"exclude_tmpfs 1", [] { EXPECT_EQ(config.exclude_tmpfs, 1); }},
      {"exclude_mount /srv/backup",
       [] {
         ASSERT_EQ(config.path_exclude_masks_count, 10);
         EXPECT_STREQ(config.path_exclude_masks[9], "/srv/backup");
       }},
      {"exclude_interfaces veth*",
       [] {
         ASSERT_EQ(config.interface_exclude_masks_count, 1);
         EXPECT_STREQ(config.interface_exclude_masks[0], "veth*");
       }},
      {"nameserver 127.0.0.53",
       [] {
         ASSERT_EQ(config.dns_servers_count, 1);
         EXPECT_STREQ(config.dns_servers[0], "127.0.0.53");
       }},
      {"   port 7000", [] { EXPECT_EQ(config.port, 7000); }},
      {"# port 1", [] { EXPECT_EQ(config.port, 8641); }},
      {"portx 1", [] { EXPECT_EQ(config.port, 8641); }},
      {"", [] { EXPECT_EQ(config.port, 8641); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    reset_agent_globals();
    ConfigRun r = run_parse_config(dir, std::string("id 1\n") + c.line + "\n");
    ASSERT_EQ(r.rc, 0) << r.out;
    c.check();
  }
}

TEST_F(ConfigTest, ListsStopAtTheirCapacity) {
  std::string text = "id 1\n";
  for (int i = 0; i < 20; i++) text += "nameserver 127.0.0." + std::to_string(i + 1) + "\n";
  for (int i = 0; i < 300; i++) text += "exclude_interfaces if" + std::to_string(i) + "\n";
  ASSERT_EQ(run_parse_config(dir, text).rc, 0);
  EXPECT_EQ(config.dns_servers_count, 16);
  EXPECT_STREQ(config.dns_servers[15], "127.0.0.16");
  EXPECT_EQ(config.interface_exclude_masks_count, 256);
  EXPECT_STREQ(config.interface_exclude_masks[255], "if255");
}

// Which group each service line lands in and the exact text it hands over.
TEST_F(ConfigTest, ServiceLinesHandOverTheirText) {
  struct Case {
    const char *line;
    vorn_group group;
    const char *text;
    int32_t *flag;
  };
  const std::vector<Case> cases = {
      {"custom web rps curl -s x\n", vorn_group::custom, " web rps curl -s x\n", nullptr},
      {"customs web rps echo 1\n", vorn_group::custom, "s web rps echo 1\n", nullptr},
      {"server_status mysqladmin status\n", vorn_group::custom,
       "general server_status uid=0 gid=0 interval=1 type=11001  mysqladmin status\n", nullptr},
      {"mysql_main 127.0.0.1 3306 u p\n", vorn_group::mysql, "main 127.0.0.1 3306 u p\n", &config.mysql_on},
      {"mysql_socket /run/mysqld.sock\n", vorn_group::mysql, "socket /run/mysqld.sock\n", &config.mysql_on},
      {"memcache 127.0.0.1:11211 extra words\n", vorn_group::memcache, "127.0.0.1:11211", nullptr},
      {"beanstalk 127.0.0.1:11300\n", vorn_group::beanstalk, "127.0.0.1:11300", nullptr},
      {"redis_cache 127.0.0.1 6379\n", vorn_group::redis, "cache 127.0.0.1 6379\n", nullptr},
      {"mongodb main 127.0.0.1 27017\n", vorn_group::mycustoms, "main 127.0.0.1 27017\n", nullptr},
      {"sphinx idx 127.0.0.1 9306\n", vorn_group::mycustoms, "idx 127.0.0.1 9306\n", &config.mysql_on},
      {"rabbit mq 127.0.0.1 15672\n", vorn_group::mycustoms, "mq 127.0.0.1 15672\n", nullptr},
      {"elastic es 127.0.0.1 9200\n", vorn_group::mycustoms, "es 127.0.0.1 9200\n", nullptr},
      {"apache web http://127.0.0.1/server-status\n", vorn_group::mycustoms,
       "web http://127.0.0.1/server-status\n", nullptr},
      {"nginx front http://127.0.0.1/status\n", vorn_group::mycustoms, "front http://127.0.0.1/status\n", nullptr},
      {"fpm pool 127.0.0.1:9000\n", vorn_group::mycustoms, "pool 127.0.0.1:9000\n", nullptr},
      {"postgresql_db 127.0.0.1 5432\n", vorn_group::mycustoms, "db 127.0.0.1 5432\n", &config.postgre_on},
      // A key word alone at the end of the file hands over an empty text.
      {"nginx", vorn_group::mycustoms, "", nullptr},
      {"postgresql_", vorn_group::mycustoms, "", &config.postgre_on},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    reset_agent_globals();
    ConfigRun r = run_parse_config(dir, std::string("id 1\n") + c.line);
    ASSERT_EQ(r.rc, 0) << r.out;
    unsigned total = 0;
    for (vorn_group g : {vorn_group::mysql, vorn_group::custom, vorn_group::mycustoms, vorn_group::memcache,
                         vorn_group::beanstalk, vorn_group::redis})
      total += vorn_stats_group(stats, g).count;
    ASSERT_EQ(total, 1u);
    vorn_group_view v = vorn_stats_group(stats, c.group);
    ASSERT_EQ(v.count, 1u);
    EXPECT_STREQ(v.slots[0].cfg_string, c.text);
    if (c.flag) {
      EXPECT_EQ(*c.flag, 1);
    }
    EXPECT_EQ(config.mysql_on + config.postgre_on, c.flag ? 1 : 0);
  }
}

TEST_F(ConfigTest, ServiceLinesKeepConfigurationOrder) {
  ASSERT_EQ(run_parse_config(dir, "id 1\nnginx a\nfpm b\napache c\n").rc, 0);
  ASSERT_EQ(stats.nmycustoms, 3);
  EXPECT_STREQ(stats.mycustom_counters[0].cfg_string, "a\n");
  EXPECT_STREQ(stats.mycustom_counters[1].cfg_string, "b\n");
  EXPECT_STREQ(stats.mycustom_counters[2].cfg_string, "c\n");
}

TEST_F(ConfigTest, FullGroupIgnoresFurtherLinesWithMessage) {
  std::string text = "id 1\n";
  for (int i = 0; i < 17; i++) text += "redis_r" + std::to_string(i) + " 127.0.0.1 6379\n";
  ConfigRun r = run_parse_config(dir, text);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(stats.nredis_counters, 16);
  EXPECT_STREQ(stats.redis_counters[15].cfg_string, "r15 127.0.0.1 6379\n");
  EXPECT_NE(r.out.find("'redis_r16'"), std::string::npos) << r.out;
  // Nothing spilled into the group that follows.
  EXPECT_EQ(stats.beanstalk_counters[0].cfg_string[0], '\0');
}

TEST_F(ConfigTest, OverlongInputIsCut) {
  std::string longword(300, 'x');
  ConfigRun r = run_parse_config(dir, "id 1\nsecret " + longword + "\nserver_status " + longword +
                                          "\nexclude_mount /" + longword + "\n" + longword + " 1\n");
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_EQ(strlen((const char *)config.secret), 255u);
  ASSERT_EQ(stats.ncustom_counters, 1);
  const char *st = stats.custom_counters[0].cfg_string;
  EXPECT_EQ(strlen(st), 255u);
  EXPECT_EQ(std::string(st).rfind("general server_status uid=0 gid=0 interval=1 type=11001  xxx", 0), 0u);
  EXPECT_EQ(strlen(config.path_exclude_masks[9]), 255u);

  // A custom line longer than a counter's text keeps its first 2047 characters.
  reset_agent_globals();
  ASSERT_EQ(run_parse_config(dir, "id 1\ncustom " + std::string(3000, 'c') + "\n").rc, 0);
  ASSERT_GE(stats.ncustom_counters, 1);
  EXPECT_EQ(strlen(stats.custom_counters[0].cfg_string), 2047u);
}

TEST_F(ConfigTest, DockerSocketTakesTheRestOfTheLine) {
  ConfigRun r = run_parse_config(dir, "id 1\ndocker_sock /tmp/my docker.sock\n");
  ASSERT_EQ(r.rc, 0);
  ASSERT_NE(config.docker_sock_path, nullptr);
  EXPECT_STREQ(config.docker_sock_path, "/tmp/my docker.sock");
  EXPECT_NE(r.out.find("Docker socket '/tmp/my docker.sock'\n"), std::string::npos);
}

TEST_F(ConfigTest, IdentityValidation) {
  struct Case {
    const char *text;
    int rc;
    std::vector<const char *> messages;
  };
  const char *uuid_fmt = "ERROR: UUID must be in aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee format\n";
  const char *need_server = "ERROR: When using server UUID instead of ID, 'server_name' must be specified\n";
  const char *need_project = "ERROR: When using server UUID instead of ID, 'project_name' must be specified\n";
  const std::vector<Case> cases = {
      {"id 42\n", 0, {}},
      {"", 1, {"ERROR: set server id or uuid!\n"}},
      {"id 0\n", 1, {"ERROR: set server id or uuid!\n"}},
      {"uuid 00000001-0002-0003-0004-000000000005\n", 1, {need_server, need_project}},
      {"uuid 00000001-0002-0003-0004-000000000005\nserver_name a\n", 1, {need_project}},
      {"uuid 00000001-0002-0003-0004-000000000005\nserver_name a\nproject_name b\n", 0, {}},
      {"uuid 1-2-3-4-5\nserver_name a\nproject_name b\n", 1, {uuid_fmt}},
      {"uuid 00000001-0002-0003-0004\nserver_name a\nproject_name b\n", 1, {uuid_fmt}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    reset_agent_globals();
    ConfigRun r = run_parse_config(dir, c.text);
    EXPECT_EQ(r.rc, c.rc) << r.out;
    std::string expected;
    for (const char *m : c.messages) expected += m;
    EXPECT_EQ(r.out, expected);
  }
}

TEST_F(ConfigTest, KeysOfTheServerIdentity) {
  ASSERT_EQ(run_parse_config(dir, "id 42\n").rc, 0);
  EXPECT_EQ(config.id, 42u);
  EXPECT_EQ(config.shm_key, 42);

  reset_agent_globals();
  ASSERT_EQ(run_parse_config(dir, "uuid 00000001-0002-0003-0004-000000000005\nserver_name a\nproject_name b\n").rc,
            0);
  EXPECT_EQ(config.id, 0u);
  EXPECT_STREQ(config.uuid, "00000001-0002-0003-0004-000000000005");
  EXPECT_EQ(config.shm_key, 1);
}

TEST_F(ConfigTest, BadUuidStopsTheFileAtThatLine) {
  ConfigRun r = run_parse_config(dir, "uuid not-a-uuid\nredis_r 127.0.0.1 6379\n");
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.out, "ERROR: UUID must be in aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee format\n");
  EXPECT_EQ(stats.nredis_counters, 0);
}

TEST_F(ConfigTest, IntervalMustBeAtLeastOneSecond) {
  for (const char *v : {"0", "abc", "-5"}) {
    SCOPED_TRACE(v);
    reset_agent_globals();
    ConfigRun r = run_parse_config(dir, std::string("id 1\ninterval ") + v + "\n");
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.out.find("ERROR: interval must be"), std::string::npos) << r.out;
  }
}

TEST_F(ConfigTest, MissingMainFile) {
  vorn_copy(config.configFile, dir.file("absent.conf"));
  testing::internal::CaptureStdout();
  EXPECT_EQ(parse_config(), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Config file " + dir.file("absent.conf") + " not found!\n");
}

TEST_F(ConfigTest, ExtraFilesAreReadInSortedOrder) {
  std::filesystem::create_directory(dir.file("extra"));
  dir.write("extra/b.conf", "redis_b 127.0.0.1 6380\n");
  dir.write("extra/a.conf", "redis_a 127.0.0.1 6379\n");
  dir.write("extra/c.txt", "redis_c 127.0.0.1 6381\n");
  ConfigRun r = run_parse_config(dir, "id 1\n");
  ASSERT_EQ(r.rc, 0) << r.out;
  ASSERT_EQ(stats.nredis_counters, 2);
  EXPECT_STREQ(stats.redis_counters[0].cfg_string, "a 127.0.0.1 6379\n");
  EXPECT_STREQ(stats.redis_counters[1].cfg_string, "b 127.0.0.1 6380\n");
  ASSERT_EQ(config.extConfigCount, 2);
  EXPECT_EQ(std::string(config.extConfigFiles[0]), dir.file("extra/a.conf"));
  EXPECT_EQ(std::string(config.extConfigFiles[1]), dir.file("extra/b.conf"));

  testing::internal::CaptureStdout();
  print_config();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("\t\t" + dir.file("extra/a.conf") + "\n\t\t" + dir.file("extra/b.conf") + "\n"),
            std::string::npos);
}

TEST_F(ConfigTest, RejectedExtraFileStopsTheReading) {
  std::filesystem::create_directory(dir.file("extra"));
  dir.write("extra/1.conf", "redis_one 127.0.0.1 6379\n");
  dir.write("extra/2.conf", "interval 0\n");
  dir.write("extra/3.conf", "redis_three 127.0.0.1 6379\n");
  ConfigRun r = run_parse_config(dir, "id 1\n");
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(stats.nredis_counters, 1);
  EXPECT_EQ(config.extConfigCount, 1);
}

TEST_F(ConfigTest, SlabSettingCountsFromTheLastFileRead) {
  std::filesystem::create_directory(dir.file("extra"));
  dir.write("extra/a.conf", "port 9000\n");
  ASSERT_EQ(run_parse_config(dir, "id 1\nmem_slab_as_cached 1\n").rc, 0);
  EXPECT_EQ(config.mem_slab_as_cached, 0);

  reset_agent_globals();
  dir.write("extra/b.conf", "mem_slab_as_cached 1\n");
  ASSERT_EQ(run_parse_config(dir, "id 1\n").rc, 0);
  EXPECT_EQ(config.mem_slab_as_cached, 1);
}

TEST_F(ConfigTest, PrintConfigNeverShowsSecrets) {
  ASSERT_EQ(run_parse_config(dir, "uuid 00000001-0002-0003-0004-000000000005\nserver_name web1\nproject_name "
                                  "shop\nproject_secret Pr0jSecr3t\nsecret S1gnS3cret\nport 9999\n")
                .rc,
            0);
  testing::internal::CaptureStdout();
  print_config();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("Config:\n\tdebug: 0\n\tname: \n\tid: 0\n\tUUID: 00000001-0002-0003-0004-000000000005\n"
                      "\tServer name: web1\n\tProject name: shop\n\tinterval: 15\n\tproto: 17\n\tport: 9999\n",
                      0),
            0u)
      << out;
  EXPECT_EQ(out.find("Pr0jSecr3t"), std::string::npos);
  EXPECT_EQ(out.find("S1gnS3cret"), std::string::npos);
}

TEST_F(ConfigTest, CommandLineOptions) {
  std::string cfg = dir.file("x.conf");
  std::string pattern = dir.file("*.conf");
  const char *argv[] = {"vorn", "--debug", "--config", cfg.c_str(), "--conf-glob", pattern.c_str(),
                        "--bogus", "--showconfig"};
  testing::internal::CaptureStdout();
  parse_options(8, const_cast<char **>(argv));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(config.debug, 1);
  EXPECT_EQ(config.showconfigonly, 1);
  EXPECT_EQ(std::string(config.configFile), cfg);
  EXPECT_EQ(std::string(config.extConfigPattern), pattern);
  EXPECT_EQ(out, "Config file: " + cfg + "\nExt config pattern: " + pattern + "\nUnknown option --bogus\n");
}

TEST_F(ConfigTest, OptionWithoutItsArgumentIsAnError) {
  for (const char *opt : {"--config", "--conf-glob"}) {
    const char *argv[] = {"vorn", opt};
    EXPECT_EXIT(parse_options(2, const_cast<char **>(argv)), testing::ExitedWithCode(1), "");
  }
}

TEST(ConfigHelpers, ParseUuid) {
  struct Case {
    const char *text;
    int ok;
    key_t key;
  };
  const Case cases[] = {
      {"00000001-0002-0003-0004-000000000005", 1, 1},
      {"0000000a-000b-000c-000d-00000000000e", 1, 0xa ^ 0xb ^ 0xc ^ 0xd ^ 0xe},
      // A 12-digit group too large for 32 bits saturates to all bits set.
      {"00000001-0000-0000-0000-123456789abc", 1, (key_t)(1u ^ 0xFFFFFFFFu)},
      {"00000001-0002-0003-0004", 0, 1 ^ 2 ^ 3 ^ 4},
      {"not-a-uuid", 0, 0},
      {"", 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    key_t key = 12345;
    EXPECT_EQ(parse_uuid(c.text, &key), c.ok);
    EXPECT_EQ(key, c.key);
  }
}

TEST(ConfigHelpers, IsValidInt) {
  for (const char *yes : {"0", "12", "-12", "007"}) EXPECT_EQ(is_valid_int(yes), 1) << yes;
  for (const char *no : {"", "-", "+1", " 1", "1 ", "12a", "1.5", "--1"}) EXPECT_EQ(is_valid_int(no), 0) << no;
}

TEST(ConfigHelpers, ExclusionMasks) {
  reset_agent_globals();
  struct Case {
    const char *needle;
    int match;
  };
  const Case defaults[] = {{"/run/user/1000", 1}, {"/run/users", 0}, {"/run", 1}, {"/run/lock", 1},
                           {"/dev/sda1", 0},      {"/", 0},          {"/boot/efi", 1}};
  for (const Case &c : defaults)
    EXPECT_EQ(in_excludelist(c.needle, config.path_exclude_masks, config.path_exclude_masks_count), c.match)
        << c.needle;

  char masks[2][256] = {"*", "veth*"};
  EXPECT_EQ(in_excludelist("*", masks, 2), 1);
  EXPECT_EQ(in_excludelist("eth0", masks, 2), 0);
  EXPECT_EQ(in_excludelist("veth0a1", masks, 2), 1);
  EXPECT_EQ(in_excludelist("veth0a1", masks, 1), 0);  // only the first size masks count
}

}  // namespace
