#include "text_view.h"

#include <gtest/gtest.h>

namespace rondel {
namespace tools {
namespace {

TEST(TextViewTest, FieldTextStopsAtTerminatorOrFieldEnd) {
  const char field[6] = {'a', 'b', '\0', 'x', 'y', 'z'};
  EXPECT_EQ("ab", FieldText(field, sizeof(field)));
  const char full[4] = {'w', 'x', 'y',
                        'z'};  // no terminator: the whole field, no more
  EXPECT_EQ("wxyz", FieldText(full, sizeof(full)));
  EXPECT_EQ("", FieldText(field + 2, 4));
}

TEST(TextViewTest, AsciiShowsPlain) {
  EXPECT_EQ("\"1000017\"", ShowText("1000017"));
  EXPECT_EQ("\"\"", ShowText(""));
}

TEST(TextViewTest, GbkBytesShowRawWithTheirHex) {
  // "Song" in code page 936: the bytes must come out unconverted, then in hex,
  // then readable as UTF-8.
  const std::string gbk = "\xb8\xe8\xc7\xfa";
  EXPECT_EQ(
      "\"\xb8\xe8\xc7\xfa\" [hex b8 e8 c7 fa] [GBK "
      "\"\xe6\xad\x8c\xe6\x9b\xb2\"]",
      ShowText(gbk));
  EXPECT_EQ("\"a\xb8\xe8\" [hex 61 b8 e8] [GBK \"a\xe6\xad\x8c\"]",
            ShowText("a\xb8\xe8"));
  // A lone lead byte is no code page 936 text: the bytes and hex only.
  EXPECT_EQ("\"\xb8\" [hex b8]", ShowText("\xb8"));
}

TEST(TextViewTest, ControlBytesAreMaskedButKeptInHex) {
  EXPECT_EQ("\"a?b\" [hex 61 0a 62]", ShowText("a\nb"));
  EXPECT_EQ("\"?\" [hex 1b]", ShowText("\x1b"));
}

}  // namespace
}  // namespace tools
}  // namespace rondel
