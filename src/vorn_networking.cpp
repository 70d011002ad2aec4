#include "vorn_networking.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <udns.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bson.h"
#include "vorn_bson.h"
#include "vorn_config.h"
#include "vorn_file.h"
#include "vorn_sign.h"
#include "vorn_text.h"

// ---------------------------------------------------------------------------
// Delivery

namespace {

// The collector: serverIp when known, else the configured fallback; an
// unparsable text leaves 0.0.0.0.
sockaddr_in destination(const char *&text) {
  text = config.serverIp[0] ? config.serverIp : config.defaultServerIp;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons((uint16_t)config.port);
  if (inet_pton(AF_INET, text, &to.sin_addr) != 1) to.sin_addr.s_addr = 0;
  return to;
}

// Builds the report (printed in debug mode); false when it cannot be made.
bool build_report(unsigned long local_address, vorn_buffer &doc, uint32_t &len) {
  uint8_t *res = nullptr;
  if (stats_to_bson(&res, &len, local_address) != 0) {
    printf("could not build the report\n");
    return false;
  }
  doc.reset(res);
  if (config.debug) vorn_bson_print_raw(reinterpret_cast<const char *>(res), 3);
  return true;
}

bool sign_packet(const uint8_t *msg, uint32_t len, vorn_buffer &packet, uint32_t &packet_len) {
  uint8_t *out = nullptr;
  if (sign(msg, (int)len, &out, &packet_len) != 0) {
    printf("could not sign the report\n");
    return false;
  }
  packet.reset(out);
  return true;
}

}  // namespace

void send_data() {
  update_ip();
  if (config.proto == 6) {
    send_data_tcp();
    return;
  }
  vorn_buffer doc;
  uint32_t len = 0;
  if (build_report(0, doc, len)) send_data_udp(doc.get(), len);
}

void send_data_udp(const uint8_t *msg, uint32_t len) {
  const char *text;
  sockaddr_in to = destination(text);
  vorn_fd s(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
  vorn_buffer packet;
  uint32_t signed_len = 0;
  if (!sign_packet(msg, len, packet, signed_len)) return;
  if (config.debug) printf("sending via UDP to %s:%d ...", text, config.port);
  ssize_t sent = s ? sendto(s.get(), packet.get(), signed_len, 0, reinterpret_cast<sockaddr *>(&to), sizeof to) : -1;
  if (sent != (ssize_t)signed_len) {
    printf("sending via udp FAILED %d\n", errno);
  } else if (config.debug) {
    printf("DONE\n");
  }
}

void send_data_tcp() {
  const char *text;
  sockaddr_in to = destination(text);
  vorn_fd s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  timeval tv{config.server_tcp_to > 0 ? config.server_tcp_to : 1, 0};
  if (!s || setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0 ||
      setsockopt(s.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) {
    printf("setsockopt failed\n");
    return;
  }
  // The send time-out bounds the connect as well.
  int rc = connect(s.get(), reinterpret_cast<sockaddr *>(&to), sizeof to);
  if (rc != 0) {
    printf("could not bind socket or connect whatever (%s) %d %d\n", text, rc, errno);
    return;
  }
  uint32_t local = encrypt_long(get_socket_local_ip(s.get()), reinterpret_cast<const char *>(config.secret));
  vorn_buffer doc, packet;
  uint32_t doc_len = 0, packet_len = 0;
  if (!build_report(local, doc, doc_len) || !sign_packet(doc.get(), doc_len, packet, packet_len)) return;
  if (config.debug) printf("Sending via TCP to %s:%d ...", text, config.port);
  // The whole packet goes out, however the kernel splits it; a peer that
  // went away fails the write, never the agent.
  const uint8_t *p = packet.get();
  uint32_t left = packet_len;
  while (left > 0) {
    ssize_t n = send(s.get(), p, left, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      printf("sending via tcp FAILED %d\n", errno);
      return;
    }
    p += n;
    left -= (uint32_t)n;
  }
  if (config.debug) printf("DONE\n");
}

uint32_t get_socket_local_ip(int sockfd) {
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (getsockname(sockfd, reinterpret_cast<sockaddr *>(&local), &len) != 0 || local.sin_family != AF_INET) return 0;
  if (config.debug) {
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
    printf("Raw IP: %ld\nString IP: '%s'\n", (long)(int32_t)local.sin_addr.s_addr, text);
  }
  return ntohl(local.sin_addr.s_addr);
}

// ---------------------------------------------------------------------------
// Collector address

int dns_rr_counter = 0;

// Built-in name servers and the service domain they serve: deployment
// values, none by default, so only "nameserver" lines and the local resolver
// are asked.
static const char dns_servers_hard[][256] = {""};
static const int dns_servers_hard_count = 0;
static const char service_domain_suffix[] = "";

int endsWith(const char *str, const char *suffix) {
  if (!str || !suffix) return 0;
  size_t n = strlen(str), m = strlen(suffix);
  return n >= m && memcmp(str + n - m, suffix, m) == 0;
}

int hostname_to_ip(const char *hostname, char *ip, unsigned cap) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo *res = nullptr;
  if (getaddrinfo(hostname, nullptr, &hints, &res) != 0 || !res) return 1;
  std::unique_ptr<addrinfo, void (*)(addrinfo *)> owner(res, freeaddrinfo);
  char text[INET_ADDRSTRLEN];
  const auto *sa = reinterpret_cast<const sockaddr_in *>(res->ai_addr);
  if (!inet_ntop(AF_INET, &sa->sin_addr, text, sizeof text)) return 1;
  vorn_copy_n(ip, cap, text);
  return 0;
}

// One A query of config.serverName to the name server at address server.
static void ask_name_server(const char *server) {
  struct dns_rr_a4 *result;
  dns_reset(nullptr);
  dns_add_serv(nullptr, server);
  // The query waits at most the network time-out, once.
  dns_set_opt(nullptr, DNS_OPT_TIMEOUT, config.counter_tcp_to > 0 ? config.counter_tcp_to : 1);
  dns_set_opt(nullptr, DNS_OPT_NTRIES, 1);
  if (dns_open(nullptr) < 0) {
    printf("error 2");
    return;
  }
  result = dns_resolve_a4(nullptr, config.serverName, 0);
  if (!result) {
    printf("error 2");
  } else if (result->dnsa4_nrr <= 0) {
    printf("error 1");
  } else {
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &result->dnsa4_addr[0], text, sizeof text)) {
      vorn_copy(config.serverIp, text);
      if (config.debug) printf("%s", config.serverIp);
    }
  }
  free(result);
  dns_close(nullptr);
}

void update_ip() {
  if (config.serverName[0] == '\0') return;
  const char(*list)[256] = nullptr;
  int count = 0;
  if (config.dns_servers_count > 0) {
    list = config.dns_servers;
    count = config.dns_servers_count;
  } else if (dns_servers_hard_count > 0 && endsWith(config.serverName, service_domain_suffix)) {
    list = dns_servers_hard;
    count = dns_servers_hard_count;
  }
  if (count == 0) {
    if (config.debug) printf("Updating server ip via local dns... ");
    hostname_to_ip(config.serverName, config.serverIp, sizeof config.serverIp);
    if (config.debug) printf("%s ... done \n", config.serverIp);
    return;
  }
  if (dns_rr_counter >= count || dns_rr_counter < 0) dns_rr_counter = 0;
  const char *entry = list[dns_rr_counter];
  if (config.debug) printf("Updating server ip via %s... ", entry);
  char server[INET_ADDRSTRLEN];
  if (hostname_to_ip(entry, server, sizeof server) != 0)
    printf("error 3");
  else
    ask_name_server(server);
  dns_rr_counter = (dns_rr_counter + 1) % count;
  if (config.debug) printf(" ... done \n");
}
