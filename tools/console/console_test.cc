// The console's endpoints through a plain HTTP client, against a real venuedb:
// the page, /status.json beside `rondel status --json`, /live.json with the
// datagrams as the monitor shows them; the status gathered once for many
// pages; the command line.
#include <httplib.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "cached_status.h"
#include "command.h"
#include "console_process.h"
#include "scratch_dir.h"
#include "venue_server.h"

namespace rondel {
namespace tools {
namespace {

using nlohmann::json;
using testing::RunCommand;
using testing::ScratchDir;
using testing::VenueServer;

// The report with the lines that change from one gathering to the next (when,
// and how long the login took) left out.
std::string WithoutTimes(const std::string& report) {
  std::string kept;
  size_t begin = 0;
  for (size_t end; (end = report.find('\n', begin)) != std::string::npos;
       begin = end + 1) {
    const std::string line = report.substr(begin, end + 1 - begin);
    if (line.find("\"gathered\":") == std::string::npos &&
        line.find("\"login_ms\":") == std::string::npos) {
      kept += line;
    }
  }
  return kept;
}

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() {
    std::ofstream(scratch_.File("Korvane.ini"))
        << "[MainServer]\nDataBaseServerIp=127.0.0.1\nDataBaseServerPort="
        << venue_.port() << "\nUserName=sa\nPassWord=\nFileServerIP=10.9.9.9\n"
        << "[KTV]\nDataBaseName=karaok\n";
  }
  std::vector<std::string> Sources() const {
    return {"--settings",     scratch_.File("Korvane.ini"),
            "--snapshot-dir", scratch_.File("set"),
            "--log",          scratch_.File("rondel.log")};
  }

  ScratchDir scratch_;
  VenueServer venue_;
};

TEST_F(ConsoleTest, ServesThePageAndTheStatusAsRondelStatusPrintsIt) {
  ConsoleProcess console(Sources());
  httplib::Client client("127.0.0.1", console.port());
  const auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(200, page->status);
  EXPECT_EQ("text/html; charset=utf-8", page->get_header_value("Content-Type"));
  // Everything is in the page: no script, style or image fetched from
  // anywhere.
  for (const char* fetch : {"src=", "href=", "url(", "@import"}) {
    EXPECT_EQ(std::string::npos, page->body.find(fetch)) << fetch;
  }

  std::string command = RONDEL_HOST_PATH " status --json";
  for (const std::string& option : Sources()) command += " '" + option + "'";
  std::string expected;
  EXPECT_EQ(0, RunCommand(command, &expected));
  const auto status = client.Get("/status.json");
  ASSERT_TRUE(status);
  EXPECT_EQ("application/json", status->get_header_value("Content-Type"));
  EXPECT_EQ(WithoutTimes(expected), WithoutTimes(status->body));
}

TEST_F(ConsoleTest, LiveDatagramsShowTextsAsTheMonitorDoes) {
  ConsoleProcess console(Sources());
  for (const char* text :
       {"\xb8\xe8\xc7\xfa", "get ad media error", "bad \xff\x01 bytes"}) {
    console.Send(text);
  }
  httplib::Client client("127.0.0.1", console.port());
  json live = json::object();
  for (int i = 0; i < 300 && live.value("next", 0) < 3; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto answer = client.Get("/live.json?after=0");
    ASSERT_TRUE(answer);
    live = json::parse(answer->body);
  }
  json shown = json::array();
  for (const json& d : live["datagrams"]) {
    shown.push_back({d["seq"], d["text"], d["failure"]});
  }
  EXPECT_EQ(json::parse(R"([[1, "歌曲", false], [2, "get ad media error", true],
                            [3, "bad \\xff\\x01 bytes", false]])"),
            shown);
  int64_t datagrams = 0, failures = 0;
  for (const json& minute : live["minutes"]) {
    datagrams += minute["datagrams"].get<int64_t>();
    failures += minute["failures"].get<int64_t>();
  }
  EXPECT_EQ(60u, live["minutes"].size());
  EXPECT_EQ(std::make_pair(int64_t{3}, int64_t{1}),
            std::make_pair(datagrams, failures));
  // The database answered: the verdict holds since the console's first look.
  EXPECT_FALSE(live["since_change"]);
  EXPECT_TRUE(live["last_success"].is_string()) << live["last_success"];

  const auto later = client.Get("/live.json?after=2");
  ASSERT_TRUE(later);
  EXPECT_EQ(json::array({3}),
            json::array({json::parse(later->body)["datagrams"][0]["seq"]}));
}

TEST_F(ConsoleTest, ManyPagesAskingAtOnceShareOneGathering) {
  StatusSources sources;
  sources.settings_file = scratch_.File("Korvane.ini");
  sources.snapshot_dir = scratch_.File("set/");
  sources.log_file = scratch_.File("rondel.log");
  CachedStatus cache(sources, 3600);
  std::vector<std::shared_ptr<const CachedStatus::Snapshot>> seen(8);
  std::vector<std::thread> pages;
  for (auto& snapshot : seen) {
    pages.emplace_back([&cache, &snapshot] { snapshot = cache.Get(); });
  }
  for (std::thread& page : pages) page.join();
  EXPECT_EQ(1, cache.gatherings());
  for (const auto& snapshot : seen) EXPECT_EQ(seen[0], snapshot);
}

struct CommandCase {
  const char* arguments;
  int exit_status;
  const char* says;  // in its standard output and error
};

void PrintTo(const CommandCase& c, std::ostream* out) { *out << c.arguments; }

class ConsoleCommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(ConsoleCommandTest, AnswersAsDocumented) {
  std::string output;
  EXPECT_EQ(GetParam().exit_status,
            RunCommand(std::string(RONDEL_CONSOLE_PATH " ") +
                           GetParam().arguments + " 2>&1",
                       &output));
  EXPECT_NE(std::string::npos, output.find(GetParam().says)) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConsoleCommandTest,
    ::testing::Values(
        CommandCase{"--help", 0,
                    "Any address but loopback shows the venue's state"},
        CommandCase{"--version", 0, "rondel-console " RONDEL_VERSION "\n"},
        CommandCase{"--listen 127.0.0.1", 2,
                    "--listen takes ADDR:PORT (IPv4, port 0-65535), not "
                    "127.0.0.1\n"},
        CommandCase{"--diag-listen 127.0.0.1:70000", 2,
                    "--diag-listen takes ADDR:PORT"},
        CommandCase{"--settings", 2, "--settings needs a path\n"},
        CommandCase{"--refresh 5", 2, "unknown option --refresh\n"}));

}  // namespace
}  // namespace tools
}  // namespace rondel
