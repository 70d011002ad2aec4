#include "vorn_socket.h"

#include <cstdio>
#include <string>

#include "bson.h"
#include "vorn_counter_data.h"
#include "vorn_parse.h"
#include "vorn_readfile.h"
#include "vorn_text.h"

using socket_data = vorn_mycustom_data_socket;

// The numbers after the labels of a sockstat line, in order; a number
// missing from the line leaves its field alone.
static void numbers_after_labels(std::string_view line, uint32_t *const *fields, int n) {
  vorn_next_word(line);  // "TCP:" / "UDP:"
  for (int i = 0; i < n; i++) {
    vorn_next_word(line);  // label
    bool ok;
    uint64_t v = vorn_to_u64(vorn_next_word(line), &ok);
    if (!ok) return;
    *fields[i] = (uint32_t)v;
  }
}

void socket_parse_sockstat(std::string_view text, socket_data &s) {
  vorn_for_lines(text, [&](std::string_view line) {
    if (line.starts_with("TCP:")) {
      uint32_t *const f[] = {&s.tcp_inuse, &s.tcp_orphan, &s.tcp_tw};
      numbers_after_labels(line, f, 3);
    } else if (line.starts_with("UDP:")) {
      uint32_t *const f[] = {&s.udp_inuse};
      numbers_after_labels(line, f, 1);
    }
    return true;
  });
}

int32_t socket_init(vorn_mycustom_counter *cnt) {
  vorn_alloc_records<socket_data>(cnt, false);
  vorn_copy(cnt->report, "socket");
  return 1;
}

int32_t socket_update(vorn_mycustom_counter *cnt) {
  auto *d = static_cast<socket_data *>(cnt->data);
  if (!d) return 0;
  static std::string text;
  if (!vorn_read_file("/proc/net/sockstat", text)) {
    d->ok = 0;
    return 0;
  }
  socket_parse_sockstat(text, *d);
  d->ok = 1;
  return 1;
}

int32_t socket_tobson(vorn_mycustom_counter *cnt, bson *b) {
  const auto *d = static_cast<const socket_data *>(cnt->data);
  if (!d) return 1;
  bool ok = d->ok != 0;
  vorn_bson_append_start_object(b, "socket");
  vorn_bson_append_long(b, "ok", ok ? d->ok : 0);
  vorn_bson_append_int(b, "tcp_inuse", ok ? (int32_t)d->tcp_inuse : 0);
  vorn_bson_append_int(b, "tcp_tw", ok ? (int32_t)d->tcp_tw : 0);
  vorn_bson_append_int(b, "tcp_orphan", ok ? (int32_t)d->tcp_orphan : 0);
  vorn_bson_append_int(b, "udp_inuse", ok ? (int32_t)d->udp_inuse : 0);
  vorn_bson_append_finish_object(b);
  return 1;
}

int32_t socket_dump(vorn_mycustom_counter *cnt) {
  const auto *d = static_cast<const socket_data *>(cnt->data);
  if (!d) return 1;
  printf("MyCustom %s report %s(%d) :\n", cnt->report, cnt->id, d->ok);
  printf("\ttcp_inuse = %u\n", d->tcp_inuse);
  printf("\ttcp_tw = %u\n", d->tcp_tw);
  printf("\ttcp_orphan = %u\n", d->tcp_orphan);
  printf("\tudp_inuse = %u\n", d->udp_inuse);
  return 1;
}

int32_t socket_free(vorn_mycustom_counter *cnt) { return vorn_free_records(cnt); }

const vorn_counter_ops socket_ops = {socket_init, nullptr,      socket_update, nullptr,
                                     socket_tobson, socket_dump, socket_free};
