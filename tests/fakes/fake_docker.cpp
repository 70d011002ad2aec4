// fake-docker: a stand-in for the Docker Engine API on a UNIX socket, for
// tests on machines where no Docker engine runs.
//
//   fake-docker SOCKET_PATH
//
// GET /containers/<name>/json answers an inspect document shaped like the
// engine's: "web" and any name starting with "c" run on the default bridge,
// "old" has exited, "pz" is paused, "netted" runs on a user-defined network
// with an empty top-level IPAddress; other names get 404.
// GET /containers/<name>/stats?stream=true streams one statistics object a
// line, every half second, in which the container uses a quarter of 4 CPUs.

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string inspect(const std::string &name, const std::string &status, bool running, bool paused,
                    const std::string &ip, const std::string &networks) {
  char buf[4096];
  snprintf(buf, sizeof buf,
           "{\"Id\":\"4f1b2d3c9a8e7f6d5c4b3a291817161514131211100f0e0d0c0b0a0908070605\","
           "\"Created\":\"2026-11-30T08:12:44.123456789Z\",\"Path\":\"docker-entrypoint.sh\",\"Args\":[\"run\"],"
           "\"State\":{\"Status\":\"%s\",\"Running\":%s,\"Paused\":%s,\"Restarting\":false,\"OOMKilled\":false,"
           "\"Dead\":false,\"Pid\":%d,\"ExitCode\":%d,\"Error\":\"\",\"StartedAt\":\"2026-12-01T09:00:00.5Z\","
           "\"FinishedAt\":\"0001-01-01T00:00:00Z\"},"
           "\"Image\":\"sha256:9c7a54a9a43cca047013b82af109fe963fde787f63f9e016fdc3384500c2823d\","
           "\"Name\":\"/%s\",\"RestartCount\":0,\"Driver\":\"overlay2\",\"Platform\":\"linux\","
           "\"HostConfig\":{\"NetworkMode\":\"default\",\"RestartPolicy\":{\"Name\":\"no\",\"MaximumRetryCount\":0}},"
           "\"Config\":{\"Hostname\":\"4f1b2d3c9a8e\",\"Image\":\"redis:7\",\"Env\":[\"PATH=/usr/bin\"]},"
           "\"NetworkSettings\":{\"Bridge\":\"\",\"SandboxID\":\"a1b2c3\",\"Ports\":{},\"Gateway\":\"%s\","
           "\"IPAddress\":\"%s\",\"IPPrefixLen\":16,\"MacAddress\":\"02:42:ac:11:00:02\",\"Networks\":{%s}}}",
           status.c_str(), running ? "true" : "false", paused ? "true" : "false", running ? 4242 : 0,
           running ? 0 : 137, name.c_str(), ip.empty() ? "" : "172.17.0.1", ip.c_str(), networks.c_str());
  return buf;
}

std::string bridge(const std::string &ip) {
  return "\"bridge\":{\"IPAMConfig\":null,\"Links\":null,\"Aliases\":null,\"NetworkID\":\"7e1f\",\"EndpointID\":"
         "\"3d2c\",\"Gateway\":\"172.17.0.1\",\"IPAddress\":\"" +
         ip + "\",\"IPPrefixLen\":16,\"MacAddress\":\"02:42:ac:11:00:02\"}";
}

std::string document_for(const std::string &name) {
  if (name == "web" || (!name.empty() && name[0] == 'c'))
    return inspect(name, "running", true, false, "172.17.0.2", bridge("172.17.0.2"));
  if (name == "old") return inspect(name, "exited", false, false, "", bridge(""));
  if (name == "pz") return inspect(name, "paused", false, true, "172.17.0.4", bridge("172.17.0.4"));
  if (name == "netted")
    return inspect(name, "running", true, false, "",
                   "\"app_net\":{\"NetworkID\":\"9b8a\",\"Gateway\":\"172.18.0.1\",\"IPAddress\":\"172.18.0.5\","
                   "\"IPPrefixLen\":16}");
  return "";
}

void reply(int c, const std::string &status, const std::string &body) {
  std::string r = "HTTP/1.0 " + status +
                  "\r\nApi-Version: 1.43\r\nContent-Type: application/json\r\nDocker-Experimental: false\r\n"
                  "Server: Docker/24.0.7 (linux)\r\n\r\n" +
                  body + "\n";
  send(c, r.data(), r.size(), MSG_NOSIGNAL);
}

void stats_stream(int c, const std::string &name) {
  std::string head = "HTTP/1.0 200 OK\r\nApi-Version: 1.43\r\nContent-Type: application/json\r\n\r\n";
  if (send(c, head.data(), head.size(), MSG_NOSIGNAL) < 0) return;
  // 4 CPUs; per message the container uses 2e9 ns of 8e9 ns system time.
  long long total = 3000000000000LL, system = 90000000000000LL;
  for (int i = 0; i < 2400; i++) {
    char msg[1024];
    snprintf(msg, sizeof msg,
             "{\"read\":\"2026-12-11T10:00:%02d.000Z\",\"name\":\"/%s\",\"id\":\"4f1b2d3c9a8e\","
             "\"pids_stats\":{\"current\":5},\"cpu_stats\":{\"cpu_usage\":{\"total_usage\":%lld,"
             "\"usage_in_kernelmode\":1000000,\"usage_in_usermode\":2000000},\"system_cpu_usage\":%lld,"
             "\"online_cpus\":4,\"throttling_data\":{\"periods\":0}},\"precpu_stats\":{\"cpu_usage\":{"
             "\"total_usage\":%lld},\"system_cpu_usage\":%lld,\"online_cpus\":4},"
             "\"memory_stats\":{\"usage\":7340032,\"limit\":25275133952}}\n",
             i % 60, name.c_str(), total + 500000000LL, system + 8000000000LL, total, system);
    total += 500000000LL;
    system += 8000000000LL;
    if (send(c, msg, strlen(msg), MSG_NOSIGNAL) < 0) return;
    usleep(500000);
  }
}

void serve(int c) {
  std::string req;
  char buf[1024];
  while (req.find("\n\n") == std::string::npos && req.find("\r\n\r\n") == std::string::npos) {
    ssize_t n = read(c, buf, sizeof buf);
    if (n <= 0) break;
    req.append(buf, (size_t)n);
  }
  char path[512] = "";
  sscanf(req.c_str(), "GET %511s", path);
  std::string p = path;
  const std::string prefix = "/containers/";
  if (p.rfind(prefix, 0) == 0) {
    std::string rest = p.substr(prefix.size());
    size_t slash = rest.find('/');
    std::string name = rest.substr(0, slash), what = slash == std::string::npos ? "" : rest.substr(slash);
    std::string doc = document_for(name);
    if (doc.empty()) {
      reply(c, "404 Not Found", "{\"message\":\"No such container: " + name + "\"}");
    } else if (what == "/json") {
      reply(c, "200 OK", doc);
    } else if (what.rfind("/stats", 0) == 0) {
      stats_stream(c, name);
    } else {
      reply(c, "404 Not Found", "{\"message\":\"page not found\"}");
    }
  } else {
    reply(c, "404 Not Found", "{\"message\":\"page not found\"}");
  }
  close(c);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s SOCKET_PATH\n", argv[0]);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  snprintf(a.sun_path, sizeof a.sun_path, "%s", argv[1]);
  unlink(argv[1]);
  if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(s, 64) != 0) {
    perror("fake-docker");
    return 1;
  }
  fprintf(stderr, "fake-docker listening on %s\n", argv[1]);
  for (;;) {
    int c = accept(s, nullptr, nullptr);
    if (c < 0) continue;
    std::thread(serve, c).detach();
  }
}
