#include "vorn_cpu.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bson.h"
#include "vorn_counter_data.h"
#include "vorn_parse.h"
#include "vorn_rate.h"
#include "vorn_readfile.h"
#include "vorn_text.h"

using cpu_data = vorn_mycustom_data_cpu;

static uint64_t cpu_data::*const time_fields[9] = {&cpu_data::user,   &cpu_data::nice,    &cpu_data::system,
                                                    &cpu_data::idle,   &cpu_data::iowait,  &cpu_data::irq,
                                                    &cpu_data::softirq, &cpu_data::steal, &cpu_data::guest};

uint8_t cpu_count_cpus(std::string_view stat) {
  // Names already counted; /proc/stat lists each CPU once, the list only
  // guards against repeats.
  std::string seen;
  uint8_t n = 0;
  vorn_for_lines(stat, [&](std::string_view line) {
    std::string_view word = vorn_next_word(line);
    if (word.size() > 3 && word.starts_with("cpu")) {
      std::string key(1, ' ');
      key.append(word);
      key.push_back(' ');
      if (seen.find(key) == std::string::npos) {
        seen += key;
        n++;
      }
    }
    return true;
  });
  return n;
}

void cpu_parse_stat(std::string_view stat, cpu_data &s) {
  vorn_for_lines(stat, [&](std::string_view line) {
    if (vorn_next_word(line) != "cpu") return true;
    for (auto field : time_fields) {
      bool ok;
      uint64_t v = vorn_to_u64(vorn_next_word(line), &ok);
      if (!ok) break;
      s.*field = v;
    }
    return false;
  });
}

void cpu_compute_delta(const cpu_data &cur, const cpu_data &prev, cpu_data &delta) {
  uint64_t diff[9], total = 0;
  for (int i = 0; i < 9; i++) total += diff[i] = vorn_diff(cur.*time_fields[i], prev.*time_fields[i]);
  uint64_t divisor = total ? total : 1;
  for (int i = 0; i < 9; i++) delta.*time_fields[i] = diff[i] * 100 / divisor;
  delta.cputot = total;
  delta.ok = 1;
}

float load_average() {
  std::string text;
  if (!vorn_read_file("/proc/loadavg", text)) return 0;
  return strtof(text.c_str(), nullptr);
}

int32_t cpu_init(vorn_mycustom_counter *cnt) {
  vorn_alloc_records<cpu_data>(cnt, true);
  vorn_copy(cnt->report, "cpu");
  auto *d = static_cast<cpu_data *>(cnt->data);
  if (!d || !cnt->data_prev || !cnt->data_delta) return 0;
  std::string text;
  if (!vorn_read_file("/proc/stat", text)) {
    d->ok = 0;
    d->ncpus = 0;
    return 0;
  }
  d->ncpus = cpu_count_cpus(text);
  d->ok = 1;
  return 1;
}

int32_t cpu_update(vorn_mycustom_counter *cnt) {
  auto *d = static_cast<cpu_data *>(cnt->data);
  if (!d) return 0;
  static std::string text;
  if (!vorn_read_file("/proc/stat", text)) {
    d->ok = 0;
    return 0;
  }
  d->lavg = load_average();
  cpu_parse_stat(text, *d);
  d->ok = 1;
  return 1;
}

int32_t cpu_delta(vorn_mycustom_counter *cnt, uint32_t, uint64_t iteration) {
  auto *cur = static_cast<cpu_data *>(cnt->data);
  auto *prev = static_cast<cpu_data *>(cnt->data_prev);
  auto *delta = static_cast<cpu_data *>(cnt->data_delta);
  if (!cur || !prev || !delta) return 1;
  *delta = *cur;
  delta->cputot = 0;
  if (iteration != 0 && cur->ok && prev->ok)
    cpu_compute_delta(*cur, *prev, *delta);
  else
    delta->ok = 0;
  *prev = *cur;
  return 1;
}

int32_t cpu_tobson(vorn_mycustom_counter *cnt, bson *b) {
  const auto *d = static_cast<const cpu_data *>(cnt->data_delta);
  if (!d) return 1;
  bool ok = d->ok != 0;
  auto v = [&](uint64_t x) { return ok ? (int64_t)x : 0; };
  vorn_bson_append_double(b, "lavg", (double)d->lavg);
  vorn_bson_append_long(b, "ncpu", d->ncpus);
  vorn_bson_append_start_object(b, "cpu");
  vorn_bson_append_long(b, "ok", ok ? d->ok : 0);
  vorn_bson_append_long(b, "guest", v(d->guest));
  vorn_bson_append_long(b, "idle", v(d->idle));
  vorn_bson_append_long(b, "iowait", v(d->iowait));
  vorn_bson_append_long(b, "irq", v(d->irq));
  vorn_bson_append_long(b, "nice", v(d->nice));
  vorn_bson_append_long(b, "softirq", v(d->softirq));
  vorn_bson_append_long(b, "steal", v(d->steal));
  vorn_bson_append_long(b, "system", v(d->system));
  vorn_bson_append_long(b, "user", v(d->user));
  vorn_bson_append_finish_object(b);
  return 1;
}

int32_t cpu_dump(vorn_mycustom_counter *cnt) {
  const auto *d = static_cast<const cpu_data *>(cnt->data_delta);
  if (!d) return 1;
  printf("MyCustom %s report %s(%d) :\n", cnt->report, cnt->id, d->ok);
  printf("\tguest = %llu\n", (unsigned long long)d->guest);
  printf("\tidle = %llu\n", (unsigned long long)d->idle);
  printf("\tiowait = %llu\n", (unsigned long long)d->iowait);
  printf("\tirq = %llu\n", (unsigned long long)d->irq);
  printf("\tnice = %llu\n", (unsigned long long)d->nice);
  printf("\tsoftirq = %llu\n", (unsigned long long)d->softirq);
  printf("\tsteal = %llu\n", (unsigned long long)d->steal);
  printf("\tsystem = %llu\n", (unsigned long long)d->system);
  printf("\tuser = %llu\n", (unsigned long long)d->user);
  return 1;
}

int32_t cpu_free(vorn_mycustom_counter *cnt) { return vorn_free_records(cnt); }

const vorn_counter_ops cpu_ops = {cpu_init, nullptr, cpu_update, cpu_delta, cpu_tobson, cpu_dump, cpu_free};
