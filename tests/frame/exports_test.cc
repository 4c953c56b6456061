// The exported lifecycle and diagnostic functions, called through librondel.so
// as the host calls them; and the export list's decorated names and the module
// definition the build writes from it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "exports/export_list.h"
#include "rondel.h"
#include "udp_receiver.h"

namespace {

using rondel::testing::UdpReceiver;

// The MSVC code of each type the interface uses, on 32-bit Windows.
template <typename T>
struct MsvcCode;
template <>
struct MsvcCode<void> {
  static constexpr const char* kCode = "X";
};
template <>
struct MsvcCode<bool> {
  static constexpr const char* kCode = "_N";
};
template <>
struct MsvcCode<int> {
  static constexpr const char* kCode = "H";
};
template <>
struct MsvcCode<int*> {
  static constexpr const char* kCode = "PAH";
};
template <>
struct MsvcCode<char*> {
  static constexpr const char* kCode = "PAD";
};
template <>
struct MsvcCode<const char*> {
  static constexpr const char* kCode = "PBD";
};
template <>
struct MsvcCode<char**> {
  static constexpr const char* kCode = "PAPAD";
};

// The decorated name MSVC gives a __cdecl free function of this type: a
// parameter type of more than one letter met again is written as the digit of
// its first appearance.
template <typename Result, typename... Parameters>
std::string Decorate(const char* name, Result (*)(Parameters...)) {
  const std::vector<std::string> codes = {MsvcCode<Parameters>::kCode...};
  std::vector<std::string> remembered;
  std::string parameters;
  for (const std::string& code : codes) {
    auto seen = std::find(remembered.begin(), remembered.end(), code);
    if (seen != remembered.end()) {
      parameters += static_cast<char>('0' + (seen - remembered.begin()));
      continue;
    }
    parameters += code;
    if (code.size() > 1 && remembered.size() < 10) remembered.push_back(code);
  }
  return std::string("?") + name + "@@YA" + MsvcCode<Result>::kCode +
         (codes.empty() ? "XZ" : parameters + "@Z");
}

TEST(ExportList, DecoratedNamesAreTheMsvcDecorationsOfTheSignatures) {
#define RONDEL_EXPECT_DECORATION(name, result, parameters, itanium, msvc) \
  EXPECT_EQ(msvc, Decorate(#name, static_cast<result(*) parameters>(nullptr)));
  RONDEL_EXPORTS(RONDEL_EXPECT_DECORATION)
#undef RONDEL_EXPECT_DECORATION
}

TEST(ExportList, ModuleDefinitionBindsEachDecoratedNameToItsSymbol) {
  std::string expected =
      "; Written from export_list.h by write_export_files.cmake.\nEXPORTS\n";
#define RONDEL_DEFINITION_LINE(name, result, parameters, itanium, msvc) \
  expected += std::string("  \"") + msvc + "\" = " + itanium + "\n";
  RONDEL_EXPORTS(RONDEL_DEFINITION_LINE)
#undef RONDEL_DEFINITION_LINE
  std::ifstream file(RONDEL_MODULE_DEFINITION);
  std::stringstream written;
  written << file.rdbuf();
  EXPECT_EQ(expected, written.str());
}

TEST(KvDebugDbExport, SendsTextBytesAsOneDatagramAndNothingForNull) {
  UdpReceiver receiver;
  setenv("RONDEL_DIAG_TARGET", receiver.target().c_str(), 1);

  char thirty[] = "GetNextVideo begin 0123456789x";
  ASSERT_EQ(30u, sizeof thirty - 1);
  KvDebugDb(thirty);
  std::string payload;
  ASSERT_TRUE(receiver.Receive(&payload));
  EXPECT_EQ(std::string(thirty), payload);  // 30 bytes, no terminator

  char empty[] = "";
  KvDebugDb(empty);
  ASSERT_TRUE(receiver.Receive(&payload));
  EXPECT_EQ(0u, payload.size());

  // Null sends nothing: the next datagram to arrive is the marker sent after
  // it.
  KvDebugDb(nullptr);
  char marker[] = "after null";
  KvDebugDb(marker);
  ASSERT_TRUE(receiver.Receive(&payload));
  EXPECT_EQ("after null", payload);
}

TEST(KvDebugDbExport, GbkBytesPassUnchanged) {
  UdpReceiver receiver;
  setenv("RONDEL_DIAG_TARGET", receiver.target().c_str(), 1);
  char text[] = "\xD6\xDC\xBD\xDC\xC2\xD7";
  KvDebugDb(text);
  std::string payload;
  ASSERT_TRUE(receiver.Receive(&payload));
  EXPECT_EQ(std::string(text), payload);
}

TEST(LifecycleExports, ExitWithoutStartAndTwiceIsHarmless) {
  ExitDatabase();
  ExitDatabase();
  // Still usable afterwards: the settings re-reader answers true whatever the
  // path.
  EXPECT_TRUE(LoadDBOptions(nullptr));
  EXPECT_TRUE(LoadDBOptions("/nonexistent/Korvane.ini"));
}

}  // namespace
