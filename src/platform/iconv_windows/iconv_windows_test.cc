// The iconv for Windows, run as a Windows program (under wine on the build machine). Expected
// bytes are what glibc's iconv gives for the same names, so FreeTDS converts alike on both
// platforms; where a Windows code page and glibc differ, the test says so.
#include "iconv.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>

namespace {

// Everything a caller of iconv sees after one call.
struct Outcome {
  bool failed = false;  // returned (size_t)-1
  int error = 0;        // errno when failed
  size_t consumed = 0;  // how far *inbuf moved
  std::string output;   // what was written, where *outbuf moved to

  bool operator==(const Outcome& other) const {
    return failed == other.failed && error == other.error && consumed == other.consumed &&
           output == other.output;
  }
};

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

void PrintTo(const Outcome& outcome, std::ostream* os) {
  *os << (outcome.failed ? "failed errno " + std::to_string(outcome.error) : "converted")
      << ", consumed " << outcome.consumed << ", output [" << Hex(outcome.output) << "]";
}

Outcome Converted(size_t consumed, const std::string& output) {
  return Outcome{false, 0, consumed, output};
}
Outcome Stopped(int error, size_t consumed, const std::string& output) {
  return Outcome{true, error, consumed, output};
}

// One iconv call on `input` with `room` bytes of output; checks that the counts moved with
// the pointers and that nothing was written past what *outbuf says.
Outcome Convert(const char* to, const char* from, const std::string& input, size_t room = 64) {
  iconv_t cd = iconv_open(to, from);
  EXPECT_NE(cd, (iconv_t)-1) << from << " -> " << to;
  if (cd == (iconv_t)-1) return Outcome{true, -1, 0, ""};
  std::string in_copy = input;
  std::string out_space(room + 8, '\x5A');
  char* in = &in_copy[0];
  size_t in_left = in_copy.size();
  char* out = &out_space[0];
  size_t out_left = room;
  errno = 0;
  size_t result = iconv(cd, &in, &in_left, &out, &out_left);
  int error = errno;
  Outcome outcome;
  outcome.failed = result == (size_t)-1;
  outcome.error = outcome.failed ? error : 0;
  outcome.consumed = static_cast<size_t>(in - &in_copy[0]);
  size_t written = static_cast<size_t>(out - &out_space[0]);
  outcome.output = out_space.substr(0, written);
  EXPECT_EQ(in_left, input.size() - outcome.consumed);
  EXPECT_EQ(out_left, room - written);
  EXPECT_EQ(out_space.substr(written), std::string(room + 8 - written, '\x5A'))
      << "bytes written beyond *outbuf";
  if (!outcome.failed) {
    EXPECT_EQ(result, 0u) << "no conversion may be irreversible";
  }
  EXPECT_EQ(iconv_close(cd), 0);
  return outcome;
}

iconv_windows_side Side(const char* to, const char* from, bool want_to_side) {
  iconv_windows_side from_side{}, to_side{};
  iconv_t cd = iconv_open(to, from);
  EXPECT_NE(cd, (iconv_t)-1);
  if (cd != (iconv_t)-1) {
    EXPECT_EQ(iconv_windows_describe(cd, &from_side, &to_side), 0);
    iconv_close(cd);
  }
  return want_to_side ? to_side : from_side;
}

bool Gb18030IsNative() { return !Side("UTF-16LE", "GB18030", false).substituted; }

// 周杰伦: three characters of a venue's media name.
const std::string kGbkName("\xD6\xDC\xBD\xDC\xC2\xD7", 6);
const std::string kUtf16Name("\x68\x54\x70\x67\x26\x4F", 6);

TEST(IconvWindowsGbk, Utf16ToCp936GivesGbkBytes) {
  EXPECT_EQ(Convert("CP936", "UTF-16LE", kUtf16Name), Converted(6, kGbkName));
}

TEST(IconvWindowsGbk, Cp936ToUtf16ReadsGbkBytes) {
  EXPECT_EQ(Convert("UTF-16LE", "CP936", kGbkName), Converted(6, kUtf16Name));
}

TEST(IconvWindowsGbk, GbkAndGb18030NamesAgreeOnTwoByteCharacters) {
  EXPECT_EQ(Convert("GBK", "UCS-2LE", kUtf16Name), Converted(6, kGbkName));
  EXPECT_EQ(Convert("GB18030", "UTF-16LE", kUtf16Name), Converted(6, kGbkName));
  EXPECT_EQ(Convert("UTF-16LE", "GB18030", kGbkName), Converted(6, kUtf16Name));
  EXPECT_EQ(Convert("UTF-8", "GB18030", kGbkName),
            Converted(6, "\xE5\x91\xA8\xE6\x9D\xB0\xE4\xBC\xA6"));
}

TEST(IconvWindowsGbk, Cp936ByteEightyIsTheEuroAsInGlibc) {
  EXPECT_EQ(Convert("UTF-16LE", "CP936", "\x80"), Converted(1, "\xAC\x20"));
  EXPECT_EQ(Convert("CP936", "UTF-16LE", "\xAC\x20"), Converted(2, "\x80"));
}

// Every two-byte CP936 code the code page defines reads back to the same two bytes, so a
// name travels through UTF-16 unchanged.
TEST(IconvWindowsGbk, EveryTwoByteCp936CodeRoundTrips) {
  iconv_t to_utf16 = iconv_open("UTF-16LE", "CP936");
  iconv_t to_gbk = iconv_open("CP936", "UTF-16LE");
  ASSERT_NE(to_utf16, (iconv_t)-1);
  ASSERT_NE(to_gbk, (iconv_t)-1);
  int defined = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      char code[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      char wide[4];
      char back[4];
      char* in = code;
      size_t in_left = 2;
      char* out = wide;
      size_t out_left = sizeof wide;
      if (iconv(to_utf16, &in, &in_left, &out, &out_left) == (size_t)-1) {
        EXPECT_EQ(errno, EILSEQ);
        EXPECT_EQ(in, code);
        continue;
      }
      ++defined;
      in = wide;
      in_left = sizeof wide - out_left;
      out = back;
      out_left = sizeof back;
      ASSERT_EQ(iconv(to_gbk, &in, &in_left, &out, &out_left), 0u) << lead << " " << trail;
      ASSERT_EQ(sizeof back - out_left, 2u) << lead << " " << trail;
      EXPECT_EQ(std::memcmp(back, code, 2), 0) << lead << " " << trail;
    }
  }
  // GBK defines 21,886 two-byte codes; code page 936 at least the 21,003 ideographs.
  EXPECT_GT(defined, 21003);
  std::printf("CP936 two-byte codes defined here: %d\n", defined);
  iconv_close(to_utf16);
  iconv_close(to_gbk);
}

// U+0080 and U+20000, both four-byte sequences in GB18030.
const std::string kGb18030FourByte("\x81\x30\x81\x30\x95\x32\x82\x36", 8);
const std::string kUtf16FourByte("\x80\x00\x40\xD8\x00\xDC", 6);

TEST(IconvWindowsGb18030, DescribeNamesTheCodePageInUse) {
  iconv_windows_side side = Side("UTF-16LE", "GB18030", false);
  EXPECT_EQ(side.requested_code_page, 54936u);
  EXPECT_EQ(side.code_page, side.substituted ? 936u : 54936u);
  std::printf("GB18030 is served by code page %u%s\n", side.code_page,
              side.substituted ? " (54936 is not installed here)" : "");
  iconv_windows_side utf8 = Side("UTF-8", "CP936", true);
  EXPECT_EQ(utf8.code_page, 0u);
  EXPECT_EQ(utf8.substituted, 0);
}

TEST(IconvWindowsGb18030, FourByteSequencesConvertWhereCodePage54936Exists) {
  if (Gb18030IsNative()) {
    EXPECT_EQ(Convert("UTF-16LE", "GB18030", kGb18030FourByte), Converted(8, kUtf16FourByte));
    EXPECT_EQ(Convert("GB18030", "UTF-16LE", kUtf16FourByte), Converted(6, kGb18030FourByte));
  } else {
    // Under 936 a four-byte sequence is well formed but unknown, and the characters only
    // four-byte sequences encode cannot be written: EILSEQ with nothing moved past them.
    EXPECT_EQ(Convert("UTF-16LE", "GB18030", "A" + kGb18030FourByte),
              Stopped(EILSEQ, 1, std::string("A\0", 2)));
    EXPECT_EQ(Convert("GB18030", "UTF-16LE", std::string("A\0", 2) + kUtf16FourByte),
              Stopped(EILSEQ, 2, "A"));
  }
}

TEST(IconvWindowsGb18030, EuroIsTwoBytesNotCp936sSingleByte) {
  if (Gb18030IsNative()) {
    EXPECT_EQ(Convert("GB18030", "UTF-16LE", "\xAC\x20"), Converted(2, "\xA2\xE3"));
  } else {
    // 936 writes the euro as 0x80, which GB18030 does not allow: refused, not passed on.
    EXPECT_EQ(Convert("GB18030", "UTF-16LE", "\xAC\x20"), Stopped(EILSEQ, 0, ""));
  }
}

// ---- errors: errno and where the pointers stop ----

struct ErrorCase {
  const char* name;
  const char* to;
  const char* from;
  std::string input;
  size_t room;
  Outcome expected;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class IconvWindowsErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(IconvWindowsErrors, StopsWhereAndHowPosixSays) {
  const ErrorCase& c = GetParam();
  EXPECT_EQ(Convert(c.to, c.from, c.input, c.room), c.expected);
}

const std::string kA16("A\0", 2);

INSTANTIATE_TEST_SUITE_P(
    Cases, IconvWindowsErrors,
    ::testing::Values(
        ErrorCase{"Gb18030Byte80IsInvalid", "UTF-16LE", "GB18030", "A\x80" "B", 64,
                  Stopped(EILSEQ, 1, kA16)},
        ErrorCase{"Gb18030ByteFFIsInvalid", "UTF-16LE", "GB18030", "A\xFF" "B", 64,
                  Stopped(EILSEQ, 1, kA16)},
        ErrorCase{"Cp936ByteFFIsInvalid", "UTF-16LE", "CP936", "A\xFF" "B", 64,
                  Stopped(EILSEQ, 1, kA16)},
        ErrorCase{"Cp936BadTrailIsInvalid", "UTF-16LE", "CP936", "A\xD6\x20", 64,
                  Stopped(EILSEQ, 1, kA16)},
        ErrorCase{"Cp936CutAtTheEndIsIncomplete", "UTF-16LE", "CP936", "A\xD6", 64,
                  Stopped(EINVAL, 1, kA16)},
        ErrorCase{"Gb18030CutTwoByteIsIncomplete", "UTF-16LE", "GB18030",
                  kGbkName.substr(0, 5), 64, Stopped(EINVAL, 4, kUtf16Name.substr(0, 4))},
        ErrorCase{"Gb18030CutFourByteIsIncomplete", "UTF-16LE", "GB18030", "A\x81\x30\x81", 64,
                  Stopped(EINVAL, 1, kA16)},
        ErrorCase{"Gb18030BadFourByteIsInvalid", "UTF-16LE", "GB18030", "A\x81\x30\x20\x30",
                  64, Stopped(EILSEQ, 1, kA16)},
        ErrorCase{"Utf8CutIsIncomplete", "UTF-16LE", "UTF-8", "A\xE5\x91", 64,
                  Stopped(EINVAL, 1, kA16)},
        ErrorCase{"Utf8OverlongIsInvalid", "UTF-16LE", "UTF-8", "A\xC0\x80", 64,
                  Stopped(EILSEQ, 1, kA16)},
        ErrorCase{"Utf8SurrogateIsInvalid", "UTF-16LE", "UTF-8", "A\xED\xA0\x80", 64,
                  Stopped(EILSEQ, 1, kA16)},
        ErrorCase{"Utf8BadContinuationBeforeTheEndIsInvalid", "UTF-16LE", "UTF-8",
                  "A\xE5\x41", 64, Stopped(EILSEQ, 1, kA16)},
        ErrorCase{"Utf16OddByteIsIncomplete", "CP936", "UTF-16LE", kUtf16Name + "A", 64,
                  Stopped(EINVAL, 6, kGbkName)},
        ErrorCase{"Utf16HighSurrogateAtTheEndIsIncomplete", "UTF-8", "UTF-16LE",
                  kA16 + std::string("\x40\xD8", 2), 64, Stopped(EINVAL, 2, "A")},
        ErrorCase{"Utf16LoneLowSurrogateIsInvalid", "UTF-8", "UTF-16LE",
                  kA16 + std::string("\x00\xDC", 2), 64, Stopped(EILSEQ, 2, "A")},
        ErrorCase{"Cp936CannotWriteThai", "CP936", "UTF-16LE", kA16 + "\x01\x0E", 64,
                  Stopped(EILSEQ, 2, "A")},
        ErrorCase{"Cp1252GivesNoBestFitForAMacron", "CP1252", "UTF-16LE",
                  kA16 + std::string("\x00\x01", 2), 64, Stopped(EILSEQ, 2, "A")},
        ErrorCase{"Latin1CannotWriteIdeographs", "ISO-8859-1", "UTF-16LE", kUtf16Name, 64,
                  Stopped(EILSEQ, 0, "")},
        ErrorCase{"AsciiRejectsHighBytes", "UTF-8", "US-ASCII", "A\xE9", 64,
                  Stopped(EILSEQ, 1, "A")},
        // A full output stops after the last whole character that fits.
        ErrorCase{"FullOutputToGbkStopsAtAWholeCharacter", "CP936", "UTF-16LE", kUtf16Name, 5,
                  Stopped(E2BIG, 4, kGbkName.substr(0, 4))},
        ErrorCase{"FullOutputFromGbkStopsAtAWholeCharacter", "UTF-16LE", "CP936", kGbkName, 5,
                  Stopped(E2BIG, 4, kUtf16Name.substr(0, 4))},
        ErrorCase{"FullOutputToUtf8StopsAtAWholeCharacter", "UTF-8", "GB18030", kGbkName, 8,
                  Stopped(E2BIG, 4, "\xE5\x91\xA8\xE6\x9D\xB0")},
        ErrorCase{"NoRoomAtAllMovesNothing", "UTF-16LE", "CP936", kGbkName, 1,
                  Stopped(E2BIG, 0, "")}),
    [](const ::testing::TestParamInfo<ErrorCase>& param) { return param.param.name; });

// ---- what FreeTDS checks when it starts, and names ----

// FreeTDS converts the same four characters among these four sets before it uses any.
TEST(IconvWindowsFreeTdsStart, BaseSetsConvertAmongThemselves) {
  const char* names[4] = {"ISO-8859-1", "UTF-8", "UCS-2LE", "UCS-2BE"};
  const std::string texts[4] = {std::string("Ao\xD3\xE5", 4),
                                std::string("Ao\xC3\x93\xC3\xA5", 6),
                                std::string("A\0o\0\xD3\0\xE5\0", 8),
                                std::string("\0A\0o\0\xD3\0\xE5", 8)};
  for (int from = 0; from < 4; ++from) {
    for (int to = 0; to < 4; ++to) {
      EXPECT_EQ(Convert(names[to], names[from], texts[from]),
                Converted(texts[from].size(), texts[to]))
          << names[from] << " -> " << names[to];
    }
  }
}

TEST(IconvWindowsFreeTdsStart, ResetCallsReturnZeroAndWriteNothing) {
  iconv_t cd = iconv_open("UTF-16LE", "GB18030");
  ASSERT_NE(cd, (iconv_t)-1);
  char out[8];
  char* out_pointer = out;
  size_t out_left = sizeof out;
  EXPECT_EQ(iconv(cd, nullptr, nullptr, &out_pointer, &out_left), 0u);
  EXPECT_EQ(out_pointer, out);
  EXPECT_EQ(out_left, sizeof out);
  EXPECT_EQ(iconv(cd, nullptr, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(iconv_close(cd), 0);
}

TEST(IconvWindowsNames, UnknownNamesAndSuffixesAreRefusedWithEinval) {
  for (const char* name : {"KOI9-X", "UTF-8//TRANSLIT", "CP99999", "CP", "", "WINDOWS-"}) {
    errno = 0;
    EXPECT_EQ(iconv_open("UTF-16LE", name), (iconv_t)-1) << name;
    EXPECT_EQ(errno, EINVAL) << name;
    errno = 0;
    EXPECT_EQ(iconv_open(name, "UTF-16LE"), (iconv_t)-1) << name;
    EXPECT_EQ(errno, EINVAL) << name;
  }
}

TEST(IconvWindowsNames, NamesIgnoreCaseAndNumberedFormsAgree) {
  const std::string e_acute_utf16("\xE9\x00", 2);
  for (const char* name : {"CP1252", "windows-1252", "Cp1252", "latin1", "iso-8859-1"}) {
    EXPECT_EQ(Convert(name, "utf-16le", e_acute_utf16), Converted(2, "\xE9")) << name;
  }
  EXPECT_EQ(Convert("CP65001", "CP1200", e_acute_utf16), Converted(2, "\xC3\xA9"));
  EXPECT_EQ(Convert("UCS-4", "UTF-16LE", kA16), Converted(2, std::string("\0\0\0A", 4)));
  EXPECT_EQ(Convert("UCS-4LE", "UTF-16LE", kA16), Converted(2, std::string("A\0\0\0", 4)));
}

TEST(IconvWindowsNames, ClosedOrInvalidDescriptorsAreEbadf) {
  errno = 0;
  EXPECT_EQ(iconv_close((iconv_t)-1), -1);
  EXPECT_EQ(errno, EBADF);
  char in[1] = {'A'};
  char* in_pointer = in;
  size_t in_left = 1;
  errno = 0;
  EXPECT_EQ(iconv((iconv_t)-1, &in_pointer, &in_left, nullptr, nullptr), (size_t)-1);
  EXPECT_EQ(errno, EBADF);
}

}  // namespace
