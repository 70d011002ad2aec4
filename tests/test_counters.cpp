#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "bson_check.h"
#include "test_util.h"
#include "vorn_bson.h"
#include "vorn_cpu.h"
#include "vorn_disk.h"
#include "vorn_mem.h"
#include "vorn_mount.h"
#include "vorn_net.h"
#include "vorn_os.h"
#include "vorn_socket.h"

namespace {

std::string fixture(const std::string &name) {
  std::ifstream in(std::string(VORN_TEST_DATA) + "/" + name);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_FALSE(s.str().empty()) << name;
  return s.str();
}

// One counter's sub-document of a report, as canonical JSON.
std::string tobson_json(mycustom_tobson tobson, vorn_mycustom_counter &c) {
  vorn_bson_doc d;
  tobson(&c, d.get());
  vorn_bson_finish(d.get());
  return bson_json(d.get());
}

class CounterTest : public testing::Test {
 protected:
  void SetUp() override { reset_agent_globals(); }
  void TearDown() override { reset_agent_globals(); }
};

// ---------------------------------------------------------------- CPU

TEST_F(CounterTest, CpuCountAndAggregateLine) {
  std::string stat = fixture("proc_stat.txt");
  EXPECT_EQ(cpu_count_cpus(stat), 2);
  vorn_mycustom_data_cpu s{};
  cpu_parse_stat(stat, s);
  EXPECT_EQ(s.user, 14107u);
  EXPECT_EQ(s.system, 4520u);
  EXPECT_EQ(s.idle, 957202u);
  EXPECT_EQ(s.steal, 252u);
  // A short line leaves the missing fields as they were.
  vorn_mycustom_data_cpu short_line{};
  short_line.guest = 77;
  cpu_parse_stat("cpu  1 2 3\ncpu0 9 9 9 9\n", short_line);
  EXPECT_EQ(short_line.system, 3u);
  EXPECT_EQ(short_line.idle, 0u);
  EXPECT_EQ(short_line.guest, 77u);
}

TEST_F(CounterTest, CpuShares) {
  struct Case {
    const char *name;
    uint64_t prev[9], cur[9];
    uint64_t want[9];
    uint64_t cputot;
  };
  // Fields: user nice system idle iowait irq softirq steal guest.
  const Case cases[] = {
      {"30/10/60", {100, 0, 50, 1000}, {130, 0, 60, 1060}, {30, 0, 10, 60}, 100},
      {"thirds truncate", {0}, {1, 1, 1}, {33, 33, 33}, 3},
      {"identical samples", {5, 5, 5, 5}, {5, 5, 5, 5}, {0}, 0},
      // idle went down (a reset): that field counts 0, not 2^64 - 10.
      {"counter went down", {0, 0, 0, 100}, {50, 0, 50, 90}, {50, 0, 50, 0}, 100},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    vorn_mycustom_data_cpu prev{}, cur{}, delta{};
    uint64_t vorn_mycustom_data_cpu::*f[9] = {
        &vorn_mycustom_data_cpu::user,    &vorn_mycustom_data_cpu::nice,  &vorn_mycustom_data_cpu::system,
        &vorn_mycustom_data_cpu::idle,    &vorn_mycustom_data_cpu::iowait, &vorn_mycustom_data_cpu::irq,
        &vorn_mycustom_data_cpu::softirq, &vorn_mycustom_data_cpu::steal, &vorn_mycustom_data_cpu::guest};
    for (int i = 0; i < 9; i++) prev.*f[i] = c.prev[i], cur.*f[i] = c.cur[i];
    cpu_compute_delta(cur, prev, delta);
    for (int i = 0; i < 9; i++) EXPECT_EQ(delta.*f[i], c.want[i]) << i;
    EXPECT_EQ(delta.cputot, c.cputot);
    EXPECT_EQ(delta.ok, 1);
  }
}

TEST_F(CounterTest, CpuFirstCycleReportsZerosThenShares) {
  vorn_mycustom_counter c{};
  ASSERT_EQ(cpu_init(&c), 1);
  ASSERT_EQ(cpu_update(&c), 1);
  cpu_delta(&c, 15, 0);
  EXPECT_EQ(static_cast<vorn_mycustom_data_cpu *>(c.data_delta)->ok, 0);
  std::string json = tobson_json(cpu_tobson, c);
  EXPECT_NE(json.find("\"cpu\" : { \"ok\" : { \"$numberLong\" : \"0\" }, \"guest\" : { \"$numberLong\" : \"0\" }"),
            std::string::npos)
      << json;
  usleep(50000);
  cpu_update(&c);
  cpu_delta(&c, 15, 1);
  const auto *d = static_cast<vorn_mycustom_data_cpu *>(c.data_delta);
  EXPECT_EQ(d->ok, 1);
  EXPECT_LE(d->user + d->nice + d->system + d->idle + d->iowait + d->irq + d->softirq + d->steal + d->guest, 100u);
  vorn_bson_doc doc;
  cpu_tobson(&c, doc.get());
  vorn_bson_finish(doc.get());
  EXPECT_EQ(bson_keys(reinterpret_cast<const uint8_t *>(vorn_bson_data(doc.get())), vorn_bson_size(doc.get())),
            "lavg,ncpu,cpu");
  cpu_free(&c);
  EXPECT_EQ(c.data, nullptr);
}

// ------------------------------------------------------------- memory

TEST_F(CounterTest, MemoryFigures) {
  std::string meminfo = fixture("proc_meminfo.txt");
  vorn_mycustom_data_mem off{}, on{};
  mem_parse_meminfo(meminfo, false, off);
  EXPECT_EQ(off.memtotal, 24683612u);
  EXPECT_EQ(off.memcached, 275292u);  // "SwapCached:" is another key
  EXPECT_EQ(off.memused, 24683612u - 24286836u - 275292u - 1288u);
  mem_parse_meminfo(meminfo, true, on);
  EXPECT_EQ(on.memcached, 275292u + 38408u);
  EXPECT_EQ(on.memused, off.memused - 38408u);
  // Without a "Slab:" line the two slab parts are added.
  vorn_mycustom_data_mem parts{};
  mem_parse_meminfo("MemTotal: 1000 kB\nCached: 100 kB\nSReclaimable: 20 kB\nSUnreclaim: 30 kB\n", true, parts);
  EXPECT_EQ(parts.memcached, 150u);
  // Parts larger than the total never wrap.
  vorn_mycustom_data_mem odd{};
  mem_parse_meminfo("MemTotal: 100 kB\nMemFree: 90 kB\nCached: 50 kB\nSwapTotal: 0 kB\nSwapFree: 10 kB\n", false,
                    odd);
  EXPECT_EQ(odd.memused, 0u);
  EXPECT_EQ(odd.swapused, 0u);
  mem_parse_vmstat(fixture("proc_vmstat.txt"), off);
  mem_parse_vmstat("pswpin 120\npswpout 7\n", on);
  EXPECT_EQ(on.swapin, 120u);
  EXPECT_EQ(on.swapout, 7u);
}

TEST_F(CounterTest, SwapRates) {
  vorn_mycustom_counter c{};
  mem_init(&c);
  auto *cur = static_cast<vorn_mycustom_data_mem *>(c.data);
  auto *delta = static_cast<vorn_mycustom_data_mem *>(c.data_delta);
  struct Step {
    uint64_t in, out;
    uint64_t want_in, want_out;
  };
  // 60 s intervals: +120 gives 2, +59 gives 0, a counter that went down 0.
  const Step steps[] = {{1000, 500, 0, 0}, {1120, 559, 2, 0}, {100, 559, 0, 0}};
  uint64_t iteration = 0;
  for (const Step &s : steps) {
    cur->ok = 1;
    cur->swapin = s.in;
    cur->swapout = s.out;
    mem_delta(&c, 60, iteration);
    EXPECT_EQ(delta->ok, iteration ? 1 : 0);
    EXPECT_EQ(delta->swapin, iteration ? s.want_in : s.in);
    EXPECT_EQ(delta->swapout, iteration ? s.want_out : s.out);
    iteration++;
  }
  cur->ok = 0;  // a failed sample: this delta and the next are not valid
  mem_delta(&c, 60, iteration++);
  EXPECT_EQ(delta->ok, 0);
  EXPECT_NE(tobson_json(mem_tobson, c).find("\"swapin\" : { \"$numberLong\" : \"0\" }"), std::string::npos);
  mem_free(&c);
}

// ------------------------------------------------------------------ OS

TEST_F(CounterTest, DistributionDetection) {
  struct Case {
    const char *name;
    std::map<std::string, std::string> files;
    const char *os_name, *os_version;
  };
  const Case cases[] = {
      {"debian 12", {{"/etc/os-release", fixture("os-release-debian12.txt")}}, "Debian", "12"},
      {"ubuntu",
       {{"/etc/os-release", "NAME=\"Ubuntu\"\nVERSION_ID=\"20.04\"\nID=ubuntu\nID_LIKE=debian\n"}},
       "Ubuntu",
       "20.04"},
      {"centos", {{"/etc/os-release", "NAME=\"CentOS Linux\"\nID=\"centos\"\nVERSION_ID=\"7\"\n"}}, "CentOS", "7"},
      {"rhel stops at its ID",
       {{"/etc/os-release", "NAME=\"Red Hat Enterprise Linux Server\"\nID=\"rhel\"\nVERSION_ID=\"7.9\"\n"},
        {"/etc/redhat-release", "Red Hat Enterprise Linux Server release 7.9 (Maipo)\n"}},
       "RHEL",
       "7.9"},
      {"issue only", {{"/etc/issue", "Ubuntu 14.04.6 LTS \\n \\l\n"}}, "Ubuntu", "14.04.6"},
      {"issue,net", {{"/etc/issue,net", "Debian 7\n"}}, "Debian", "7"},
      {"amazon", {{"/etc/redhat-release", "Amazon Linux AMI release 2018.03\n"}}, "AmazonLinux", "2018.03"},
      {"nothing", {}, "unknown", "unknown"},
      {"long name cut",
       {{"/etc/os-release", "NAME=\"An Extremely Long Distribution Name Indeed\"\nID=debian\n"}},
       "An Extremely Long Distribution ",
       "unknown"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    auto read = [&](const char *path, std::string &out) {
      auto it = c.files.find(path);
      if (it == c.files.end()) return false;
      out = it->second;
      return true;
    };
    char name[32], version[32];
    os_detect_release(read, name, version);
    EXPECT_STREQ(name, c.os_name);
    EXPECT_STREQ(version, c.os_version);
  }
}

TEST_F(CounterTest, OsHelpersAndLiveUpdate) {
  EXPECT_EQ(os_parse_statm("5000 1000 300 10 0 900 0\n", 4096), 4000u);
  EXPECT_EQ(isVer("7.9"), 1);
  EXPECT_EQ(isVer(""), 1);
  EXPECT_EQ(isVer("7.9b"), 0);
  char out[16];
  strcpyfilter("\"20.04\"", out, '"');
  EXPECT_STREQ(out, "20.04");

  vorn_mycustom_counter c{};
  os_init(&c);
  ASSERT_EQ(os_update(&c), 1);
  vorn_bson_doc d;
  os_tobson(&c, d.get());
  vorn_bson_finish(d.get());
  EXPECT_EQ(bson_keys(reinterpret_cast<const uint8_t *>(vorn_bson_data(d.get())), vorn_bson_size(d.get())),
            "ok,os_bit,os_name,os_version,vorn_memory_used,open_files,uptime_sec,vorn_uptime_sec");
  const auto *o = static_cast<vorn_mycustom_data_os *>(c.data);
  EXPECT_GT(o->vorn_memory_used, 0u);
  EXPECT_GT(o->open_files, 0u);
  EXPECT_GT(o->uptime_sec, 0);
  EXPECT_GE(o->vorn_uptime_sec, 0);
  os_free(&c);
}

// ------------------------------------------------------------- sockets

TEST_F(CounterTest, SocketCounts) {
  vorn_mycustom_data_socket s{};
  socket_parse_sockstat(fixture("proc_net_sockstat.txt"), s);
  EXPECT_EQ(s.tcp_inuse, 1u);
  EXPECT_EQ(s.tcp_tw, 6u);
  socket_parse_sockstat("TCP: inuse 12 orphan 1 tw 30 alloc 15 mem 4\nUDPLITE: inuse 9\n", s);
  EXPECT_EQ(s.tcp_inuse, 12u);
  EXPECT_EQ(s.tcp_orphan, 1u);
  EXPECT_EQ(s.tcp_tw, 30u);
  EXPECT_EQ(s.udp_inuse, 0u);  // the UDP-Lite line is not the UDP line
  socket_parse_sockstat("UDP: inuse 4 mem 2\n", s);
  EXPECT_EQ(s.udp_inuse, 4u);
  EXPECT_EQ(s.tcp_inuse, 12u);
}

// -------------------------------------------------------------- mounts

TEST_F(CounterTest, MountSelection) {
  struct Case {
    const char *device, *dir, *type;
    bool watched, watched_without_tmpfs;
  };
  const Case cases[] = {
      {"/dev/vda1", "/", "ext4", true, true},
      {"/dev/vda15", "/boot/efi", "vfat", false, false},
      {"tmpfs", "/run", "tmpfs", false, false},
      {"tmpfs", "/srv/cache", "tmpfs", true, false},
      {"sshfs#me@host:", "/mnt/remote", "fuse.sshfs", true, true},
      {"proc", "/proc", "proc", false, false},
      {"tmpfs", "/run/user/1000", "tmpfs", false, false},
      {"/dev/sdb1", "/run/users", "ext4", true, true},
  };
  for (const Case &c : cases) {
    config.exclude_tmpfs = 0;
    EXPECT_EQ(mount_is_watched(c.device, c.dir, c.type), c.watched) << c.dir;
    config.exclude_tmpfs = 1;
    EXPECT_EQ(mount_is_watched(c.device, c.dir, c.type), c.watched_without_tmpfs) << c.dir;
  }
}

TEST_F(CounterTest, MountFigures) {
  struct statvfs sv {};
  sv.f_bsize = 4096;
  sv.f_blocks = 2621440;
  sv.f_bavail = 1310720;
  sv.f_files = 0;
  mibmount m{};
  mount_figures(&sv, m);
  EXPECT_EQ(m.total, 10240u);
  EXPECT_EQ(m.free, 5120u);
  EXPECT_DOUBLE_EQ(m.space_usage, 0.5);
  EXPECT_DOUBLE_EQ(m.inodes_usage, 0);  // no inode figures
  mount_figures(nullptr, m);
  EXPECT_EQ(m.total, 0u);
}

// --------------------------------------------------------------- disks

TEST_F(CounterTest, DiskSelectionAndStatistics) {
  EXPECT_TRUE(disk_is_reported("sdb", true, true));    // USB disk
  EXPECT_FALSE(disk_is_reported("sr0", true, true));   // optical drive
  EXPECT_FALSE(disk_is_reported("loop0", false, false));
  EXPECT_TRUE(disk_is_reported("vda", true, false));

  vorn_mycustom_data_disk s{};
  disk_add_device(s, "vda");
  disk_add_device(s, "gone");
  disk_parse_diskstats(fixture("proc_diskstats.txt"), s);
  const mibdisk &vda = s.mibdisk_list[0];
  EXPECT_EQ(vda.ok, 1);
  EXPECT_EQ(vda.rbytes, 16130u);
  EXPECT_EQ(vda.sRead, 4027266u);
  EXPECT_EQ(vda.rticks, 9991u);
  EXPECT_EQ(vda.wbytes, 3455u);
  EXPECT_EQ(vda.sWritten, 448016u);
  EXPECT_EQ(vda.wticks, 3199u);
  EXPECT_EQ(vda.tticks, 5136u);
  EXPECT_EQ(s.mibdisk_list[1].ok, 0);
}

TEST_F(CounterTest, DiskRates) {
  vorn_mycustom_data_disk prev{}, cur{}, delta{};
  for (auto *s : {&prev, &cur}) {
    disk_add_device(*s, "sda");
    s->mibdisk_list[0].ok = 1;
  }
  disk_add_device(cur, "sdb");  // came up since the last sample
  cur.mibdisk_list[1].ok = 1;
  prev.mibdisk_list[0].rbytes = 1000, cur.mibdisk_list[0].rbytes = 3400;
  prev.mibdisk_list[0].wbytes = 500, cur.mibdisk_list[0].wbytes = 4100;
  prev.mibdisk_list[0].tticks = 0, cur.mibdisk_list[0].tticks = 30000;
  prev.mibdisk_list[0].sRead = 900, cur.mibdisk_list[0].sRead = 100;  // went down
  // 60 s on 2 CPUs at 100 Hz: 12000 ticks -> 60000 ms.
  double mstot = disk_mstot(12000, 2, 100);
  EXPECT_DOUBLE_EQ(mstot, 60000);
  disk_compute_delta(cur, prev, delta, 60, mstot);
  ASSERT_EQ(delta.ndevs, 1);
  const mibdisk &d = delta.mibdisk_list[0];
  EXPECT_STREQ(d.device, "sda");
  EXPECT_EQ(d.rbytes, 40u);
  EXPECT_EQ(d.wbytes, 60u);
  EXPECT_EQ(d.tticks, 500u);
  EXPECT_EQ(d.sRead, 0u);
  EXPECT_FLOAT_EQ(d.avio, 5.0f);
  EXPECT_FLOAT_EQ(d.busy, 50.0f);
  // No CPU ticks measured: busy 0, not a division by zero. No operations: avio 0.
  prev.mibdisk_list[0] = cur.mibdisk_list[0];
  disk_compute_delta(cur, prev, delta, 60, disk_mstot(0, 2, 100));
  EXPECT_FLOAT_EQ(delta.mibdisk_list[0].busy, 0.0f);
  EXPECT_FLOAT_EQ(delta.mibdisk_list[0].avio, 0.0f);
  EXPECT_EQ(disk_mstot(100, 0, 100), 0);
}

TEST_F(CounterTest, ListsNeverOverflowTheirCounts) {
  vorn_mycustom_data_disk s{};
  for (int i = 0; i < 300; i++) disk_add_device(s, std::to_string(i).c_str());
  EXPECT_EQ(s.ndevs, 255);
  vorn_mycustom_data_net n{};
  std::string dev = "h1\nh2\n";
  for (int i = 0; i < 300; i++) dev += "veth" + std::to_string(i) + ": 1 0 0 0 0 0 0 0 2 0\n";
  net_parse_dev(dev, n);
  EXPECT_EQ(n.ndevs, 255);
  vorn_mycustom_data_disk long_name{};
  disk_add_device(long_name, std::string(400, 'x').c_str());
  EXPECT_EQ(strlen(long_name.mibdisk_list[0].device), 255u);
}

// ------------------------------------------------------------- network

TEST_F(CounterTest, NetworkInterfacesAndExclusion) {
  vorn_mycustom_data_net s{};
  std::string dev = fixture("proc_net_dev.txt");
  net_parse_dev(dev, s);
  ASSERT_EQ(s.ndevs, 4);
  EXPECT_STREQ(s.mibnet_list[0].device, "lo");
  EXPECT_STREQ(s.mibnet_list[3].device, "eth0");
  EXPECT_EQ(s.mibnet_list[3].rbytes, 18800774u);
  EXPECT_EQ(s.mibnet_list[3].sbytes, 27562u);
  EXPECT_EQ(s.mibnet_list[3].ok, 0);  // the sample was not valid before

  struct Case {
    std::vector<const char *> masks;
    std::string names;
  };
  const Case cases[] = {{{"ifb*"}, "lo,eth0"}, {{"lo"}, "ifb0,ifb1,eth0"}, {{"*"}, "lo,ifb0,ifb1,eth0"}};
  for (const Case &c : cases) {
    config.interface_exclude_masks_count = 0;
    for (const char *m : c.masks) vorn_copy(config.interface_exclude_masks[config.interface_exclude_masks_count++], m);
    vorn_mycustom_data_net t{};
    net_parse_dev(dev, t);
    std::string names;
    for (int i = 0; i < t.ndevs; i++) names += std::string(names.empty() ? "" : ",") + t.mibnet_list[i].device;
    EXPECT_EQ(names, c.names);
  }
}

TEST_F(CounterTest, NetworkRatesNeedTwoUpdates) {
  vorn_mycustom_counter c{};
  net_init(&c);
  config.interval = 60;
  auto *cur = static_cast<vorn_mycustom_data_net *>(c.data);
  auto sample = [&](uint64_t rx, uint64_t tx) {
    char text[256];
    snprintf(text, sizeof text, "h\nh\n  eth0: %llu 1 0 0 0 0 0 0 %llu 1 0 0 0 0 0 0\n", (unsigned long long)rx,
             (unsigned long long)tx);
    net_parse_dev(text, *cur);
    cur->ok = 1;
  };
  std::vector<std::string> reports;
  const uint64_t rx[] = {0, 7500000, 15000000, 100};
  for (uint64_t i = 0; i < 4; i++) {
    sample(rx[i], rx[i] / 2);
    net_delta(&c, 60, i);
    reports.push_back(tobson_json(net_tobson, c));
  }
  EXPECT_EQ(reports[1], "{ \"net\" : {  } }");  // first report: entries not valid on both sides yet
  EXPECT_EQ(reports[2],
            "{ \"net\" : { \"eth0\" : { \"ok\" : { \"$numberLong\" : \"1\" }, \"name\" : \"eth0\", \"rbytes\" : { "
            "\"$numberLong\" : \"1000000\" }, \"sbytes\" : { \"$numberLong\" : \"500000\" } } } }");
  // The counter went down: 0 bits per second, not a wrapped value.
  EXPECT_NE(reports[3].find("\"rbytes\" : { \"$numberLong\" : \"0\" }"), std::string::npos) << reports[3];
  net_free(&c);
}

// --------------------------------------------------- all kinds, live

TEST_F(CounterTest, EveryKindUpdatesFromTheLiveMachine) {
  setCoreCounters();
  initCounters(0);
  for (uint64_t it = 0; it < 3; it++) {
    updateCounters();
    deltaCounters(it);
    usleep(20000);
  }
  for (int slot = 0; slot < 7; slot++) {
    vorn_mycustom_counter &c = stats.core_counters[slot];
    ASSERT_NE(c.update, nullptr) << slot;
    EXPECT_EQ(c.update(&c), 1) << c.report;
  }
  uint8_t *doc;
  uint32_t len;
  config.id = 1;
  ASSERT_EQ(stats_to_bson(&doc, &len, 0), 0);
  vorn_buffer owner(doc);
  EXPECT_EQ(bson_keys(doc, len),
            "id,name,time,interval,version,custom_errors,ok,os_bit,os_name,os_version,vorn_memory_used,open_files,"
            "uptime_sec,vorn_uptime_sec,mem,lavg,ncpu,cpu,socket,mounts,disks,net,memcaches,beanstalks,custom,"
            "mysqls,redises,mycustoms");
  std::string json = bson_json(doc, len);
  EXPECT_NE(json.find("\"lo\" : { \"ok\""), std::string::npos) << json;
  testing::internal::CaptureStdout();
  dumpCounters();
  std::string dump = testing::internal::GetCapturedStdout();
  for (const char *header : {"MyCustom Os report (1)", "MyCustom Mem report (1)", "MyCustom cpu report (1)",
                             "MyCustom socket report (1)", "MyCustom Mount report (1)", "MyCustom disk report (1)",
                             "MyCustom net report (1)"})
    EXPECT_NE(dump.find(header), std::string::npos) << header;
  freeCounters();
  for (int slot = 0; slot < 7; slot++) EXPECT_EQ(stats.core_counters[slot].data, nullptr);
}

}  // namespace
