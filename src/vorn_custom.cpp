#include "vorn_custom.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bson.h"
#include "vorn_clock.h"
#include "vorn_config.h"
#include "vorn_core.h"
#include "vorn_counter_data.h"
#include "vorn_file.h"
#include "vorn_parse.h"
#include "vorn_popen.h"
#include "vorn_text.h"

using custom_data = vorn_mycustom_data_custom;

// ------------------------------------------------------------ parsing

namespace {

// Builds a report or name from words: a word opening with a double quote
// starts a quoted text that ends with the word holding the closing quote.
struct quoted_word {
  std::string text;
  bool open = false;
  bool done = false;

  void take(std::string_view w) {
    if (w.starts_with('"')) {
      open = true;
      text.append(w.substr(1));
      if (w.size() > 1 && w.ends_with('"')) {
        text.pop_back();
        done = true;
      }
    } else if (w.find('"') != std::string_view::npos) {
      text += ' ';
      text.append(w);
      text.pop_back();
      done = true;
    } else if (open) {
      text += ' ';
      text.append(w);
    } else {
      text = w;
      done = true;
    }
  }
};

}  // namespace

int32_t custom_parse_conf(vorn_mycustom_counter *c) {
  remove_newline_ch(c->cfg_string);
  int period = config.custom_counters_delimiter;
  int uid = config.custom_default_uid, gid = config.custom_default_gid;
  int timeout = config.custom_default_timeout, type = VORN_CUSTOM_TYPE_VALUE, incremental = 0;
  c->alert_condition[0] = '\0';
  quoted_word report, name;
  std::string_view rest(c->cfg_string);
  const char *command = "";
  // Words may be separated by any run of blanks.
  while (!rest.empty()) {
    std::string_view before = rest;
    std::string_view w = vorn_next_word(rest);
    if (w.empty()) break;
    if (!report.done) {
      report.take(w);
      continue;
    }
    if (!name.done) {
      name.take(w);
      continue;
    }
    auto number = [&](size_t skip) { return (int)strtol(std::string(w.substr(skip)).c_str(), nullptr, 10); };
    if (w.starts_with("uid=")) uid = number(4);
    else if (w.starts_with("incremental")) incremental = 1;
    else if (w.starts_with("gid=")) gid = number(4);
    else if (w.starts_with("timeout=")) timeout = number(8);
    else if (w.starts_with("periods=")) period = number(8);
    else if (w.starts_with("interval=")) period = number(9);
    else if (w.starts_with("type=")) type = number(5);
    else if (w.starts_with("alert=")) vorn_copy(c->alert_condition, w.substr(6));
    else {
      // The command: the rest of the text from the blank before this word.
      command = c->cfg_string + (before.data() - c->cfg_string);
      break;
    }
  }
  vorn_copy(c->report, report.text);
  vorn_copy(c->id, name.text);
  vorn_copy(c->exec, command);
  c->uid = uid;
  c->gid = gid;
  c->max_seconds = timeout > 0 ? timeout : 1;
  c->interval = period > 0 ? period : 1;  // a period of 0 runs every cycle
  c->incremental = incremental;
  c->type = type;
  printf("Custom conuter init:\n");
  printf("\tCfg string = %s\n", c->cfg_string);
  printf("\tReport = %s\n", c->report);
  printf("\tId = %s\n", c->id);
  printf("\tExec = %s\n", c->exec);
  if (c->alert_condition[0]) printf("\tAlert when = %s\n", c->alert_condition);
  printf("\tUid = %d, Gid = %d, Interval = %d, MaxSeconds = %d, Inc = %d, Type = %d\n", c->uid, c->gid, c->interval,
         c->max_seconds, c->incremental, c->type);
  return 1;
}

double custom_parse_output(std::string_view text, int type, custom_data *data) {
  double value = 0;
  bool first = type != VORN_CUSTOM_TYPE_SERVER_STATUS;
  data->agent_alerts_count = 0;
  vorn_for_lines(text, [&](std::string_view line) {
    if (line.empty()) return true;  // runs of line feeds are one separator
    if (first) {
      value = strtod(std::string(line).c_str(), nullptr);
      first = false;
    } else if (data->agent_alerts_count < 10) {
      vorn_mycustom_agent_alert &a = data->agent_alerts[data->agent_alerts_count++];
      a.index = 0;
      vorn_copy(a.text, line);
    }
    return true;
  });
  data->value = value;
  return value;
}

// ------------------------------------------------------------ running

namespace {

// The intermediate process: drops to the configured user and group, runs
// the command, passes its standard output on and tells by its exit status
// whether anything came on standard error (5) or not (0).
[[noreturn]] void run_intermediate(int write_fd, const char *exec, uid_t uid, gid_t gid) {
  setpgid(0, 0);
  // Supplementary groups first, then the group, then the user, each real,
  // effective and saved: the command cannot get root back.
  if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0 ||
      (uid != 0 && setuid(0) == 0)) {
    printf("EROROR! Cannot setuid\n");
    fflush(stdout);
    _exit(255);
  }
  fflush(stdout);
  vorn_proc_outs *p = vorn_popen(exec);
  if (!p) {
    printf("EROROR! Cannot open pipe with result of execution shell command: %s\n", exec);
    fflush(stdout);
    _exit(127);
  }
  // Both streams at once, so a command that fills one pipe never blocks.
  int out = fileno(p->out), err = fileno(p->err);
  bool err_seen = false;
  char buf[256];
  while (out >= 0 || err >= 0) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; i++) {
      int &fd = i == 0 ? out : err;
      if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) {
        fd = -1;
        continue;
      }
      if (i == 0) {
        for (ssize_t off = 0; off < n;) {
          ssize_t w = write(write_fd, buf + off, (size_t)(n - off));
          if (w <= 0) break;
          off += w;
        }
      } else {
        err_seen = true;
      }
    }
  }
  vorn_pclose(p);
  close(write_fd);
  _exit(err_seen ? 5 : 0);
}

}  // namespace

double call_exec(const char *exec, uid_t uid, gid_t gid, int max_seconds, int counter_type, int *err,
                 custom_data *data) {
  *err = 1;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    printf("EROROR! Cannot pipe\n");
    exit(1);
  }
  fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) {
    printf("EROROR! Cannot fork while trying to execute %s", exec);
    close(fds[0]);
    close(fds[1]);
    return 0.0;
  }
  if (pid == 0) {
    close(fds[0]);
    run_intermediate(fds[1], exec, uid, gid);
  }
  setpgid(pid, pid);  // also here, so a kill never misses the group
  close(fds[1]);
  vorn_fd rd(fds[0]);
  data->agent_alerts_count = 0;
  double value = 0.0;
  int status = 0;
  if (waitpid(pid, &status, WNOHANG) < 0) {
    printf("EROROR! waitpid %d\n", errno);
  } else {
    *err = 0;
    // Up to 1023 bytes are kept; the rest is read and dropped so the command
    // never blocks on a full pipe.
    char text[1024];
    size_t have = 0;
    bool got = false, eof = false;
    long long deadline = vorn_now_ms() + (long long)(max_seconds > 0 ? max_seconds : 1) * 1000;
    while (!eof) {
      long long left = deadline - vorn_now_ms();
      pollfd p{rd.get(), POLLIN, 0};
      int r = left > 0 ? poll(&p, 1, (int)left) : 0;
      if (r <= 0) {
        // Time is up, or a signal came: the command is stopped either way.
        printf("EROROR! Custom script running too long (%d sec), killed\n", max_seconds);
        *err = 1;
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        break;
      }
      char chunk[512];
      ssize_t n = read(rd.get(), chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        eof = true;
        break;
      }
      got = true;
      size_t keep = (size_t)n < sizeof text - 1 - have ? (size_t)n : sizeof text - 1 - have;
      memcpy(text + have, chunk, keep);
      have += keep;
    }
    text[have] = '\0';
    if (eof && !got && counter_type != VORN_CUSTOM_TYPE_SERVER_STATUS) {
      printf("EROROR! Custom script has returned an empty string, killed\n");
      *err = 1;
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
    }
    data->value = 0;
    if (!*err) value = custom_parse_output(std::string_view(text, have), counter_type, data);
  }
  rd.reset();
  // Whatever is left of the command's group goes with it.
  if (*err) kill(-pid, SIGKILL);
  if (config.debug) printf("[customs] waiting for pid %d\n", (int)pid);
  pid_t waited;
  while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  if (waited != pid) {
    data->errors = 1;
  } else if (!WIFEXITED(status)) {
    if (config.debug) {
      printf("[customs] child '%s' not exited properly: ", exec);
      if (WIFCONTINUED(status)) printf("continued");
      else if (WIFSIGNALED(status)) printf("signaled with signal %d\n", WTERMSIG(status));
      else if (WIFSTOPPED(status)) printf("stopped with signal %d\n", WSTOPSIG(status));
      else printf("unknown reason");
    }
    data->errors = 1;
  } else {
    if (config.debug && WEXITSTATUS(status) != 0) printf("[customs] exited with code %d\n", WEXITSTATUS(status));
    data->errors = WEXITSTATUS(status) == 5 ? 1 : 0;
  }
  return *err ? 0.0 : value;
}

// ------------------------------------------------------------ operations

int32_t custom_init(vorn_mycustom_counter *c) {
  vorn_alloc_records<custom_data>(c, true);
  return custom_parse_conf(c);
}

int32_t custom_update(vorn_mycustom_counter *c) {
  auto *d = static_cast<custom_data *>(c->data);
  if (!d) return 0;
  int err = 0;
  call_exec(c->exec, (uid_t)c->uid, (gid_t)c->gid, c->max_seconds, c->type, &err, d);
  if (err) {
    d->ok = 0;
    d->updated = 0;
    return 0;
  }
  if (config.debug)
    printf("[customs] '%s/%s' after call_exec(): value = %f, errors = %d\n", c->report, c->id, d->value, d->errors);
  d->ok = 1;
  d->updated = 1;
  return 1;
}

int32_t custom_delta(vorn_mycustom_counter *c, uint32_t, uint64_t iteration) {
  auto *cur = static_cast<custom_data *>(c->data);
  auto *prev = static_cast<custom_data *>(c->data_prev);
  auto *delta = static_cast<custom_data *>(c->data_delta);
  if (!cur || !prev || !delta) return 1;
  *delta = *cur;
  if (!c->incremental) return 1;
  if (iteration == 0) {
    *prev = *cur;
    delta->updated = 0;
    return 1;
  }
  if (!cur->mustBeUpdated) {
    delta->updated = 0;
    return 1;
  }
  if (cur->updated && prev->updated) {
    delta->updated = 1;
    double diff = cur->value - prev->value;
    delta->value = diff > 0 ? diff : 0;
  } else {
    delta->updated = 0;
  }
  *prev = *cur;
  return 1;
}

// The record may come from another process: its count is kept in range.
static int alert_count(const custom_data &d) {
  return d.agent_alerts_count < 0 ? 0 : (d.agent_alerts_count > 10 ? 10 : d.agent_alerts_count);
}

int32_t custom_tobson(vorn_mycustom_counter *c, bson *b) {
  const auto *d = static_cast<const custom_data *>(c->data_delta);
  if (!d || !d->mustBeUpdated || !d->updated) return 1;
  char key[520];
  snprintf(key, sizeof key, "%s_%s", c->report, c->id);
  vorn_bson_append_start_object(b, key);
  vorn_bson_append_string(b, "report", c->report);
  vorn_bson_append_string(b, "name", c->id);
  vorn_bson_append_int(b, "interval", (int32_t)((uint32_t)c->interval * config.interval));
  if (c->alert_condition[0]) vorn_bson_append_string(b, "alert_when", c->alert_condition);
  vorn_bson_append_double(b, "value", d->value);
  vorn_bson_append_int(b, "errors", d->errors);
  if (c->type != VORN_CUSTOM_TYPE_VALUE) vorn_bson_append_long(b, "type", c->type);
  int alerts = alert_count(*d);
  if (alerts > 0 || c->type == VORN_CUSTOM_TYPE_SERVER_STATUS) {
    vorn_bson_append_start_array(b, "alerts");
    for (int i = 0; i < alerts; i++) {
      char index[4];
      snprintf(index, sizeof index, "%d", i);
      // The record may come from another process: never trust its terminator.
      char text[256];
      vorn_copy(text, std::string_view(d->agent_alerts[i].text, strnlen(d->agent_alerts[i].text, 255)));
      vorn_bson_append_string(b, index, text);
    }
    vorn_bson_append_finish_array(b);
  }
  vorn_bson_append_finish_object(b);
  return 1;
}

int32_t custom_dump(vorn_mycustom_counter *c) {
  const auto *d = static_cast<const custom_data *>(c->data_delta);
  if (!d) return 1;
  printf("MyCustom %s report %s (ok=%d, upd=%d, must=%d) :\n", c->report, c->id, d->ok, d->updated,
         d->mustBeUpdated);
  printf("\tvalue = %f\n", d->value);
  printf("\terrors = %d\n", d->errors);
  if (c->alert_condition[0]) printf("\talert_when = %s\n", c->alert_condition);
  int alerts = alert_count(*d);
  for (int i = 0; i < alerts; i++)
    printf("\tAgent alert #%d: '%.255s'\n", i, d->agent_alerts[i].text);
  return 1;
}

int32_t custom_free(vorn_mycustom_counter *c) { return vorn_free_records(c); }

const vorn_counter_ops custom_ops = {custom_init,   nullptr,     custom_update, custom_delta,
                                     custom_tobson, custom_dump, custom_free};
