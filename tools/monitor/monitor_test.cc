// rondel-monitor as an operator runs it: the program is started on a free
// loopback port, the library's KvDebugDb sends to it through
// RONDEL_DIAG_TARGET, and the tests read what it prints.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "command.h"
#include "rondel.h"

namespace rondel {
namespace tools {
namespace {

// "歌曲" ("song"): in code page 936 and in UTF-8.
const std::string kSongGbk = "\xb8\xe8\xc7\xfa";
const std::string kSongUtf8 = "\xe6\xad\x8c\xe6\x9b\xb2";

// Whether `text` has the shape `shape`: '#' stands for a digit, '~' for '+' or
// '-', every other character for itself.
bool HasShape(const std::string& text, const std::string& shape) {
  if (text.size() != shape.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool ok = shape[i] == '#'   ? text[i] >= '0' && text[i] <= '9'
              : shape[i] == '~' ? text[i] == '+' || text[i] == '-'
                                : text[i] == shape[i];
    if (!ok) return false;
  }
  return true;
}

// The port of "127.0.0.1:PORT" (1-65535), else 0.
int LoopbackPort(const std::string& address) {
  const std::string prefix = "127.0.0.1:";
  if (address.compare(0, prefix.size(), prefix) != 0) return 0;
  const std::string digits = address.substr(prefix.size());
  if (digits.empty() || digits.size() > 5 || digits[0] == '0' ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  int port = std::atoi(digits.c_str());
  return port <= 65535 ? port : 0;
}

// The monitor as a child process with its output on pipes. Its locale is
// C.UTF-8, a UTF-8 terminal.
class Monitor {
 public:
  // Starts rondel-monitor --listen 127.0.0.1:0 ARGS and waits for the port it
  // reports; port() is 0 when it did not start listening.
  explicit Monitor(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      setenv("LC_ALL", "C.UTF-8", 1);
      std::vector<std::string> all = {RONDEL_MONITOR_PATH, "--listen",
                                      "127.0.0.1:0"};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& arg : all) argv.push_back(&arg[0]);
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    std::string line;
    const std::string listening = "rondel-monitor: listening on ";
    if (ReadLine(err_, &err_buffer_, &line) &&
        line.compare(0, listening.size(), listening) == 0)
      port_ = LoopbackPort(line.substr(listening.size()));
    setenv("RONDEL_DIAG_TARGET", ("127.0.0.1:" + std::to_string(port_)).c_str(),
           1);
  }

  ~Monitor() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
    unsetenv("RONDEL_DIAG_TARGET");
  }

  int port() const { return port_; }
  pid_t pid() const { return pid_; }

  // The next `count` lines of standard output; fewer when the monitor goes
  // quiet for five seconds.
  std::vector<std::string> Lines(size_t count) {
    std::vector<std::string> lines;
    std::string line;
    while (lines.size() < count && ReadLine(out_, &out_buffer_, &line))
      lines.push_back(line);
    return lines;
  }

  // Sends `signal` (0: none, the monitor ends by itself) and waits for the
  // end. Returns the exit status (-1 when killed or not ended within ten
  // seconds) and the rest of standard output in *rest.
  int Finish(int signal, std::string* rest) {
    if (signal != 0) kill(pid_, signal);
    std::string line;
    rest->clear();
    while (ReadLine(out_, &out_buffer_, &line, 10000)) *rest += line + "\n";
    *rest += out_buffer_;
    int status = 0;
    for (int waited = 0; waited < 1000; ++waited) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(10000);
    }
    return -1;
  }

 private:
  // One line (without its end) from `fd`; false at the end of the stream or
  // after `wait_ms` without a byte.
  static bool ReadLine(int fd, std::string* buffer, std::string* line,
                       int wait_ms = 5000) {
    for (;;) {
      size_t end = buffer->find('\n');
      if (end != std::string::npos) {
        *line = buffer->substr(0, end);
        buffer->erase(0, end + 1);
        return true;
      }
      pollfd ready{fd, POLLIN, 0};
      if (poll(&ready, 1, wait_ms) != 1) return false;
      char chunk[4096];
      ssize_t n = read(fd, chunk, sizeof(chunk));
      if (n <= 0) return false;
      buffer->append(chunk, static_cast<size_t>(n));
    }
  }

  pid_t pid_ = -1;
  bool reaped_ = false;
  int out_ = -1;
  int err_ = -1;
  int port_ = 0;
  std::string out_buffer_;
  std::string err_buffer_;
};

// Sends through the library's export, as the host and the library itself do.
void Send(const std::string& text) {
  std::string copy = text;
  KvDebugDb(&copy[0]);
}

// A line's parts: "HH:MM:SS.mmm SENDER TEXT".
struct Line {
  std::string time, sender, text;
};

bool SplitLine(const std::string& line, Line* parts) {
  const size_t sender_end = line.find(' ', 13);
  if (line.size() < 13 || !HasShape(line.substr(0, 13), "##:##:##.### ") ||
      sender_end == std::string::npos)
    return false;
  *parts = {line.substr(0, 12), line.substr(13, sender_end - 13),
            line.substr(sender_end + 1)};
  return true;
}

// Seconds between a line's local time of day and now, around midnight too.
long SecondsFromNow(const std::string& time_of_day) {
  time_t now = std::time(nullptr);
  tm local;
  localtime_r(&now, &local);
  long now_seconds = local.tm_hour * 3600L + local.tm_min * 60L + local.tm_sec;
  long seconds = std::atol(time_of_day.substr(0, 2).c_str()) * 3600L +
                 std::atol(time_of_day.substr(3, 2).c_str()) * 60L +
                 std::atol(time_of_day.substr(6, 2).c_str());
  long difference = std::labs(now_seconds - seconds);
  return std::min(difference, 86400 - difference);
}

struct ShowCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> args;
  std::string shown;
};

// Names the case instead of dumping its bytes in test listings.
void PrintTo(const ShowCase& c, std::ostream* out) { *out << c.name; }

class MonitorShowsTest : public ::testing::TestWithParam<ShowCase> {};

TEST_P(MonitorShowsTest, TextArrivesWithTimeAndSender) {
  const ShowCase& c = GetParam();
  Monitor monitor(c.args);
  ASSERT_NE(0, monitor.port());
  Send(c.bytes);
  std::vector<std::string> lines = monitor.Lines(1);
  ASSERT_EQ(1u, lines.size());
  Line line;
  ASSERT_TRUE(SplitLine(lines[0], &line)) << lines[0];
  EXPECT_EQ(c.shown, line.text);
  EXPECT_LE(SecondsFromNow(line.time), 5) << line.time;
  // The library sends from a port of its own on loopback.
  EXPECT_NE(0, LoopbackPort(line.sender)) << line.sender;
  EXPECT_NE("127.0.0.1:" + std::to_string(monitor.port()), line.sender);
  std::string rest;
  EXPECT_EQ(0, monitor.Finish(SIGINT, &rest));
  EXPECT_EQ("", rest);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MonitorShowsTest,
    ::testing::Values(
        ShowCase{"Ascii", "GetNextVideo begin", {}, "GetNextVideo begin"},
        ShowCase{"Empty", "", {}, ""},
        ShowCase{"GbkAsUtf8", kSongGbk, {}, kSongUtf8},
        ShowCase{"GbkAmongAscii",
                 "media " + kSongGbk + " 1234",
                 {},
                 "media " + kSongUtf8 + " 1234"},
        ShowCase{"NoGbkTextAsHex",
                 "a\xff\xfe"
                 "b",
                 {},
                 "a\\xff\\xfeb"},
        ShowCase{
            "ControlBytesAsHex", "a\tb" + kSongGbk, {}, "a\\x09b" + kSongUtf8},
        ShowCase{"RawGbk", kSongGbk, {"--raw"}, kSongGbk},
        ShowCase{"RawNoGbk", "\xff\x7f", {"--raw"}, "\xff\x7f"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MonitorTest, SenderIsTheDatagramsSourceAddressAndPort) {
  Monitor monitor({});
  ASSERT_NE(0, monitor.port());
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(0,
            bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
  ASSERT_EQ(0, getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length));
  const int own_port = ntohs(address.sin_port);
  address.sin_port = htons(static_cast<uint16_t>(monitor.port()));
  ASSERT_EQ(4, sendto(fd, "host", 4, 0, reinterpret_cast<sockaddr*>(&address),
                      sizeof(address)));
  close(fd);
  std::vector<std::string> lines = monitor.Lines(1);
  ASSERT_EQ(1u, lines.size());
  Line line;
  ASSERT_TRUE(SplitLine(lines[0], &line)) << lines[0];
  EXPECT_EQ("127.0.0.1:" + std::to_string(own_port) + " host",
            line.sender + " " + line.text);
}

// The texts of one GetNextVideo-like burst: three begins, two procedure
// names, one media name.
const std::vector<std::string> kBurst = {
    "GetNextVideo begin", "spm_getplayingmedia", kSongGbk,
    "GetNextVideo begin", "spm_getplayingmedia", "GetNextVideo begin"};

const char kBurstTable[] =
    "  count  text\n"
    "      3  GetNextVideo begin\n"
    "      2  spm_getplayingmedia\n"
    "      1  \xe6\xad\x8c\xe6\x9b\xb2\n"
    "      6  (total)\n";

TEST(MonitorTest, CountTableAtCtrlC) {
  Monitor monitor({"--count"});
  ASSERT_NE(0, monitor.port());
  for (const std::string& text : kBurst) Send(text);
  EXPECT_EQ(kBurst.size(), monitor.Lines(kBurst.size()).size());
  std::string table;
  EXPECT_EQ(0, monitor.Finish(SIGINT, &table));
  EXPECT_EQ(kBurstTable, table);
}

TEST(MonitorTest, CountTableAfterForSeconds) {
  // Taken before the monitor starts its clock, so the run cannot look shorter.
  auto started = std::chrono::steady_clock::now();
  Monitor monitor({"--count", "--for", "2"});
  ASSERT_NE(0, monitor.port());
  for (const std::string& text : kBurst) Send(text);
  EXPECT_EQ(kBurst.size(), monitor.Lines(kBurst.size()).size());
  std::string table;
  EXPECT_EQ(0, monitor.Finish(0, &table));
  EXPECT_EQ(kBurstTable, table);
  EXPECT_GE(std::chrono::steady_clock::now() - started,
            std::chrono::seconds(2));
}

TEST(MonitorTest, GrepKeepsMatchingTextsAsShown) {
  // An extended regular expression, matched against the text as shown: the
  // UTF-8 pattern finds the code page 936 name.
  Monitor monitor({"--grep", "Video|media$|\xe6\xad\x8c", "--count"});
  ASSERT_NE(0, monitor.port());
  for (const std::string& text :
       {std::string("GetNextVideo begin"), std::string("sp_getfileservers"),
        std::string("spm_getplayingmedia"), std::string("media not at the end"),
        kSongGbk, std::string("GetNextVideo end")})
    Send(text);
  std::vector<std::string> texts;
  for (const std::string& text : monitor.Lines(4)) {
    Line line;
    EXPECT_TRUE(SplitLine(text, &line)) << text;
    texts.push_back(line.text);
  }
  EXPECT_EQ(
      (std::vector<std::string>{"GetNextVideo begin", "spm_getplayingmedia",
                                kSongUtf8, "GetNextVideo end"}),
      texts);
  std::string table;
  EXPECT_EQ(0, monitor.Finish(SIGTERM, &table));
  EXPECT_NE(std::string::npos, table.find("      4  (total)\n")) << table;
}

using Json = nlohmann::json;

struct JsonCase {
  std::string bytes;
  Json text;  // a UTF-8 string, or null for bytes that are not text
  std::string hex;
};

TEST(MonitorTest, JsonLinesParseForAnyBytes) {
  const std::vector<JsonCase> cases = {
      {"GetNextVideo begin", "GetNextVideo begin",
       "4765744e657874566964656f20626567696e"},
      {"say \"hi\" \\ now\t", "say \"hi\" \\ now\t",
       "7361792022686922205c206e6f7709"},
      {kSongGbk, kSongUtf8, "b8e8c7fa"},
      {"\xff\x01", nullptr, "ff01"},
      {"", "", ""},
  };
  Monitor monitor({"--json", "--count"});
  ASSERT_NE(0, monitor.port());
  for (const JsonCase& c : cases) Send(c.bytes);
  std::vector<std::string> lines = monitor.Lines(cases.size());
  ASSERT_EQ(cases.size(), lines.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    const Json line = Json::parse(lines[i], nullptr, false);
    ASSERT_FALSE(line.is_discarded());
    EXPECT_TRUE(
        HasShape(line.value("time", ""), "####-##-##T##:##:##.###~##:##"));
    EXPECT_NE(0, LoopbackPort(line.value("sender", "")));
    EXPECT_EQ(Json({{"size", cases[i].bytes.size()},
                    {"text", cases[i].text},
                    {"hex", cases[i].hex}}),
              Json({{"size", line["size"]},
                    {"text", line["text"]},
                    {"hex", line["hex"]}}));
  }
  std::string rest;
  EXPECT_EQ(0, monitor.Finish(SIGINT, &rest));
  const Json counts = Json::parse(rest, nullptr, false);
  ASSERT_FALSE(counts.is_discarded()) << rest;
  EXPECT_EQ(5, counts["total"]);
  ASSERT_EQ(5u, counts["counts"].size());
  EXPECT_EQ(1, counts["counts"][0]["count"]);
}

TEST(MonitorTest, HoldsOnlyItsReceivingSocket) {
  Monitor monitor({"--count"});
  ASSERT_NE(0, monitor.port());
  Send("GetNextVideo begin");
  ASSERT_EQ(1u, monitor.Lines(1).size());
  const std::string fds = "/proc/" + std::to_string(monitor.pid()) + "/fd";
  DIR* dir = opendir(fds.c_str());
  ASSERT_NE(nullptr, dir);
  int sockets = 0;
  while (dirent* entry = readdir(dir)) {
    char target[256] = {};
    std::string path = fds + "/" + entry->d_name;
    if (readlink(path.c_str(), target, sizeof(target) - 1) > 0 &&
        std::string(target).rfind("socket:", 0) == 0)
      ++sockets;
  }
  closedir(dir);
  EXPECT_EQ(1, sockets);
}

// Runs the monitor with `args` (no --listen added) to its end; returns its exit
// status and its standard output and error together in *output.
int RunToEnd(const std::string& args, std::string* output) {
  return rondel::testing::RunCommand(
      std::string(RONDEL_MONITOR_PATH) + " " + args + " 2>&1", output);
}

TEST(MonitorTest, UsageErrorsExitTwoAndNameTheProblem) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--listen 127.0.0.1", "--listen takes ADDR:PORT"},
      {"--listen 127.0.0.1:65536", "--listen takes ADDR:PORT"},
      {"--listen localhost:6001", "--listen takes ADDR:PORT"},
      {"--grep '('", "--grep ("},
      {"--for 0", "--for takes"},
      {"--for soon", "--for takes"},
      {"--frobnicate", "unknown argument --frobnicate"},
  };
  for (const auto& c : cases) {
    std::string output;
    EXPECT_EQ(2, RunToEnd(c.first, &output)) << c.first;
    EXPECT_NE(std::string::npos, output.find(c.second)) << output;
  }
  std::string help;
  EXPECT_EQ(0, RunToEnd("--help", &help));
  for (const char* option : {"--listen ADDR:PORT", "--grep PATTERN", "--raw",
                             "--json", "--count", "--for SECONDS"})
    EXPECT_NE(std::string::npos, help.find(option)) << option;
}

TEST(MonitorTest, PortInUseExitsOne) {
  Monitor first({});
  ASSERT_NE(0, first.port());
  std::string output;
  EXPECT_EQ(1, RunToEnd("--listen 127.0.0.1:" + std::to_string(first.port()),
                        &output));
  EXPECT_NE(std::string::npos, output.find("cannot listen on 127.0.0.1:"))
      << output;
}

}  // namespace
}  // namespace tools
}  // namespace rondel
