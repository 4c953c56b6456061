// Sample texts of the venue: titles, artists, languages, room and fire-zone
// names. Chinese texts are code page 936 (GBK) bytes, written as escapes so
// that the sources stay ASCII; the others are ASCII. Every text fits the column
// the library reads it into (titles 99 bytes, artists, languages and room texts
// 19 bytes).
#ifndef VENUEDB_SEED_SAMPLE_TEXT_H_
#define VENUEDB_SEED_SAMPLE_TEXT_H_

#include <string>

#include "seed_random.h"

namespace venuedb {

// A title with what the song-search pad looks it up by.
struct Title {
  std::string text;  // GBK or ASCII bytes
  std::string
      initials;  // first letter of the reading of each character or word
  bool chinese = false;
};

// The fixed test name of media 1: the GBK bytes D6 DC BD DC C2 D7.
extern const char kMediaOneName[];

Title SongTitle(SeedRandom* random);
Title FilmTitle(SeedRandom* random);
// The advertisement of index k (0-based): an ASCII brand and product, or a GBK
// promo.
Title AdTitle(int k);

// A performer name: GBK family and given name, or an ASCII band name.
std::string ArtistName(SeedRandom* random, bool chinese);

// Languages of the catalogue, ids 1..kLanguageCount; 1-3 Chinese, 4 English,
// 5-6 others.
constexpr int kLanguageCount = 6;
std::string LanguageName(int language_id);

// Characters of a text, a GBK two-byte code counting as one.
int CharacterCount(const std::string& bytes);

// Room information text of room `number` (ASCII "Room 101", or GBK room-kind
// words).
std::string RoomInfo(int room_index, int number);
// Fire zone of a floor ("3F" and GBK east or west wing) and its exit hint.
std::string FireZone(int floor, bool east);
std::string ExitHint(int floor);
// The venue's name (GBK), kept in configures.
std::string VenueName();

}  // namespace venuedb

#endif  // VENUEDB_SEED_SAMPLE_TEXT_H_
