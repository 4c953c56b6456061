// The media-class rule, the Prefix86List rule and the cutting of texts into
// record fields.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "catalogue/media_loader.h"
#include "catalogue/tables.h"
#include "catalogue/text_field.h"

namespace rondel {
namespace {

TEST(MediaClassRule, BoundsOfEveryRangeAreInsideAndTheirNeighboursAreSongs) {
  struct Case {
    const char* code;
    int32_t media_class;
  };
  const Case cases[] = {
      {"9999", kSong},    {"10000", kFilm},  {"11999", kFilm},
      {"12000", kSong},   {"29999", kSong},  {"30000", kAd},
      {"30999", kAd},     {"31000", kSong},  {"99999", kSong},
      {"100000", kFilm},  {"199999", kFilm}, {"200000", kSong},
      {"2999999", kSong}, {"3000000", kAd},  {"3999999", kAd},
      {"4000000", kSong},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyMediaCode(c.code), c.media_class) << "code " << c.code;
  }
}

TEST(MediaClassRule, CodeIsReadAsLeadingDecimalNumber) {
  EXPECT_EQ(ClassifyMediaCode(""), kSong);
  EXPECT_EQ(ClassifyMediaCode("abc10000"), kSong);  // no leading digits: 0
  EXPECT_EQ(ClassifyMediaCode("  10500"), kFilm);   // leading blanks skipped
  EXPECT_EQ(ClassifyMediaCode("\t30500"), kAd);
  EXPECT_EQ(ClassifyMediaCode("+10500"), kFilm);  // optional sign
  EXPECT_EQ(ClassifyMediaCode("-10500"), kSong);  // negative values are songs
  EXPECT_EQ(ClassifyMediaCode("10500x7"),
            kFilm);  // digits up to the first other byte
  EXPECT_EQ(ClassifyMediaCode("0010000"), kFilm);  // leading zeros are digits
  EXPECT_EQ(ClassifyMediaCode("3000000A"), kAd);
  EXPECT_EQ(ClassifyMediaCode("99999999999999999999999"),
            kSong);  // no overflow
}

TEST(Prefix86Rule, OnlySevenCharacterSongCodesStartingWith8Or6) {
  EXPECT_TRUE(BelongsInPrefix86List("8000001", kSong));
  EXPECT_TRUE(BelongsInPrefix86List("6123456", kSong));
  EXPECT_TRUE(BelongsInPrefix86List("8abcdef",
                                    kSong));  // only the length and first byte
  EXPECT_FALSE(BelongsInPrefix86List("7000001", kSong));
  EXPECT_FALSE(BelongsInPrefix86List("800001", kSong));    // 6 characters
  EXPECT_FALSE(BelongsInPrefix86List("80000001", kSong));  // 8 characters
  EXPECT_FALSE(BelongsInPrefix86List("8000001", kFilm));
  EXPECT_FALSE(BelongsInPrefix86List("8000001", kAd));
  EXPECT_FALSE(BelongsInPrefix86List("", kSong));
  // A 7-digit code starting with 3 is an advertisement, never a Prefix86 song.
  EXPECT_EQ(ClassifyMediaCode("3500000"), kAd);
}

TEST(TextField, TextIsCutToFieldWidthWithTerminatorAndZeroFill) {
  char field[10];
  memset(field, 'x', sizeof field);
  StoreTextField(field, "123456789");  // exactly N - 1 characters
  EXPECT_EQ(std::string(field, 10), std::string("123456789\0", 10));

  memset(field, 'x', sizeof field);
  StoreTextField(field, "1234567890123");
  EXPECT_EQ(std::string(field, 10), std::string("123456789\0", 10));

  memset(field, 'x', sizeof field);
  StoreTextField(field, "ab");
  EXPECT_EQ(std::string(field, 10), std::string("ab\0\0\0\0\0\0\0\0", 10));

  // Bytes above 0x7F are copied unchanged.
  memset(field, 'x', sizeof field);
  StoreTextField(field, "\xD6\xDC\xBD\xDC");
  EXPECT_EQ(std::string(field, 5), std::string("\xD6\xDC\xBD\xDC\0", 5));
}

}  // namespace
}  // namespace rondel
