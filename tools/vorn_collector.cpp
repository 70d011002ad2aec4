// vorn-collector: a reference collector for vorn reports. Listens on UDP and
// TCP, checks each packet's signature against --secret and prints each
// report as one JSON line (or indented with --pretty).
//
//   vorn-collector [--bind ADDR] [--port N] [--secret S] [--pretty] [--count N]
//
// Every packet gives one line on standard output:
//   {"from":"127.0.0.1:40000","proto":"udp","bytes":812,"signature":"ok","report":{...}}
// Arrays whose keys are not their indices (the group arrays) print as
// objects. "signature" is "ok", "none" (no secret configured and none sent), "missing",
// "bad", "unchecked" (signed, but no secret to check it) or "malformed"; only "ok" and "none" carry a report.

#include <arpa/inet.h>
#include <bson/bson.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string secret;
bool pretty = false;

void json_string(std::string &out, const char *s, size_t n) {
  out += '"';
  for (size_t i = 0; i < n; i++) {
    unsigned char c = (unsigned char)s[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c < 0x20) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += (char)c;
    }
  }
  out += '"';
}

void newline(std::string &out, int depth) {
  if (!pretty) return;
  out += '\n';
  out.append((size_t)depth * 2, ' ');
}

// Whether an array's keys are its indices "0", "1", ...: vorn's group arrays
// carry their counters' own keys instead, which only an object can show.
bool indexed(const bson_iter_t *it) {
  bson_iter_t scan = *it;
  for (int i = 0; bson_iter_next(&scan); i++)
    if (std::to_string(i) != bson_iter_key(&scan)) return false;
  return true;
}

void json_document(std::string &out, bson_iter_t *it, bool array, int depth) {
  array = array && indexed(it);
  out += array ? '[' : '{';
  bool first = true;
  while (bson_iter_next(it)) {
    if (!first) out += ',';
    first = false;
    newline(out, depth + 1);
    if (!array) {
      json_string(out, bson_iter_key(it), strlen(bson_iter_key(it)));
      out += pretty ? ": " : ":";
    }
    char num[64];
    switch (bson_iter_type(it)) {
      case BSON_TYPE_DOUBLE:
        snprintf(num, sizeof num, "%.17g", bson_iter_double(it));
        out += num;
        break;
      case BSON_TYPE_INT32: out += std::to_string(bson_iter_int32(it)); break;
      case BSON_TYPE_INT64: out += std::to_string(bson_iter_int64(it)); break;
      case BSON_TYPE_BOOL: out += bson_iter_bool(it) ? "true" : "false"; break;
      case BSON_TYPE_UTF8: {
        uint32_t n;
        const char *s = bson_iter_utf8(it, &n);
        json_string(out, s, n);
        break;
      }
      case BSON_TYPE_DOCUMENT:
      case BSON_TYPE_ARRAY: {
        bson_iter_t child;
        bson_iter_recurse(it, &child);
        json_document(out, &child, bson_iter_type(it) == BSON_TYPE_ARRAY, depth + 1);
        break;
      }
      default: out += "null";
    }
  }
  if (!first) newline(out, depth);
  out += array ? ']' : '}';
}

std::string sha1_hex(const uint8_t *doc, size_t len) {
  unsigned char d[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_MD_CTX *ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr);
  EVP_DigestUpdate(ctx, doc, len);
  EVP_DigestUpdate(ctx, secret.data(), secret.size());
  EVP_DigestFinal_ex(ctx, d, &n);
  EVP_MD_CTX_free(ctx);
  std::string hex;
  char b[3];
  for (unsigned i = 0; i < n; i++) {
    snprintf(b, sizeof b, "%02x", d[i]);
    hex += b;
  }
  return hex;
}

void handle_packet(const uint8_t *p, size_t n, const sockaddr_in &from, const char *proto) {
  char addr[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &from.sin_addr, addr, sizeof addr);
  std::string line = "{\"from\":\"" + std::string(addr) + ":" + std::to_string(ntohs(from.sin_port)) +
                     "\",\"proto\":\"" + proto + "\",\"bytes\":" + std::to_string(n) + ",\"signature\":";
  uint32_t doc_len = 0;
  if (n >= 5) memcpy(&doc_len, p, 4);
  doc_len = le32toh(doc_len);
  std::string verdict;
  if (n < 5 || doc_len < 5 || doc_len > n) {
    verdict = "malformed";
  } else if (n == doc_len) {
    verdict = secret.empty() ? "none" : "missing";
  } else if (n != doc_len + 40) {
    verdict = "malformed";
  } else if (secret.empty()) {
    verdict = "unchecked";
  } else {
    verdict = sha1_hex(p, doc_len) == std::string((const char *)p + doc_len, 40) ? "ok" : "bad";
  }
  bool trusted = verdict == "ok" || verdict == "none";
  bson_t doc;
  if (trusted && !(bson_init_static(&doc, p, doc_len) && bson_validate(&doc, BSON_VALIDATE_UTF8, nullptr))) {
    verdict = "malformed";
    trusted = false;
  }
  line += "\"" + verdict + "\"";
  if (trusted) {
    line += pretty ? ",\"report\": " : ",\"report\":";
    bson_iter_t it;
    bson_iter_init(&it, &doc);
    json_document(line, &it, false, 0);
  }
  line += "}\n";
  fputs(line.c_str(), stdout);
  fflush(stdout);
}

// One report per connection: read to the end of the stream, at most 16 MiB,
// waiting at most 5 s for each piece.
void handle_tcp(int listener) {
  sockaddr_in from{};
  socklen_t fl = sizeof from;
  int c = accept4(listener, (sockaddr *)&from, &fl, SOCK_CLOEXEC);
  if (c < 0) return;
  timeval tv{5, 0};
  setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::vector<uint8_t> buf;
  uint8_t chunk[65536];
  for (;;) {
    ssize_t r = read(c, chunk, sizeof chunk);
    if (r <= 0) break;
    buf.insert(buf.end(), chunk, chunk + r);
    if (buf.size() > (16u << 20)) break;
  }
  close(c);
  handle_packet(buf.data(), buf.size(), from, "tcp");
}

}  // namespace

int main(int argc, char **argv) {
  std::string bind_addr = "127.0.0.1";
  int port = 8641;
  long count = -1;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    bool has_value = i + 1 < argc;
    if (a == "--pretty") {
      pretty = true;
    } else if (a == "--bind" && has_value) {
      bind_addr = argv[++i];
    } else if (a == "--port" && has_value) {
      port = atoi(argv[++i]);
    } else if (a == "--secret" && has_value) {
      secret = argv[++i];
    } else if (a == "--count" && has_value) {
      count = atol(argv[++i]);
    } else {
      fprintf(stderr, "usage: %s [--bind ADDR] [--port N] [--secret S] [--pretty] [--count N]\n", argv[0]);
      return 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons((uint16_t)port);
  if (inet_pton(AF_INET, bind_addr.c_str(), &addr.sin_addr) != 1) {
    fprintf(stderr, "vorn-collector: bad address %s\n", bind_addr.c_str());
    return 2;
  }
  int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  int tcp = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(tcp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  int rcvbuf = 4 << 20;
  setsockopt(udp, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  if (bind(udp, (sockaddr *)&addr, sizeof addr) != 0 || bind(tcp, (sockaddr *)&addr, sizeof addr) != 0 ||
      listen(tcp, 16) != 0) {
    perror("vorn-collector: bind");
    return 1;
  }
  fprintf(stderr, "vorn-collector listening on %s:%d (udp, tcp)\n", bind_addr.c_str(), port);
  std::vector<uint8_t> dgram(65536);
  while (count != 0) {
    pollfd fds[2] = {{udp, POLLIN, 0}, {tcp, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[0].revents & POLLIN) {
      sockaddr_in from{};
      socklen_t fl = sizeof from;
      ssize_t n = recvfrom(udp, dgram.data(), dgram.size(), 0, (sockaddr *)&from, &fl);
      if (n >= 0) {
        handle_packet(dgram.data(), (size_t)n, from, "udp");
        if (count > 0) count--;
      }
    }
    if ((fds[1].revents & POLLIN) && count != 0) {
      handle_tcp(tcp);
      if (count > 0) count--;
    }
  }
  return 0;
}
