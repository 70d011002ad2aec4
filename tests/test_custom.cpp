#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "bson_check.h"
#include "test_util.h"
#include "vorn_custom.h"
#include "vorn_counter_data.h"
#include "vorn_customs_core.h"

namespace {

class CustomTest : public testing::Test {
 protected:
  void SetUp() override { reset_agent_globals(); }
  void TearDown() override { reset_agent_globals(); }

  // A counter parsed from the text a "custom" line hands over.
  vorn_mycustom_counter parsed(const std::string &text) {
    vorn_mycustom_counter c{};
    vorn_copy(c.cfg_string, text);
    testing::internal::CaptureStdout();
    custom_parse_conf(&c);
    testing::internal::GetCapturedStdout();
    return c;
  }
};

TEST_F(CustomTest, LineGrammar) {
  struct Case {
    const char *text;
    const char *report, *name, *exec, *alert;
    int uid, gid, timeout, period, type, incremental;
  };
  const Case cases[] = {
      {" web rps echo 42\n", "web", "rps", " echo 42", "", 65534, 65534, 5, 4, 11, 0},
      {" \"my app\" queue echo 1", "my app", "queue", " echo 1", "", 65534, 65534, 5, 4, 11, 0},
      {" \"solo\" \"two words\" echo 1", "solo", "two words", " echo 1", "", 65534, 65534, 5, 4, 11, 0},
      {" r n uid=0 gid=10 timeout=9 periods=12 type=7 incremental alert=>5 cat /x", "r", "n", " cat /x", ">5", 0, 10,
       9, 12, 7, 1},
      {" r n interval=12 echo", "r", "n", " echo", "", 65534, 65534, 5, 12, 11, 0},
      {" r n interval=0 echo", "r", "n", " echo", "", 65534, 65534, 5, 1, 11, 0},  // period 0 runs every cycle
      {"   r    n   uid=1   echo  a  b", "r", "n", "   echo  a  b", "", 1, 65534, 5, 4, 11, 0},
      {" r n uid=3", "r", "n", "", "", 3, 65534, 5, 4, 11, 0},  // no command word: stops at the end
      {" r", "r", "", "", "", 65534, 65534, 5, 4, 11, 0},
      {"general server_status uid=0 gid=0 interval=1 type=11001  mysqladmin status", "general", "server_status",
       "  mysqladmin status", "", 0, 0, 5, 1, 11001, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    vorn_mycustom_counter k = parsed(c.text);
    EXPECT_STREQ(k.report, c.report);
    EXPECT_STREQ(k.id, c.name);
    EXPECT_STREQ(k.exec, c.exec);
    EXPECT_STREQ(k.alert_condition, c.alert);
    EXPECT_EQ(k.uid, c.uid);
    EXPECT_EQ(k.gid, c.gid);
    EXPECT_EQ(k.max_seconds, c.timeout);
    EXPECT_EQ(k.interval, c.period);
    EXPECT_EQ(k.type, c.type);
    EXPECT_EQ(k.incremental, c.incremental);
  }
  vorn_mycustom_counter k = parsed(" r n alert=" + std::string(60, 'a') + " echo");
  EXPECT_EQ(strlen(k.alert_condition), 49u);
  k = parsed(" " + std::string(300, 'r') + " " + std::string(300, 'n') + " echo");
  EXPECT_EQ(strlen(k.report), 255u);
  EXPECT_EQ(strlen(k.id), 255u);
}

TEST_F(CustomTest, OutputLines) {
  vorn_mycustom_data_custom d{};
  EXPECT_DOUBLE_EQ(custom_parse_output("42\n", 11, &d), 42);
  EXPECT_EQ(d.agent_alerts_count, 0);
  std::string many = "3.5 units\n";
  for (int i = 0; i < 12; i++) many += "alert " + std::to_string(i) + "\n\n";
  EXPECT_DOUBLE_EQ(custom_parse_output(many, 11, &d), 3.5);
  ASSERT_EQ(d.agent_alerts_count, 10);
  EXPECT_STREQ(d.agent_alerts[0].text, "alert 0");
  EXPECT_STREQ(d.agent_alerts[9].text, "alert 9");
  EXPECT_DOUBLE_EQ(custom_parse_output("down\nnext\n", 11001, &d), 0);
  EXPECT_EQ(d.agent_alerts_count, 2);
  custom_parse_output("1\n" + std::string(300, 'x'), 11, &d);
  EXPECT_EQ(strlen(d.agent_alerts[0].text), 255u);
}

struct CommandRun {
  int err;
  double value;
  vorn_mycustom_data_custom data;
  std::string out;
};

CommandRun run(const char *cmd, int type = 11, int timeout = 5, uid_t uid = 65534, gid_t gid = 65534) {
  CommandRun r{};
  testing::internal::CaptureStdout();
  r.value = call_exec(cmd, uid, gid, timeout, type, &r.err, &r.data);
  r.out = testing::internal::GetCapturedStdout();
  return r;
}

TEST_F(CustomTest, RunsRealCommands) {
  if (geteuid() != 0) GTEST_SKIP() << "commands run as another user";
  CommandRun r = run("printf '17\\nfirst alert\\nsecond alert\\n'");
  EXPECT_EQ(r.err, 0);
  EXPECT_DOUBLE_EQ(r.value, 17);
  EXPECT_EQ(r.data.agent_alerts_count, 2);
  EXPECT_STREQ(r.data.agent_alerts[1].text, "second alert");
  EXPECT_EQ(r.data.errors, 0);

  r = run("echo 5; echo careful >&2");
  EXPECT_EQ(r.err, 0);
  EXPECT_DOUBLE_EQ(r.value, 5);
  EXPECT_EQ(r.data.errors, 1);

  r = run("true");
  EXPECT_EQ(r.err, 1);
  EXPECT_NE(r.out.find("EROROR! Custom script has returned an empty string, killed"), std::string::npos);

  r = run("true", 11001);
  EXPECT_EQ(r.err, 0);
  EXPECT_EQ(r.data.agent_alerts_count, 0);

  // The command really runs as the configured user and group, without root's
  // supplementary groups.
  r = run("id -u; id -g; id -G");
  EXPECT_DOUBLE_EQ(r.value, 65534);
  EXPECT_STREQ(r.data.agent_alerts[0].text, "65534");
  EXPECT_STREQ(r.data.agent_alerts[1].text, "65534");
  r = run("id -u", 11, 5, 0, 0);
  EXPECT_DOUBLE_EQ(r.value, 0);

  // Much more output than is kept, on both streams: read to the end, no hang.
  r = run("seq 1 100000; seq 1 100000 >&2");
  EXPECT_EQ(r.err, 0);
  EXPECT_DOUBLE_EQ(r.value, 1);
  EXPECT_EQ(r.data.errors, 1);
}

TEST_F(CustomTest, TimeLimitKillsTheWholeCommand) {
  if (geteuid() != 0) GTEST_SKIP() << "commands run as another user";
  TempDir dir;
  std::string pidfile = dir.file("pids");
  chmod(dir.path().c_str(), 0777);
  std::string cmd = "sleep 30 & echo $! > " + pidfile + "; echo $$ >> " + pidfile + "; wait";
  time_t t0 = time(nullptr);
  CommandRun r = run(cmd.c_str(), 11, 1);
  EXPECT_LE(time(nullptr) - t0, 3);
  EXPECT_EQ(r.err, 1);
  EXPECT_NE(r.out.find("EROROR! Custom script running too long (1 sec), killed\n"), std::string::npos) << r.out;
  std::ifstream in(pidfile);
  int pid, n = 0;
  usleep(100000);
  while (in >> pid) {
    n++;
    // Gone, or dead and waiting to be reaped by whoever adopted it.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string ignore, state;
    if (stat >> ignore >> ignore >> state) {
      EXPECT_EQ(state, "Z") << "process " << pid << " outlived its time limit";
    }
  }
  EXPECT_EQ(n, 2);
}

TEST_F(CustomTest, IncrementalCounterReportsGrowth) {
  vorn_mycustom_counter c = parsed(" r n incremental echo");
  vorn_alloc_records<vorn_mycustom_data_custom>(&c, true);
  auto *cur = static_cast<vorn_mycustom_data_custom *>(c.data);
  auto *delta = static_cast<vorn_mycustom_data_custom *>(c.data_delta);
  const double values[] = {100, 130, 125};
  std::vector<std::string> reported;
  for (uint64_t it = 0; it < 3; it++) {
    cur->value = values[it];
    cur->ok = cur->updated = cur->mustBeUpdated = 1;
    custom_delta(&c, 15, it);
    reported.push_back(delta->updated ? std::to_string((int)delta->value) : "-");
  }
  EXPECT_EQ(reported, (std::vector<std::string>{"-", "30", "0"}));
  cur->mustBeUpdated = 0;  // not due: nothing reported, the last run is kept
  custom_delta(&c, 15, 3);
  EXPECT_EQ(delta->updated, 0);
  vorn_free_records(&c);
}

TEST_F(CustomTest, ReportDocument) {
  config.interval = 15;
  vorn_mycustom_counter c = parsed(" web rps periods=2 alert=>10 echo");
  vorn_alloc_records<vorn_mycustom_data_custom>(&c, true);
  auto *d = static_cast<vorn_mycustom_data_custom *>(c.data_delta);
  vorn_bson_doc empty;
  custom_tobson(&c, empty.get());  // not updated: nothing
  vorn_bson_finish(empty.get());
  EXPECT_EQ(vorn_bson_size(empty.get()), 5);
  d->updated = d->mustBeUpdated = 1;
  d->value = 2.5;
  d->errors = 1;
  d->agent_alerts_count = 1;
  vorn_copy(d->agent_alerts[0].text, "slow");
  vorn_bson_doc doc;
  custom_tobson(&c, doc.get());
  vorn_bson_finish(doc.get());
  EXPECT_EQ(bson_json(doc.get()),
            "{ \"web_rps\" : { \"report\" : \"web\", \"name\" : \"rps\", \"interval\" : { \"$numberInt\" : \"30\" }, "
            "\"alert_when\" : \">10\", \"value\" : { \"$numberDouble\" : \"2.5\" }, \"errors\" : { \"$numberInt\" : "
            "\"1\" }, \"alerts\" : [ \"slow\" ] } }");
  vorn_mycustom_counter s = parsed("general server_status uid=0 gid=0 interval=1 type=11001  true");
  vorn_alloc_records<vorn_mycustom_data_custom>(&s, true);
  auto *sd = static_cast<vorn_mycustom_data_custom *>(s.data_delta);
  sd->updated = sd->mustBeUpdated = 1;
  vorn_bson_doc st;
  custom_tobson(&s, st.get());
  vorn_bson_finish(st.get());
  EXPECT_NE(bson_json(st.get()).find("\"type\" : { \"$numberLong\" : \"11001\" }, \"alerts\" : [  ]"),
            std::string::npos)
      << bson_json(st.get());
  vorn_free_records(&c);
  vorn_free_records(&s);
}

TEST_F(CustomTest, SegmentRoundTripReplacesLeftoverAndIsPrivate) {
  config.shm_key = 0x76600000 + (getpid() & 0xffff);  // one key per test process
  // A leftover from an earlier run, smaller than today's.
  int old = shmget(config.shm_key, 100, IPC_CREAT | 0666);
  ASSERT_GE(old, 0);
  for (int i = 0; i < 2; i++) {
    vorn_mycustom_counter *c = vorn_stats_add(stats, vorn_group::custom);
    vorn_alloc_records<vorn_mycustom_data_custom>(c, true);
  }
  auto *d1 = static_cast<vorn_mycustom_data_custom *>(stats.custom_counters[1].data_delta);
  vorn_customs_import();  // the leftover has another size: skipped
  d1->value = 9;
  d1->updated = 1;
  testing::internal::CaptureStderr();
  ASSERT_EQ(vorn_customs_publish(), 0);
  testing::internal::GetCapturedStderr();
  int id = shmget(config.shm_key, 0, 0);
  ASSERT_GE(id, 0);
  struct shmid_ds ds;
  ASSERT_EQ(shmctl(id, IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.shm_perm.mode & 0777, 0600);
  EXPECT_EQ(ds.shm_segsz, 2 * 2640u);
  d1->value = 0;
  vorn_customs_import();
  EXPECT_DOUBLE_EQ(d1->value, 9);
  clear_shm();
  EXPECT_LT(shmget(config.shm_key, 0, 0), 0);
  for (int i = 0; i < 2; i++) vorn_free_records(&stats.custom_counters[i]);
}

TEST(SegmentKeys, NeverThePrivateKey) {
  key_t saved = config.shm_key;
  config.shm_key = 0;  // a UUID whose groups cancel out
  EXPECT_NE(vorn_shm_key(0), 0);
  EXPECT_EQ(vorn_shm_key(1), 1);
  config.shm_key = -1;  // id 4294967295
  EXPECT_NE(vorn_shm_key(1), 0);
  EXPECT_NE(vorn_shm_key(1), vorn_shm_key(0));
  config.shm_key = 42;
  EXPECT_EQ(vorn_shm_key(0), 42);
  EXPECT_EQ(vorn_shm_key(1), 43);
  config.shm_key = saved;
}

}  // namespace
