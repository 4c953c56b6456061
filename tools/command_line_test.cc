// Every program's command line as a technician meets it: --help on standard
// output, --version with the project's version, and a usage error that names
// the argument and what is wrong with it, then the usage line, on standard
// error with exit status 2. Then the host command's lines on standard error
// saying which files a run uses.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "command.h"
#include "scratch_dir.h"

namespace {

struct Invocation {
  const char* name;
  const char* program;
  const char* arguments;
  int status;
  const char* first_line;  // of standard output; $V is the project's version
  const char* error;       // standard error, whole
};

void PrintTo(const Invocation& invocation, std::ostream* os) {
  *os << invocation.name;
}

std::string WithVersion(std::string text) {
  const size_t at = text.find("$V");
  if (at != std::string::npos) text.replace(at, 2, RONDEL_VERSION);
  return text;
}

class CommandLineTest : public ::testing::TestWithParam<Invocation> {};

TEST_P(CommandLineTest, AnswersHelpVersionAndUsageErrors) {
  const Invocation& invocation = GetParam();
  rondel::testing::ScratchDir dir;
  const std::string command = std::string(invocation.program) + " " +
                              invocation.arguments + " 2>" + dir.File("error");
  std::string output, error;
  const int status = rondel::testing::RunCommand(command, &output);
  rondel::testing::RunCommand("cat " + dir.File("error"), &error);
  EXPECT_EQ(
      std::make_tuple(status, output.substr(0, output.find('\n')), error),
      std::make_tuple(invocation.status, WithVersion(invocation.first_line),
                      std::string(invocation.error)));
}

const Invocation kInvocations[] = {
    {"HostHelp", RONDEL_HOST_PATH, "--help", 0,
     "usage: rondel [--library PATH] ACTION [ARGUMENTS]", ""},
    {"HostVersion", RONDEL_HOST_PATH, "--version", 0, "rondel $V", ""},
    {"HostUnknownOption", RONDEL_HOST_PATH, "--frobnicate room 1.2.3.4", 2, "",
     "rondel: unknown option --frobnicate\n"
     "usage: rondel [--library PATH] ACTION [ARGUMENTS] (rondel --help lists "
     "the actions)\n"},
    {"MonitorHelp", RONDEL_MONITOR_PATH, "--help", 0,
     "Usage: rondel-monitor [options]", ""},
    {"MonitorVersion", RONDEL_MONITOR_PATH, "--version", 0, "rondel-monitor $V",
     ""},
    {"MonitorBadListen", RONDEL_MONITOR_PATH, "--listen 127.0.0.1", 2, "",
     "rondel-monitor: --listen takes ADDR:PORT (IPv4, port 0-65535)\n"
     "usage: rondel-monitor [--listen ADDR:PORT] [--grep PATTERN] [--raw] "
     "[--json] [--count] [--for SECONDS]\n"},
    {"VenueHelp", RONDEL_VENUE_PATH, "--help", 0,
     "usage: rondel-venue (--diag-target IP:PORT | --broadcast) "
     "[--settings FILE]",
     ""},
    {"VenueVersion", RONDEL_VENUE_PATH, "--version", 0, "rondel-venue $V", ""},
    {"VenueBadRooms", RONDEL_VENUE_PATH, "--rooms many", 2, "",
     "rondel-venue: --rooms \"many\": not a whole number; give 1 to 512\n"
     "usage: rondel-venue (--diag-target IP:PORT | --broadcast) [--settings "
     "FILE] [options]\n"},
    {"VenuedbHelp", VENUEDB_PATH, "--help", 0,
     "usage: venuedb [serve] --db FILE --listen HOST:PORT [-v] "
     "[--allow-remote] [limits]",
     ""},
    {"VenuedbVersion", VENUEDB_PATH, "--version", 0, "venuedb $V", ""},
    {"VenuedbUnknownCommand", VENUEDB_PATH, "start --db x", 2, "",
     "venuedb: \"start\": not a command (serve, init or seed)\n"
     "usage: venuedb [serve] --db FILE --listen HOST:PORT [options] | init "
     "--db FILE [--collation NAME] [--venue SHAPE] | seed --db FILE [options] "
     "| --help | --version\n"},
    {"VenuedbServeHelp", VENUEDB_PATH, "serve --help", 0,
     "usage: venuedb [serve] --db FILE --listen HOST:PORT [-v] "
     "[--allow-remote] [limits]",
     ""},
    {"VenuedbServeBadLimit", VENUEDB_PATH, "serve --db x --lock-timeout soon",
     2, "",
     "venuedb: --lock-timeout \"soon\": not a whole number in its range "
     "(venuedb --help)\n"
     "usage: venuedb [serve] --db FILE --listen HOST:PORT [options] | init "
     "--db FILE [--collation NAME] [--venue SHAPE] | seed --db FILE [options] "
     "| --help | --version\n"},
    {"VenuedbInitVersion", VENUEDB_PATH, "init --version", 0, "venuedb $V", ""},
    {"VenuedbInitUnknownOption", VENUEDB_PATH, "init --db x --force", 2, "",
     "venuedb: init: \"--force\": not an option of init\n"
     "usage: venuedb [serve] --db FILE --listen HOST:PORT [options] | init "
     "--db FILE [--collation NAME] [--venue SHAPE] | seed --db FILE [options] "
     "| --help | --version\n"},
    {"VenuedbSeedHelp", VENUEDB_PATH, "seed --help", 0,
     "usage: venuedb seed --db FILE [options] | --help | --version", ""},
    {"VenuedbSeedVersion", VENUEDB_PATH, "seed --version", 0, "venuedb $V", ""},
};

INSTANTIATE_TEST_SUITE_P(Programs, CommandLineTest,
                         ::testing::ValuesIn(kInvocations),
                         [](const ::testing::TestParamInfo<Invocation>& info) {
                           return std::string(info.param.name);
                         });

// A seed usage error: its first line names the option and its value; the
// option list follows.
TEST(CommandLineTest, SeedUsageErrorNamesTheOptionAndItsValue) {
  std::string error;
  const int status = rondel::testing::RunCommand(
      VENUEDB_PATH " seed --db x --medias lots 2>&1 >/dev/null", &error);
  EXPECT_EQ(std::make_tuple(status, error.substr(0, error.find('\n') + 1)),
            std::make_tuple(2, std::string("venuedb seed: --medias \"lots\": "
                                           "needs an integer from 0 to "
                                           "100000\n")));
}

// Before the library starts, the host command says on standard error which
// library it loaded and which settings file, snapshot directory and log the
// library will use.
TEST(CommandLineTest, HostNamesTheFilesItUses) {
  rondel::testing::ScratchDir dir;
  std::string error;
  rondel::testing::RunCommand(
      "cd " + dir.path() + " && env -u RONDEL_LOG_FILE RONDEL_SETTINGS_FILE=" +
          dir.File("venue.ini") +
          " RONDEL_SNAPSHOT_DIR=" + dir.File("snapshots") +
          " RONDEL_DIAG_TARGET=127.0.0.1:9 " RONDEL_HOST_PATH
          " --library " RONDEL_LIBRARY_PATH " songtotal 1 2>&1 >/dev/null",
      &error);
  size_t end = 0;
  for (int line = 0; line < 4 && end != std::string::npos; ++line) {
    end = error.find('\n', end == 0 ? 0 : end + 1);
  }
  EXPECT_EQ(error.substr(0, end == std::string::npos ? end : end + 1),
            "rondel: library " RONDEL_LIBRARY_PATH "\nrondel: settings " +
                dir.File("venue.ini") + "\nrondel: snapshot directory " +
                dir.File("snapshots") +
                "\nrondel: log rondel.log in the working directory\n");
}

}  // namespace
