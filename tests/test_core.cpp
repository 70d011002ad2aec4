#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"
#include "vorn_core.h"
#include "vorn_customs_core.h"

namespace {

// Every call an operation receives, as "op:report".
std::vector<std::string> calls;
uint32_t seen_interval;
uint64_t seen_iteration;

int32_t log_op(const char *op, vorn_mycustom_counter *c) {
  calls.push_back(std::string(op) + ":" + c->report);
  return 1;
}
int32_t rec_init(vorn_mycustom_counter *c) { return log_op("init", c); }
int32_t rec_reinit(vorn_mycustom_counter *c) { return log_op("reinit", c); }
int32_t rec_update(vorn_mycustom_counter *c) { return log_op("update", c); }
int32_t rec_delta(vorn_mycustom_counter *c, uint32_t interval, uint64_t iteration) {
  seen_interval = interval;
  seen_iteration = iteration;
  return log_op("delta", c);
}
int32_t rec_tobson(vorn_mycustom_counter *c, bson *) { return log_op("tobson", c); }
int32_t rec_dump(vorn_mycustom_counter *c) { return log_op("dump", c); }
int32_t rec_free(vorn_mycustom_counter *c) { return log_op("free", c); }

constexpr vorn_counter_ops recording{rec_init, rec_reinit, rec_update, rec_delta, rec_tobson, rec_dump, rec_free};

struct GroupName {
  vorn_group group;
  const char *name;
};
constexpr GroupName all_groups[] = {{vorn_group::core, "core"},           {vorn_group::mysql, "mysql"},
                                    {vorn_group::custom, "custom"},       {vorn_group::mycustoms, "mycustoms"},
                                    {vorn_group::memcache, "memcache"},   {vorn_group::beanstalk, "beanstalk"},
                                    {vorn_group::redis, "redis"}};

class PhaseTest : public testing::Test {
 protected:
  void SetUp() override {
    reset_agent_globals();
    calls.clear();
    // One recording counter per group, named after its group.
    for (const GroupName &g : all_groups) {
      vorn_mycustom_counter *c = vorn_stats_add(stats, g.group);
      vorn_copy(c->report, g.name);
      vorn_counter_set(c, nullptr, recording);
    }
    config.debug = 1;
  }
  void TearDown() override { reset_agent_globals(); }

  std::string run(void (*phase)()) {
    calls.clear();
    testing::internal::CaptureStdout();
    phase();
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(PhaseTest, GroupOrdersAndDebugTexts) {
  config.mysql_handle = reinterpret_cast<void *>(1);  // library loaded
  struct Case {
    const char *name;
    void (*phase)();
    std::vector<std::string> calls;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"init",
       [] { initCounters(1000); },
       {"init:custom", "init:core", "init:mysql", "init:mycustoms", "init:memcache", "init:beanstalk", "init:redis"},
       "Init counters parent at 1000: customs... done, core... done, mysqls... done, mycustoms... done, "
       "memcaches... done, beanstalks... done, redises... done\n"},
      {"reinit",
       [] { reinitCounters(1200); },
       {"reinit:core", "reinit:mysql", "reinit:mycustoms", "reinit:memcache", "reinit:beanstalk", "reinit:redis"},
       "Reinit counters at 1200: core... done, mysqls... done, mycustoms... done, memcaches... done, "
       "beanstalkss... done, redises... done\n"},
      {"delta",
       [] { deltaCounters(5); },
       {"delta:core", "delta:mysql", "delta:mycustoms", "delta:memcache", "delta:beanstalk", "delta:redis"},
       "Calc delta: core... done, mysqls... done, mycustoms... done, memcaches... done, beanstalkss... done, "
       "redises... done\n"},
      {"dump",
       dumpCounters,
       {"dump:core", "dump:mysql", "dump:custom", "dump:mycustoms", "dump:memcache", "dump:beanstalk", "dump:redis"},
       "Dump delta: core...\ndone, mysqls... done, customs...\ndone, mycustoms...\ndone, memcaches... done, "
       "beanstalks... done, redises... done\n"},
      {"free",
       freeCounters,
       {"free:core", "free:mysql", "free:custom", "free:mycustoms", "free:memcache", "free:beanstalk", "free:redis"},
       "Freeing counters: core... done, mysqls... done, PARENT customs... done, mycustoms... done, memcaches... "
       "done, beanstalks... done, redises... done\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = run(c.phase);
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(out, c.text);
  }
  EXPECT_EQ(seen_interval, 15u);
  EXPECT_EQ(seen_iteration, 5u);
}

TEST_F(PhaseTest, UpdateSkipsCustomCountersAndPrintsTheImportStep) {
  std::string out = run(updateCounters);
  EXPECT_EQ(calls, (std::vector<std::string>{"update:core", "update:mysql", "update:memcache", "update:beanstalk",
                                             "update:redis", "update:mycustoms"}));
  const std::string head =
      "update: core... done, mysqls... done, memcaches... done, beanstalks... done, redises... done, mycustoms... "
      "done, customs PARENT... ";
  ASSERT_EQ(out.rfind(head, 0), 0u) << out;
  EXPECT_EQ(out.substr(out.size() - 5), "done\n");
}

TEST_F(PhaseTest, InitWithoutMysqlLibrarySkipsMysqlProbes) {
  config.mysql_handle = nullptr;
  std::string out = run([] { initCounters(7); });
  EXPECT_EQ(calls, (std::vector<std::string>{"init:custom", "init:core", "init:mycustoms", "init:memcache",
                                             "init:beanstalk", "init:redis"}));
  EXPECT_NE(out.find("done, mysqls... none(no mysql_handle)... done, mycustoms... "), std::string::npos) << out;
  // The other phases still visit the MySQL group.
  run(dumpCounters);
  EXPECT_EQ(calls[1], "dump:mysql");
}

TEST_F(PhaseTest, AbsentOperationsAreSkippedAndQuietWithoutDebug) {
  config.debug = 0;
  stats.redis_counters[0].update = nullptr;
  stats.core_counters[0].reinit = nullptr;
  std::string out = run(updateCounters);
  EXPECT_EQ(out, "");
  EXPECT_EQ(calls.size(), 5u);
  run([] { reinitCounters(60); });
  EXPECT_EQ(calls.front(), "reinit:mysql");
}

TEST(Registry, CoreSlotsAreFixedAndOperationsOfMissingKindsStayNull) {
  reset_agent_globals();
  setCoreCounters();
  EXPECT_EQ(stats.ncore_counters, 7);
  for (int slot = 0; slot < 7; slot++) {
    const vorn_counter_ops &ops = vorn_core_ops(slot);
    EXPECT_EQ(stats.core_counters[slot].init, ops.init);
    EXPECT_EQ(stats.core_counters[slot].reinit, nullptr) << slot;  // no core counter registers reinit
    EXPECT_EQ(stats.core_counters[slot].update, ops.update);
  }
  reset_agent_globals();
}

TEST(Registry, GroupsRefuseSlotsBeyondTheirCapacity) {
  reset_agent_globals();
  const std::pair<vorn_group, unsigned> capacities[] = {
      {vorn_group::core, 7},       {vorn_group::mysql, 16},    {vorn_group::custom, 512},
      {vorn_group::mycustoms, 128}, {vorn_group::memcache, 32}, {vorn_group::beanstalk, 16},
      {vorn_group::redis, 16}};
  for (auto [group, cap] : capacities) {
    for (unsigned i = 0; i < cap; i++) {
      vorn_mycustom_counter *c = vorn_stats_add(stats, group);
      ASSERT_EQ(c, &vorn_stats_group(stats, group).slots[i]);
    }
    EXPECT_EQ(vorn_stats_add(stats, group), nullptr);
    EXPECT_EQ(vorn_stats_group(stats, group).count, cap);
  }
  reset_agent_globals();
}

TEST(Registry, MycustomSetCopiesTextAndOperations) {
  static vorn_mycustom_counter c;
  memset(&c, 0, sizeof c);
  vorn_copy(c.report, "keep");
  std::string text(3000, 'a');
  EXPECT_EQ(mycustom_set(&c, text.c_str(), rec_init, nullptr, rec_update, nullptr, nullptr, rec_dump, nullptr), 1);
  EXPECT_EQ(strlen(c.cfg_string), 2047u);
  EXPECT_STREQ(c.report, "keep");
  EXPECT_EQ(c.init, rec_init);
  EXPECT_EQ(c.reinit, nullptr);
  EXPECT_EQ(c.update, rec_update);
  EXPECT_EQ(c.dump, rec_dump);
  // A null text leaves the stored one alone.
  mycustom_set(&c, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(strlen(c.cfg_string), 2047u);
  EXPECT_EQ(c.init, nullptr);
}

TEST(Registry, CountCustomErrorsSumsTheDeltaRecords) {
  reset_agent_globals();
  EXPECT_EQ(countCustomErrors(stats), 0);
  static vorn_mycustom_data_custom deltas[3];
  memset(deltas, 0, sizeof deltas);
  deltas[0].errors = 1;
  deltas[2].errors = 1;
  for (auto &d : deltas) vorn_stats_add(stats, vorn_group::custom)->data_delta = &d;
  vorn_stats_add(stats, vorn_group::custom);  // a counter without a record
  EXPECT_EQ(countCustomErrors(stats), 2);
  reset_agent_globals();
}

TEST(Registry, RemoveNewline) {
  const std::pair<const char *, const char *> cases[] = {
      {"abc\n", "abc"}, {"abc", "abc"}, {"", ""}, {"\n", ""}, {"a\n\n", "a\n"}};
  for (auto [in, out] : cases) {
    char buf[16];
    vorn_copy(buf, in);
    remove_newline_ch(buf);
    EXPECT_STREQ(buf, out) << in;
  }
}

TEST(Schedule, CycleSecondsFollowThePhase) {
  // interval 15, random second 7: the parent tests the time minus 2.
  std::vector<time_t> cycles;
  for (time_t t = 1700000000; t < 1700000000 + 45; t++)
    if (vorn_is_cycle_time(t - 2, 15, 7)) cycles.push_back(t);
  ASSERT_EQ(cycles.size(), 3u);
  for (time_t t : cycles) EXPECT_EQ((t - 2) % 15, 7);
  EXPECT_EQ(cycles[1] - cycles[0], 15);
  // Interval 1: every second is a cycle.
  for (time_t t = 1700000000; t < 1700000010; t++) EXPECT_TRUE(vorn_is_cycle_time(t, 1, 0));
  EXPECT_FALSE(vorn_is_cycle_time(1700000000, 0, 0));
}

TEST(Schedule, IterationWrapsAndAnnouncesIt) {
  EXPECT_EQ(vorn_next_iteration(1), 2u);
  testing::internal::CaptureStdout();
  EXPECT_EQ(vorn_next_iteration(VORN_ITERATION_WRAP - 2), VORN_ITERATION_WRAP - 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  testing::internal::CaptureStdout();
  EXPECT_EQ(vorn_next_iteration(VORN_ITERATION_WRAP - 1), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "WOW! iteration 1163962800\n");
}

}  // namespace
