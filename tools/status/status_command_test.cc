// `rondel status` as a program (Linux): what a venue with every file kept and
// the database up looks like before and after a run, the JSON beside the
// text, and its usage errors.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "catalogue/snapshot_store.h"
#include "command.h"
#include "records/outbox_format.h"
#include "scratch_dir.h"
#include "snapshot_files.h"
#include "test_system.h"
#include "venue_server.h"

namespace rondel {
namespace tools {
namespace {

using testing::ScratchDir;
using testing::VenueServer;

std::string Play(int32_t media_id, const std::string& begin) {
  std::string entry;
  outbox::EncodePlay({media_id, 2, "10.0.0.21", begin, "2026-02-01 21:09:00"},
                     &entry);
  return entry;
}

class StatusCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(venue_.port(), 0);
    testing::SetEnv("RONDEL_SNAPSHOT_DIR", scratch_.File("VideoServertable/"));
    testing::FillCatalogue(5);
    SnapshotStore store;
    ASSERT_TRUE(store.SaveAllTables());
    std::ofstream(scratch_.File("VideoServertable/PlayRecords.outbox"))
        << std::string(outbox::kMagic, outbox::kMagicSize)
        << Play(1101, "2026-02-01 21:01:00");
    std::ofstream(scratch_.File("rondel.log"))
        << "2026-12-08 05:08:46.169 login database server \"x\" error\n";
    settings_ = venue_.WriteSettingsFile("10.9.9.9");
    options_ = " --settings " + settings_ + " --snapshot-dir " +
               scratch_.File("VideoServertable") + " --log " +
               scratch_.File("rondel.log");
  }
  // Runs `rondel status` in the scratch directory; its standard output.
  int Status(const std::string& arguments, std::string* output) {
    return testing::RunCommand("cd " + scratch_.path() + " && " +
                                   RONDEL_HOST_PATH " status " + arguments,
                               output);
  }
  // Every file of the venue (the scratch directory, the settings file) with
  // its size and last change, to the nanosecond.
  std::string Listing() {
    std::string listing;
    testing::RunCommand("find " + scratch_.path() + " " + settings_ +
                            " -printf '%p %s %T@ %C@\\n' | sort",
                        &listing);
    return listing;
  }

  ScratchDir scratch_;
  VenueServer venue_;
  std::string settings_;
  std::string options_;
};

TEST_F(StatusCommandTest, WritesNothing) {
  const std::string before = Listing();
  ASSERT_NE(std::string::npos, before.find("PlayRecords.outbox"));
  std::string output;
  EXPECT_EQ(0, Status(options_ + " >/dev/null", &output));
  EXPECT_EQ(0, Status(options_ + " --json >/dev/null", &output));
  EXPECT_EQ(before, Listing());
}

TEST_F(StatusCommandTest, JsonCarriesTheTextsModel) {
  std::string text, json_text;
  ASSERT_EQ(0, Status(options_, &text));
  ASSERT_EQ(0, Status(options_ + " --json", &json_text));
  const nlohmann::json json = nlohmann::json::parse(json_text);
  std::string keys;
  for (const auto& [section, value] : json.items()) {
    keys += section + (value.is_object() ? ":" : "") + " ";
    if (value.is_object()) {
      for (const auto& member : value.items()) keys += member.key() + " ";
    }
  }
  EXPECT_EQ(
      "database: connect_error database logged_in login_ms reachable "
      "server_messages target user exit_status fire_alarm: answers default "
      "page rooms written gathered log: exists file from last_change problems "
      "size plays: damaged_bytes damaged_bytes_kept_aside kept newest oldest "
      "outbox outbox_error set_aside set_aside_file settings: error file from "
      "readable values warnings snapshots: directory exists from loads "
      "records replacement_pending verify verify_findings writable written "
      "summary verdict ",
      keys);
  EXPECT_EQ(text.substr(0, text.find('\n')), json["summary"]);
  EXPECT_EQ("database", json["verdict"]);
  EXPECT_EQ(1, json["plays"]["kept"]);
  EXPECT_EQ(1, json["log"]["problems"][0]["count"]);
}

TEST_F(StatusCommandTest, UsageErrorsNameTheArgument) {
  std::string output;
  EXPECT_EQ(3, Status("--snapshot-dir 2>&1", &output));
  EXPECT_EQ(
      "rondel status: --snapshot-dir needs a path\n"
      "(rondel status --help shows the usage)\n",
      output);
  EXPECT_EQ(3, Status("--verbose 2>&1", &output));
  EXPECT_EQ(
      "rondel status: unknown option --verbose\n"
      "(rondel status --help shows the usage)\n",
      output);
  EXPECT_EQ(0, Status("--help 2>/dev/null", &output));
  EXPECT_EQ(0u, output.find("usage: rondel status"));
}

}  // namespace
}  // namespace tools
}  // namespace rondel
