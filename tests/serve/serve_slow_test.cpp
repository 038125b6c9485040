// zok-serve end to end: the built server on a free loopback port over
// databases the tests build, asked over HTTP; and its page in headless
// Chromium.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cctype>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "gaviota_reference.h"
#include "test_support.h"

namespace {

using Json = nlohmann::json;

// The server in the background; its pid, exit status, standard output and
// standard error land in files of a temporary directory.
class Server {
 public:
  Server() {
    std::string dbs =
        BuiltDatabases({"KQK", "KRK", "KBK", "KNK", "KPK", "KKQ", "KKR", "KKB", "KKN", "KKP", "KQKR"});
    RunShell("sh -c \"'" ZOK_SERVE_EXE "' --bind 127.0.0.1:0 --log '" + dbs +
                 "' >out 2>err & echo \\$! >pid; wait \\$!; echo \\$? >status\" >/dev/null 2>&1 &",
             dir_.path());
    for (int i = 0; i < 500 && port_ == 0; i++) {
      std::smatch m;
      std::string out = FileExists(dir_.File("out")) ? ReadFile(dir_.File("out")) : "";
      if (std::regex_search(out, m, std::regex("listening on 127.0.0.1:(\\d+)\n")))
        port_ = std::stoi(m[1]);
      RunShell("sleep 0.01");
    }
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    client_->set_url_encode(false);
  }
  // A server the test has not stopped (it needed no stop, or a check ended
  // the test) must not outlive it.
  ~Server() {
    RunShell("[ -s status ] || { kill -KILL $(cat pid); while [ ! -s status ]; do sleep 0.01; done; }",
             dir_.path());
  }
  // Stops it with `signal`; its exit status.
  std::string Stop(const char* signal) {
    RunShell(std::string("kill -") + signal + " $(cat pid); while [ ! -s status ]; do sleep 0.01; done",
             dir_.path());
    return ReadFile(dir_.File("status"));
  }
  std::string File(const char* name) const { return ReadFile(dir_.File(name)); }
  int port() const { return port_; }
  httplib::Client& client() { return *client_; }
  // Status and body of a GET.
  std::pair<int, std::string> Get(const std::string& target) {
    auto r = client_->Get(target.c_str());
    return r ? std::make_pair(r->status, r->body) : std::make_pair(-1, std::string());
  }
  Json Standard(const std::string& fen) { return Json::parse(Get("/standard?fen=" + fen).second); }

 private:
  TempDir dir_;
  int port_ = 0;
  std::unique_ptr<httplib::Client> client_;
};

// The FEN after a move of a man other than a pawn or a castling king.
std::string Play(const std::string& fen, const std::string& uci) {
  std::string men(64, ' '), out;
  size_t i = 0;
  for (int sq = 56; fen[i] != '_'; i++) {
    if (fen[i] == '/') sq -= 16;
    else if (isdigit(fen[i])) sq += fen[i] - '0';
    else men[size_t(sq++)] = fen[i];
  }
  auto at = [](const std::string& s, size_t k) { return size_t((s[k + 1] - '1') * 8 + s[k] - 'a'); };
  men[at(uci, 2)] = men[at(uci, 0)];
  men[at(uci, 0)] = ' ';
  for (int r = 7; r >= 0; r--) {
    for (int f = 0, empty = 0; f < 8; f++) {
      char c = men[size_t(r * 8 + f)];
      if (c != ' ') out += (empty > 0 ? std::to_string(empty) : "") + c, empty = 0;
      else if (++empty, f == 7) out += std::to_string(empty);
    }
    out += r > 0 ? "/" : (fen[i + 1] == 'w' ? "_b_-_-" : "_w_-_-");
  }
  return out;
}

// The JSON of a move.
std::string Move(const char* uci, const char* san, const char* category, const char* dtm, bool zeroing,
                 bool mate, bool stalemate, bool insufficient) {
  auto b = [](bool v) { return v ? "true" : "false"; };
  return std::string("{\"uci\":\"") + uci + "\",\"san\":\"" + san + "\",\"category\":\"" + category +
         "\",\"dtm\":" + dtm + ",\"dtz\":null,\"precise_dtz\":null,\"zeroing\":" + b(zeroing) +
         ",\"checkmate\":" + b(mate) + ",\"stalemate\":" + b(stalemate) +
         ",\"insufficient_material\":" + b(insufficient) + "}";
}

TEST(ServeSlow, AnswersEveryRequestExactly) {
  RunResult usage = RunShell("'" ZOK_SERVE_EXE "' --threads 0 .");
  EXPECT_EQ(usage.status, 2);
  EXPECT_EQ(usage.output,
            "zok-serve: --threads wants a number from 1 to 1024\nusage: zok-serve [--bind ADDR:PORT] "
            "[--cache MB] [--threads N] [--log] DIR...\n");
  Server server;
  ASSERT_GT(server.port(), 0) << server.File("err");
  const std::string root = "\"dtz\":null,\"precise_dtz\":null,";
  const std::string draw = "{\"category\":\"draw\",\"dtm\":null," + root;
  const struct {
    std::string target;
    int status;
    std::string body;  // the whole body, or its start when it ends in "..."
  } cases[] = {
      {"/standard?fen=k7/1Q6/1K6/8/8/8/8/8_b_-_-_0_1", 200,
       "{\"category\":\"loss\",\"dtm\":0," + root +
           "\"checkmate\":true,\"stalemate\":false,\"insufficient_material\":false,\"moves\":[]}"},
      {"/standard?fen=k7/8/1Q6/8/8/8/8/K7_b_-_-_0_1", 200,
       draw + "\"checkmate\":false,\"stalemate\":true,\"insufficient_material\":false,\"moves\":[]}"},
      {"/standard?fen=8/8/8/8/8/8/8/K6k%20w%20-%20-", 200,
       draw + "\"checkmate\":false,\"stalemate\":false,\"insufficient_material\":true,\"moves\":[" +
           Move("a1a2", "Ka2", "draw", "null", false, false, false, true) + "," +
           Move("a1b1", "Kb1", "draw", "null", false, false, false, true) + "," +
           Move("a1b2", "Kb2", "draw", "null", false, false, false, true) + "]}"},
      // Mate in one: the queen checks along the eighth rank, the king
      // guards the seventh.
      {"/standard?fen=4k3/8/4K3/8/8/8/8/7Q_w_-_-_0_1", 200,
       "{\"category\":\"win\",\"dtm\":1," + root +
           "\"checkmate\":false,\"stalemate\":false,\"insufficient_material\":false,\"moves\":[" +
           Move("h1a8", "Qa8#", "loss", "0", false, true, false, false) + "," +
           Move("h1h8", "Qh8#", "loss", "0", false, true, false, false) + ",..."},
      {"/standard?fen=r3k3/8/8/8/8/8/8/R3K3_w_Qq_-_0_1", 200,
       "{\"category\":\"unknown\",\"dtm\":null,..."},
      {"/standard?fen=8/8/8/8/8/2k5/1Q6/K7", 400,
       "{\"error\":\"invalid fen: no FEN of a legal position: 8/8/8/8/8/2k5/1Q6/K7\"}"},
      {"/standard/mainline", 400, "{\"error\":\"fen missing: give ?fen=FEN\"}"},
      // A quote is escaped, a byte that is no UTF-8 replaced.
      {"/standard?fen=k7/1Q6/1K6/8/8/8/8/8_b%00x", 400,
       "{\"error\":\"invalid fen: no FEN of a legal position: k7/1Q6/1K6/8/8/8/8/8 b\\u0000x\"}"},
      {"/standard?fen=%22%ff", 400,
       "{\"error\":\"invalid fen: no FEN of a legal position: \\\"\xEF\xBF\xBD\"}"},
      {"/standard?fen=8/8/8/8/8/2kq4/1R6/K7_w_-_-_0_1", 404,
       "{\"error\":\"database missing\",\"missing\":\"KRKQ___W\"}"},
      {"/../", 404, "{\"error\":\"not found\"}"},
      {"/%2e%2e/explorer.js", 404, "{\"error\":\"not found\"}"},
      {"/%2e%2e/", 404, "{\"error\":\"not found\"}"},
      {"/explorerXjs", 404, "{\"error\":\"not found\"}"},  // no pattern of names
      {"/standard?fen=" + std::string(2000, '8'), 414, "{\"error\":\"request target too long\"}"},
      {"/", 200, "<!doctype html>..."},
  };
  for (const auto& c : cases) {
    auto [status, body] = server.Get(c.target);
    EXPECT_EQ(status, c.status) << c.target;
    size_t dots = c.body.size() - 3;
    if (c.body.substr(dots) == "...") body = body.substr(0, dots) + "...";
    EXPECT_EQ(body, c.body) << c.target;
  }
  auto del = server.client().Delete("/standard?fen=x");
  ASSERT_TRUE(del);
  EXPECT_EQ(del->status, 405);
  EXPECT_EQ(del->body, "{\"error\":\"method not allowed: only GET and HEAD\"}");
  auto head = server.client().Head("/standard?fen=k7/1Q6/1K6/8/8/8/8/8_b_-_-_0_1");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(head->body, "");
  EXPECT_EQ(server.Stop("INT"), "0\n");
  EXPECT_EQ(server.File("out"), "zok-serve: listening on 127.0.0.1:" + std::to_string(server.port()) +
                                    "\nzok-serve: stopping on SIGINT\n");
  // One access-log line per request.
  std::string log = server.File("err");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), std::size(cases) + 2) << log;
  EXPECT_TRUE(std::regex_search(log, std::regex("\n127.0.0.1 \"HEAD /standard\\?fen=k7/1Q6/1K6/8/8/8/8/"
                                                "8_b_-_-_0_1 HTTP/1.1\" 200 \\d+ \\d+ ms\n$")))
      << log;
}

// Each move's value is that of the position it leads to, one ply nearer to
// mate; the position's own is the best of them, and agrees with the
// published longest KQK mates. The main line plays down to mate.
TEST(ServeSlow, ValuesAgreeWithSuccessorsAndMainlineEndsInMate) {
  Server server;
  ASSERT_GT(server.port(), 0) << server.File("err");
  const struct {
    const char* fen;
    int dtm;
  } cases[] = {{"8/8/8/5k2/8/8/1Q6/K7_w_-_-", 19},
               {"8/8/8/8/4k3/8/1Q6/K7_b_-_-", -20},
               {"8/8/r7/8/3k4/8/8/K1Q5_w_-_-", 69}};
  for (const auto& c : cases) {
    Json a = server.Standard(c.fen);
    EXPECT_EQ(a["dtm"], c.dtm) << c.fen;
    for (const Json& m : a["moves"]) {
      Json after = server.Standard(Play(c.fen, m["uci"]));
      // Without the twin of KQKR a draw is not known: the answer names it.
      if (m["category"] == "unknown") after = after["missing"] == "KRKQ___W" ? m : after;
      EXPECT_EQ(after["category"], m["category"]) << c.fen << " " << m["uci"];
      EXPECT_EQ(after["dtm"], m["dtm"]) << c.fen << " " << m["uci"];
    }
    EXPECT_EQ(a["moves"][0]["dtm"], c.dtm > 0 ? 1 - c.dtm : -1 - c.dtm) << c.fen;
    Json line = Json::parse(server.Get(std::string("/standard/mainline?fen=") + c.fen).second);
    ASSERT_EQ(line["mainline"].size(), size_t(std::abs(c.dtm))) << c.fen;
    EXPECT_EQ(line["mainline"].back()["dtm"], 0);
    EXPECT_EQ(std::string(line["mainline"].back()["san"]).back(), '#');
    EXPECT_EQ(line["winner"], "w");
    EXPECT_EQ(line["dtm"], c.dtm);
  }
  EXPECT_EQ(server.Stop("TERM"), "0\n");
}

// The FEN, spaces written '_', of the kings on `wk` and `bk` and `man` on `sq`.
std::string ThreeMen(unsigned wk, unsigned bk, char man, unsigned sq, bool white_to_move) {
  std::string fen;
  for (int r = 7; r >= 0; r--) {
    for (int f = 0, empty = 0; f < 8; f++) {
      unsigned s = unsigned(8 * r + f);
      char c = s == wk ? 'K' : s == bk ? 'k' : s == sq ? man : 0;
      if (c == 0) empty++;
      if (c != 0 || f == 7) fen += empty > 0 ? std::to_string(empty) : "";
      if (c != 0) fen += c, empty = 0;
    }
    fen += r > 0 ? "/" : white_to_move ? "_w_-_-_0_1" : "_b_-_-_0_1";
  }
  return fen;
}

// A spread of three-man positions, every man of either colour and either side
// to move, against the independent Gaviota tables of Debian's gaviotatb:
// category and signed plies, and 400 where Gaviota calls the position illegal.
TEST(ServeSlow, ThreeMenAgreeWithGaviota) {
#ifndef ZOK_GAVIOTA_TABLES
  GTEST_SKIP() << "the gaviotatb and libgaviotatb-dev packages are not installed";
#else
  ASSERT_TRUE(GaviotaOpen());
  Server server;
  ASSERT_GT(server.port(), 0) << server.File("err");
  int asked = 0;
  for (char man : std::string("QRBNPqrbnp")) {
    const bool pawn = tolower(man) == 'p';
    for (unsigned i = 0; i < 2 * 64 * 64 * 64; i += 1009) {
      const unsigned wk = i & 63, bk = i >> 6 & 63, sq = i >> 12 & 63;
      const bool white_to_move = i >> 18 == 0;
      if (wk == bk || sq == wk || sq == bk || (pawn && (sq < 8 || sq >= 56))) continue;
      const std::string want = GaviotaValue(wk, bk, man, sq, white_to_move);
      const std::string fen = ThreeMen(wk, bk, man, sq, white_to_move);
      auto [status, body] = server.Get("/standard?fen=" + fen);
      asked++;
      if (want == "illegal") {
        EXPECT_EQ(status, 400) << fen;
        continue;
      }
      Json a = Json::parse(body);
      const std::string category = want.substr(0, want.find(' '));
      EXPECT_EQ(a["category"], category) << fen;
      const int plies = category == "draw" ? 0 : std::stoi(want.substr(category.size() + 1));
      EXPECT_EQ(a["dtm"], category == "draw" ? Json() : Json(category == "win" ? plies : -plies)) << fen;
    }
  }
  EXPECT_GT(asked, 4000);
#endif
}

// The page in headless Chromium: the value and first move of a mate in one,
// then a click on that move.
TEST(ServeSlow, PagePlaysAClickedMove) {
  if (!FileExists("/usr/bin/chromium") || RunShell("node -e 0").status != 0) {
    GTEST_SKIP() << "needs /usr/bin/chromium and node";
  }
  Server server;
  ASSERT_GT(server.port(), 0) << server.File("err");
  RunResult r =
      RunShell("node '" ZOK_SOURCE_DIR
               "/tests/serve/page_test.mjs' "
               "'http://127.0.0.1:" +
               std::to_string(server.port()) +
               "/?fen=4k3/8/4K3/8/8/8/8/7Q_w_-_-_0_1' '" ZOK_BUILD_DIR "/serve_page.png' 2>&1");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(
      r.output,
      "value: White mates in 1\nfirst move: Qa8# checkmate\nafter the click: Black is checkmated\n");
  EXPECT_EQ(server.Stop("TERM"), "0\n");
}

}  // namespace
