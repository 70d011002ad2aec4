#pragma once
// Socket counter: system-wide TCP and UDP socket counts of /proc/net/sockstat.

#include <cstdint>
#include <string_view>

#include "mycustom.h"

struct vorn_mycustom_data_socket {
  int ok;
  uint32_t tcp_inuse;
  uint32_t tcp_tw;
  uint32_t tcp_orphan;
  uint32_t udp_inuse;
};

// Counts from the "TCP:" and "UDP:" lines; missing lines leave fields alone.
void socket_parse_sockstat(std::string_view text, vorn_mycustom_data_socket &s);

int32_t socket_init(vorn_mycustom_counter *cnt);
int32_t socket_update(vorn_mycustom_counter *cnt);
int32_t socket_tobson(vorn_mycustom_counter *cnt, bson *b);
int32_t socket_dump(vorn_mycustom_counter *cnt);
int32_t socket_free(vorn_mycustom_counter *cnt);

extern const vorn_counter_ops socket_ops;
