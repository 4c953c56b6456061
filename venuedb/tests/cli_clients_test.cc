// FreeTDS's own command-line clients, tsql and bsqldb, against a fresh server:
// they log in, count the media and run a procedure, and print the right
// answers.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "venue_server.h"

namespace {

using rondel::testing::VenueServer;

// Runs a shell command and returns what it printed on stdout (and stderr unless
// the command sends it elsewhere).
std::string RunShell(const std::string& command) {
  std::string out;
  bool own_stderr = command.find(" 2>") != std::string::npos;
  FILE* pipe = popen((own_stderr ? command : command + " 2>&1").c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

class CliClientsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(server_.port(), 0);
    server_.Exec(
        "CREATE TABLE things(id INTEGER PRIMARY KEY, label TEXT);"
        "INSERT INTO things(label) VALUES('alpha'), ('beta'), ('gamma');"
        "INSERT OR REPLACE INTO vdb_procedures VALUES('vt_label', '@id int = "
        "1',"
        " 'SELECT label FROM things WHERE id = @id; SELECT 3 AS "
        "\"@@return\";');");
    // Three media in the venue table, so that the count is not a default.
    server_.Exec(
        "INSERT INTO medias(media_id, media_name, media_code) VALUES"
        " (1, 'a', 'c1'), (2, 'b', 'c2'), (3, 'c', 'c3');");
    input_ = server_.folder() + "/input.sql";
  }

  void WriteInput(const std::string& text) { std::ofstream(input_) << text; }

  VenueServer server_;
  std::string input_;
};

TEST_F(CliClientsTest, TsqlCountsMediaAndRunsProcedure) {
  WriteInput(
      "use karaok\ngo\nselect count(*) from medias\ngo\nexec vt_label @id = "
      "2\ngo\n");
  std::string out =
      RunShell("TDSVER=7.4 tsql -H 127.0.0.1 -p " +
               std::to_string(server_.port()) + " -U sa -P '' < " + input_);
  EXPECT_NE(out.find("\n3\n"), std::string::npos) << out;
  EXPECT_NE(out.find("beta"), std::string::npos) << out;
  EXPECT_EQ(out.find("alpha"), std::string::npos) << out;
  EXPECT_NE(out.find("(return status = 3)"), std::string::npos) << out;
  EXPECT_EQ(out.find("Msg "), std::string::npos) << out;
}

TEST_F(CliClientsTest, TsqlShowsServerErrors) {
  WriteInput(
      "select * from no_such_table\ngo\nexec sp_nosuch\nselect 'after' || "
      "'wards'\ngo\n");
  std::string out =
      RunShell("TDSVER=7.4 tsql -H 127.0.0.1 -p " +
               std::to_string(server_.port()) + " -U sa -P '' < " + input_);
  EXPECT_NE(out.find("Msg 208"), std::string::npos) << out;
  EXPECT_NE(out.find("Msg 2812"), std::string::npos) << out;
  EXPECT_NE(out.find("Could not find stored procedure 'sp_nosuch'."),
            std::string::npos)
      << out;
  // The statement after the failed call still ran.
  EXPECT_NE(out.find("afterwards"), std::string::npos) << out;
}

TEST_F(CliClientsTest, BsqldbCountsMediaAndRunsProcedure) {
  WriteInput(
      "select count(*) as n from medias\ngo\nexec vt_label @id = 3\ngo\n");
  std::string out = RunShell(
      "TDSVER=7.4 bsqldb -S 127.0.0.1:" + std::to_string(server_.port()) +
      " -U sa -P '' -D karaok -i " + input_ + " 2>" + server_.folder() +
      "/bsqldb.err");
  // bsqldb writes the rows on stdout, each value padded to its column's width,
  // and the headers, counts and return status on stderr.
  EXPECT_EQ(out.substr(0, 12), "          3\n") << out.substr(0, 100);
  EXPECT_NE(out.find("gamma"), std::string::npos);
  EXPECT_EQ(out.find("alpha"), std::string::npos);
  std::ifstream err_file(server_.folder() + "/bsqldb.err");
  std::string err((std::istreambuf_iterator<char>(err_file)),
                  std::istreambuf_iterator<char>());
  EXPECT_NE(err.find("Procedure returned 3"), std::string::npos)
      << err.substr(0, 300);
  EXPECT_EQ(server_.Query(
                "SELECT count(*) FROM vdb_journal WHERE kind='login' AND ok=1"),
            (std::vector<rondel::testing::Row>{{"1"}}));
}

}  // namespace
