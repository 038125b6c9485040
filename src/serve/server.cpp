#include "serve/server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "serve/answers.h"
#include "serve_assets.h"  // generated from web/ by the build

namespace {

const char* const kUsage =
    "usage: zok-serve [--bind ADDR:PORT] [--cache MB] [--threads N] [--log] DIR...\n";

// A request target longer than this is refused with 414: a FEN takes under
// 100 characters, even percent-encoded.
constexpr size_t kMaxTarget = 1024;
constexpr size_t kMaxBody = 1024;
// Seconds a client may take to send a request or to read an answer, and to
// keep an idle connection open; a slow client holds one thread no longer.
constexpr time_t kIoTimeout = 5;
constexpr time_t kIdleTimeout = 2;

struct Options {
  std::string host = "127.0.0.1";
  int port = 9000;
  long cache_mb = 256;
  int threads = 16;
  bool log = false;
  std::vector<const char*> dirs;
};

void Say(const std::string& text) { PlatConsoleWrite(text.data(), text.size()); }
void Complain(const std::string& text) { PlatErrorWrite(text.data(), text.size()); }

bool Number(const char* text, long lo, long hi, long* out) {
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (end == text || *end != 0 || v < lo || v > hi) return false;
  *out = v;
  return true;
}

// Empty when the command line is good; otherwise what is wrong with it.
std::string ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    bool valued = a == "--bind" || a == "--cache" || a == "--threads";
    if (valued && i + 1 >= argc) return a + " needs a value";
    long v = 0;
    if (a == "--bind") {
      std::string b = argv[++i];
      size_t colon = b.rfind(':');
      if (colon == std::string::npos || colon == 0 || !Number(b.c_str() + colon + 1, 0, 65535, &v)) {
        return "--bind wants ADDR:PORT, not " + b;
      }
      o->host = b.substr(0, colon);
      // [::1]:9000 names an IPv6 address.
      if (o->host.size() > 2 && o->host.front() == '[' && o->host.back() == ']') {
        o->host = o->host.substr(1, o->host.size() - 2);
      }
      o->port = static_cast<int>(v);
    } else if (a == "--cache") {
      if (!Number(argv[++i], 1, 1 << 20, &o->cache_mb)) return "--cache wants megabytes from 1";
    } else if (a == "--threads") {
      if (!Number(argv[++i], 1, 1024, &v)) return "--threads wants a number from 1 to 1024";
      o->threads = static_cast<int>(v);
    } else if (a == "--log") {
      o->log = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return "unknown option " + a;
    } else {
      o->dirs.push_back(argv[i]);
    }
  }
  return "";
}

// Non-printable bytes of a request line as \xHH, so that a log line stays
// one line whatever the client sent.
std::string Printable(const std::string& s) {
  constexpr size_t kMost = 300;  // of an over-long target, its start will do
  std::string out;
  for (unsigned char c : s.substr(0, kMost)) {
    if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return s.size() > kMost ? out + "..." : out;
}

// When each request in flight reached routing, by request: its access-log
// line gives the time from there to the end of its answer.
class RequestStarts {
 public:
  void Begin(const httplib::Request& req) {
    const int64_t now = PlatClockMs();
    std::lock_guard<std::mutex> hold(lock_);
    starts_[&req] = now;
  }
  // Milliseconds since Begin; 0 for a request refused before routing.
  int64_t End(const httplib::Request& req) {
    const int64_t now = PlatClockMs();
    std::lock_guard<std::mutex> hold(lock_);
    auto it = starts_.find(&req);
    if (it == starts_.end()) return 0;
    const int64_t ms = now - it->second;
    starts_.erase(it);
    return ms;
  }

 private:
  std::mutex lock_;
  std::unordered_map<const httplib::Request*, int64_t> starts_;
};

void SendJson(httplib::Response& res, const Answer& a) {
  res.status = a.status;
  res.set_header("Access-Control-Allow-Origin", "*");
  res.set_content(a.body, "application/json");
}

void Configure(httplib::Server& server, zok_tb* tb, const Options& o) {
  server.new_task_queue = [n = o.threads] { return new httplib::ThreadPool(size_t(n)); };
  server.set_read_timeout(kIoTimeout, 0);
  server.set_write_timeout(kIoTimeout, 0);
  server.set_keep_alive_timeout(kIdleTimeout);
  server.set_keep_alive_max_count(100000);
  server.set_payload_max_length(kMaxBody);
  server.set_tcp_nodelay(true);
  auto starts = std::make_shared<RequestStarts>();
  server.set_pre_routing_handler(
      [starts, log = o.log](const httplib::Request& req, httplib::Response& res) {
        if (log) starts->Begin(req);
        if (req.target.size() <= kMaxTarget) return httplib::Server::HandlerResponse::Unhandled;
        SendJson(res, {414, ErrorBody("request target too long")});
        return httplib::Server::HandlerResponse::Handled;
      });
  // The page and its assets: a fixed table compiled in, looked up by the
  // whole path; nothing a request names is ever read from disk.
  for (const ServeAsset& asset : kServeAssets) {
    // Routes are regular expressions: the dot of a file name is escaped.
    std::string route;
    for (const char* c = asset.path; *c != 0; c++)
      route += *c == '.' ? std::string("\\.") : std::string(1, *c);
    server.Get(route, [&asset](const httplib::Request&, httplib::Response& res) {
      res.set_header("Cache-Control", "no-cache");
      res.set_header("X-Content-Type-Options", "nosniff");
      res.set_content(asset.body, asset.size, asset.type);
    });
  }
  server.Get("/standard", [tb](const httplib::Request& req, httplib::Response& res) {
    SendJson(res, StandardAnswer(tb, req.get_param_value("fen")));
  });
  server.Get("/standard/mainline", [tb](const httplib::Request& req, httplib::Response& res) {
    SendJson(res, MainlineAnswer(tb, req.get_param_value("fen")));
  });
  auto refuse = [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Allow", "GET, HEAD");
    SendJson(res, {405, ErrorBody("method not allowed: only GET and HEAD")});
  };
  server.Post(".*", refuse);
  server.Put(".*", refuse);
  server.Patch(".*", refuse);
  server.Delete(".*", refuse);
  server.Options(".*", refuse);
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    std::string text = res.status == 404   ? "not found"
                       : res.status == 400 ? "bad request"
                       : res.status == 413 ? "request too large"
                       : res.status == 414 ? "request target too long"
                                           : "error " + std::to_string(res.status);
    SendJson(res, {res.status, ErrorBody(text)});
  });
  if (o.log) {
    server.set_logger([starts](const httplib::Request& req, const httplib::Response& res) {
      char line[160];
      snprintf(line, sizeof line, "\" %d %zu %lld ms\n", res.status, res.body.size(),
               static_cast<long long>(starts->End(req)));
      Complain(req.remote_addr + " \"" + Printable(req.method) + " " + Printable(req.target) + " " +
               Printable(req.version) + line);
    });
  }
}

}  // namespace

int ServeMain(int argc, char** argv) {
  Options o;
  std::string fault = ParseOptions(argc, argv, &o);
  if (!fault.empty()) {
    Complain("zok-serve: " + fault + "\n" + kUsage);
    return 2;
  }
  char err[256];
  zok_tb* tb = zok_open(o.dirs.data(), static_cast<int>(o.dirs.size()),
                        static_cast<size_t>(o.cache_mb) << 20, err, sizeof err);
  if (tb == nullptr) {
    Complain(std::string("zok-serve: ") + err + "\n");
    return 1;
  }
  // Before any thread starts, so that only the waiter below takes them.
  PlatBlockStopSignals();
  int status = 0;
  {
    httplib::Server server;
    Configure(server, tb, o);
    int port = o.port;
    bool bound =
        port == 0 ? (port = server.bind_to_any_port(o.host)) > 0 : server.bind_to_port(o.host, port);
    if (!bound) {
      Complain("zok-serve: cannot listen on " + o.host + ":" + std::to_string(o.port) + "\n");
      status = 1;
    } else {
      Say("zok-serve: listening on " + o.host + ":" + std::to_string(port) + "\n");
      std::atomic<bool> done{false};
      std::thread stopper([&] {
        const char* sig = PlatWaitStopSignal();
        if (done) return;
        Say(std::string("zok-serve: stopping on ") + sig + "\n");
        // A signal that came before the server ran is answered once it does.
        while (!done) {
          server.stop();
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
      });
      if (!server.listen_after_bind()) status = 1;
      done = true;
      PlatSendStopSignal();
      stopper.join();
    }
  }
  zok_close(tb);
  return status;
}
