// The console as a person sees it, in headless Chromium: venuedb, the host
// command on the library and the console on loopback; the venue driven
// through its states (the database up; stopped, with plays kept; back, with
// them delivered), and in each the page's banner (text and colour), the kept
// plays' count, and a datagram appearing without a reload. A screenshot per
// state lands in the build tree (console-screenshots/STATE.png).
//
// console_browser.py drives Chromium over its DevTools protocol; when Chromium
// cannot run here the test is skipped and says why.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "command.h"
#include "console_process.h"
#include "scratch_dir.h"
#include "test_system.h"
#include "venue_server.h"

namespace rondel {
namespace tools {
namespace {

using nlohmann::json;
using testing::RunCommand;
using testing::ScratchDir;
using testing::VenueServer;

// What the page shows in one state.
struct Seen {
  std::string verdict_class;
  std::string verdict_start;  // the banner's text begins so
  std::string colour;         // the banner's computed background
  std::string kept;
};

class ConsoleBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* chromium = std::getenv("RONDEL_CHROMIUM");
    chromium_ = chromium != nullptr ? chromium : "/usr/bin/chromium";
    if (access(chromium_.c_str(), X_OK) != 0) {
      GTEST_SKIP() << "no Chromium at " << chromium_
                   << " (scripts/setup installs it; RONDEL_CHROMIUM names "
                      "another)";
    }
    if (access("/usr/bin/python3", X_OK) != 0) {
      GTEST_SKIP() << "no /usr/bin/python3 to drive Chromium";
    }
    std::ofstream(scratch_.File("Korvane.ini"))
        << "[MainServer]\nDataBaseServerIp=127.0.0.1\nDataBaseServerPort="
        << venue_.port() << "\nUserName=sa\nPassWord=\nFileServerIP=127.0.0.1\n"
        << "[KTV]\nDataBaseName=karaok\n";
    testing::SetEnv("RONDEL_SETTINGS_FILE", scratch_.File("Korvane.ini"));
    testing::SetEnv("RONDEL_SNAPSHOT_DIR", scratch_.File("VideoServertable"));
    testing::SetEnv("RONDEL_LOG_FILE", scratch_.File("rondel.log"));
    mkdir(RONDEL_SCREENSHOT_DIR, 0755);
  }

  // The host command with `arguments`, its output for a failure's message.
  void Host(const std::string& arguments) {
    std::string output;
    const int status =
        RunCommand(RONDEL_HOST_PATH " " + arguments + " 2>&1", &output);
    EXPECT_NE(-1, status) << arguments << "\n" << output;
  }

  // Loads the page until its banner shows `seen.verdict_class`, and compares
  // what it shows; with `datagram`, sends it and expects it listed without a
  // reload.
  void Look(const ConsoleProcess& console, const std::string& state,
            const Seen& expected, const std::string& datagram = "") {
    std::string command =
        "/usr/bin/python3 " RONDEL_BROWSER_DRIVER " '" + chromium_ +
        "' http://127.0.0.1:" + std::to_string(console.port()) + "/ " +
        expected.verdict_class + " " RONDEL_SCREENSHOT_DIR "/" + state + ".png";
    if (!datagram.empty()) {
      command +=
          " " + std::to_string(console.diag_port()) + " '" + datagram + "'";
    }
    std::string output;
    const int status = RunCommand(command, &output);
    if (status == 77) GTEST_SKIP() << "Chromium cannot run here: " << output;
    EXPECT_EQ(0, status) << state << ": " << output;
    const json page = json::parse(output, nullptr, false);
    ASSERT_TRUE(page.is_object()) << state << ": " << output;
    const std::string verdict = page.value("verdict", "");
    EXPECT_EQ(expected.verdict_start + "...",
              verdict.substr(0, expected.verdict_start.size()) + "...")
        << state;
    json want = {{"class", expected.verdict_class},
                 {"colour", expected.colour},
                 {"kept", expected.kept}};
    json got = {{"class", page["class"]},
                {"colour", page["colour"]},
                {"kept", page["kept"]}};
    if (!datagram.empty()) {
      want["datagram_seen"] = true;
      want["reloaded"] = false;
      got["datagram_seen"] = page["datagram_seen"];
      got["reloaded"] = page["reloaded"];
    }
    EXPECT_EQ(want, got) << state;
  }

  std::string chromium_;
  ScratchDir scratch_;
  VenueServer venue_{{"--medias", "20", "--rooms", "4"}};
};

TEST_F(ConsoleBrowserTest, PageShowsEachStateOfTheVenue) {
  const std::string media =
      venue_.Query("SELECT min(media_id) FROM media_files")[0][0].value_or("1");
  const std::string room =
      venue_.Query("SELECT min(room_address) FROM rooms")[0][0].value_or(
          "10.0.0.1");
  ConsoleProcess console({});
  testing::SetEnv("RONDEL_DIAG_TARGET",
                  "127.0.0.1:" + std::to_string(console.diag_port()));

  Host("start");
  Look(console, "database",
       {"database", "serving from the database", "rgb(30, 123, 52)", "0"},
       "looking at the console");
  if (IsSkipped()) return;

  const int port = venue_.port();
  venue_.Stop();
  for (const char* begin : {"2026-02-01 21:01:00", "2026-02-01 21:02:00"}) {
    Host("playtime " + media + " " + room + " '" + begin +
         "' '2026-02-01 21:09:00' 2");
  }
  Look(console, "offline",
       {"offline",
        "the database is unreachable (127.0.0.1:" + std::to_string(port) +
            ": Connection refused), an offline start would serve the "
            "snapshot set written at",
        "rgb(180, 95, 6)", "2"});

  venue_.Start(port);
  Host("playtime " + media + " " + room +
       " '2026-02-01 21:10:00' '2026-02-01 21:13:00' 2");
  Look(console, "back",
       {"database", "serving from the database", "rgb(30, 123, 52)", "0"});
  EXPECT_EQ(
      "3",
      venue_.Query("SELECT count(*) FROM play_records")[0][0].value_or(""));
}

}  // namespace
}  // namespace tools
}  // namespace rondel
