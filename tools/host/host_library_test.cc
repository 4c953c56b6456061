#include "host_library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "command.h"

namespace rondel {
namespace tools {
namespace {

// Runs a shell command; gives its exit status and its standard output.
// The command's exit status and its standard output.
int RunCommand(const std::string& command, std::string* output) {
  return rondel::testing::RunCommand(command + " 2>/dev/null", output);
}

TEST(HostLibraryTest, EveryMangledNameIsExportedByTheBuiltLibrary) {
  void* handle = dlopen(RONDEL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, handle) << dlerror();
  for (const char* name : kAllSymbols) {
    EXPECT_NE(nullptr, dlsym(handle, name)) << name;
  }
  dlclose(handle);

  std::string error;
  std::unique_ptr<HostLibrary> library =
      HostLibrary::Open(RONDEL_LIBRARY_PATH, &error);
  ASSERT_TRUE(library) << error;
  EXPECT_NE(nullptr, library->InitialDatabase);
  EXPECT_NE(nullptr, library->GetSongTotal);
}

TEST(HostLibraryTest, MissingLibraryOrExportIsRefusedWithItsName) {
  std::string error;
  EXPECT_FALSE(HostLibrary::Open("/nonexistent/librondel.so", &error));
  EXPECT_NE(std::string::npos, error.find("/nonexistent/librondel.so"))
      << error;

  EXPECT_FALSE(HostLibrary::Open(RONDEL_PARTIAL_LIBRARY_PATH, &error));
  EXPECT_NE(std::string::npos, error.find(kLoadDBOptionsSymbol)) << error;
}

TEST(HostCommandTest, ExitStatusTellsUsageErrorsAndUnloadableLibraries) {
  const std::string host = RONDEL_HOST_PATH;
  std::string output;
  EXPECT_EQ(0, RunCommand(host + " --help", &output));
  EXPECT_NE(std::string::npos, output.find("songtotal N")) << output;
  EXPECT_EQ(2, RunCommand(host, &output));
  EXPECT_EQ(2, RunCommand(host + " frobnicate", &output));
  EXPECT_EQ(2, RunCommand(host + " media 12x", &output));
  EXPECT_EQ(2, RunCommand(host + " start --probe-ids 9-1", &output));
  EXPECT_EQ(2, RunCommand(host + " room", &output));
  // Checked before the library is loaded, so these never start it.
  EXPECT_EQ(
      3, RunCommand(host + " --library /nonexistent/librondel.so room 1.2.3.4",
                    &output));
  EXPECT_EQ(3, RunCommand(host + " --library " RONDEL_PARTIAL_LIBRARY_PATH
                                 " room 1.2.3.4",
                          &output));
  EXPECT_EQ("", output);
  for (const char* wrong : {" next",
                            " play",
                            " play 1.2.3.4 -n 0",
                            " play 1.2.3.4 -n",
                            " play 1.2.3.4 5.6.7.8",
                            " firealarm",
                            " firepage 1.2.3.4",
                            " playtime 1 1.2.3.4 a b",
                            " addlog 1.2.3.4",
                            " addlog 1.2.3.4 x",
                            " modifylog 1 a b",
                            " authorize 1.2.3.4 99999999999",
                            " dataserver 1",
                            " group",
                            " conn",
                            " conn frob 1",
                            " conn add 1 2 3 4",
                            " conn get 1 2 3",
                            " conn delete",
                            " groupstate 1"}) {
    EXPECT_EQ(2, RunCommand(host + wrong, &output)) << wrong;
  }
}

// A library from before the playback and records exports still answers the
// other actions; an action calling one names the export it lacks and never
// starts the library.
TEST(HostCommandTest, ActionNamesTheExportTheLibraryLacks) {
  const std::string host =
      std::string(RONDEL_HOST_PATH) + " --library " RONDEL_CORE_LIBRARY_PATH;
  std::string output;
  EXPECT_EQ(3, RunCommand("(" + host + " next 1.2.3.4 2>&1)", &output));
  EXPECT_EQ(std::string("rondel: ") + RONDEL_CORE_LIBRARY_PATH +
                " does not export GetNextVideo (symbol " + kGetNextVideoSymbol +
                "), which next calls\n",
            output);
  EXPECT_EQ(3, RunCommand(host + " play 1.2.3.4", &output));
  EXPECT_EQ(3, RunCommand(host + " firealarm 1.2.3.4", &output));
  EXPECT_EQ(3, RunCommand(host + " firepage", &output));
  EXPECT_EQ(3,
            RunCommand("(" + host + " conn modify 1 2 3 4 a 2>&1)", &output));
  EXPECT_EQ(std::string("rondel: ") + RONDEL_CORE_LIBRARY_PATH +
                " does not export ModifyVideoServerConnectNum (symbol " +
                kModifyVideoServerConnectNumSymbol +
                "), which conn modify calls\n",
            output);
  EXPECT_EQ(3, RunCommand(host + " playtime 1 1.2.3.4 a b 0", &output));
  EXPECT_EQ(3, RunCommand(host + " dataserver", &output));
  EXPECT_EQ(1, RunCommand(host + " room 1.2.3.4", &output));
  EXPECT_EQ("InitialDatabase: done\nroom 1.2.3.4: not found\n", output);
}

}  // namespace
}  // namespace tools
}  // namespace rondel
