#include "sample_text.h"

#include <iterator>

namespace venuedb {

namespace {

struct Word {
  const char* gbk;
  const char* initials;
};

// Two-character words: moon, starry sky, seaside, spring, hometown, friend,
// dream, rainy night, youth, flowers bloom, far away, memory, city, time,
// smile, kite, good night, sky, singing, wish, meeting, longing, tomorrow,
// dusk, stream, grassland, red leaves, white clouds, autumn, winter snow,
// lamplight, valley, morning light, summer night, way home, harbour.
const Word kWords[] = {
    {"\xD4\xC2\xC1\xC1", "YL"}, {"\xD0\xC7\xBF\xD5", "XK"},
    {"\xBA\xA3\xB1\xDF", "HB"}, {"\xB4\xBA\xCC\xEC", "CT"},
    {"\xB9\xCA\xCF\xE7", "GX"}, {"\xC5\xF3\xD3\xD1", "PY"},
    {"\xC3\xCE\xCF\xEB", "MX"}, {"\xD3\xEA\xD2\xB9", "YY"},
    {"\xC7\xE0\xB4\xBA", "QC"}, {"\xBB\xA8\xBF\xAA", "HK"},
    {"\xD4\xB6\xB7\xBD", "YF"}, {"\xBB\xD8\xD2\xE4", "HY"},
    {"\xB3\xC7\xCA\xD0", "CS"}, {"\xCA\xB1\xB9\xE2", "SG"},
    {"\xCE\xA2\xD0\xA6", "WX"}, {"\xB7\xE7\xF3\xDD", "FZ"},
    {"\xCD\xED\xB0\xB2", "WA"}, {"\xCC\xEC\xBF\xD5", "TK"},
    {"\xB8\xE8\xC9\xF9", "GS"}, {"\xD0\xC4\xD4\xB8", "XY"},
    {"\xCF\xE0\xD3\xF6", "XY"}, {"\xCB\xBC\xC4\xEE", "SN"},
    {"\xC3\xF7\xCC\xEC", "MT"}, {"\xBB\xC6\xBB\xE8", "HH"},
    {"\xD0\xA1\xBA\xD3", "XH"}, {"\xB2\xDD\xD4\xAD", "CY"},
    {"\xBA\xEC\xD2\xB6", "HY"}, {"\xB0\xD7\xD4\xC6", "BY"},
    {"\xC7\xEF\xCC\xEC", "QT"}, {"\xB6\xAC\xD1\xA9", "DX"},
    {"\xB5\xC6\xBB\xF0", "DH"}, {"\xC9\xBD\xB9\xC8", "SG"},
    {"\xB3\xBF\xB9\xE2", "CG"}, {"\xCF\xC4\xD2\xB9", "XY"},
    {"\xB9\xE9\xCD\xBE", "GT"}, {"\xB8\xDB\xCD\xE5", "GW"},
};

// Joining characters: "of" (de), "of" (zhi), "and" (yu).
const Word kJoiners[] = {
    {"\xB5\xC4", "D"}, {"\xD6\xAE", "Z"}, {"\xD3\xEB", "Y"}};

// Family names and given names for made-up performers.
const char* const kFamilyNames[] = {
    "\xCD\xF5", "\xC0\xEE", "\xD5\xC5", "\xC1\xF5", "\xB3\xC2", "\xD1\xEE",
    "\xD5\xD4", "\xBB\xC6", "\xCE\xE2", "\xCB\xEF", "\xC1\xD6", "\xB9\xF9"};
const char* const kGivenNames[] = {"\xD0\xA1\xC3\xF7", "\xD3\xEA", "\xBA\xA3",
                                   "\xBE\xB2",         "\xB3\xBF", "\xB7\xE5",
                                   "\xE6\xC3",         "\xD1\xF4", "\xD0\xC0",
                                   "\xD3\xEE",         "\xD1\xFE", "\xBD\xDC"};

const char* const kEnglishWords[] = {
    "Blue",   "River",  "Night",  "Summer",  "Harbor", "Lantern",
    "Silver", "Rain",   "Garden", "Light",   "Window", "Autumn",
    "Road",   "Stars",  "Paper",  "Morning", "Echo",   "Cloud",
    "Winter", "Bridge", "Golden", "Dance",   "Ocean",  "Midnight"};

const char* const kBrands[] = {
    "Lotus Tea",    "North Pier Beer", "Jade Mobile", "Sunrise Bank",
    "Maple Snacks", "Crane Motors",    "Pearl Water", "Bamboo Air"};

// Language names: Mandarin, Cantonese, Hokkien, English, Japanese, Korean.
const char* const kLanguages[kLanguageCount] = {
    "\xB9\xFA\xD3\xEF", "\xD4\xC1\xD3\xEF", "\xC3\xF6\xC4\xCF\xD3\xEF",
    "\xD3\xA2\xD3\xEF", "\xC8\xD5\xD3\xEF", "\xBA\xAB\xD3\xEF"};

template <typename T, size_t N>
const T& Pick(SeedRandom* random, const T (&items)[N]) {
  return items[random->Below(static_cast<int>(N))];
}

void AppendWord(Title* title, const Word& word) {
  title->text += word.gbk;
  title->initials += word.initials;
}

void AppendEnglish(Title* title, const char* word) {
  if (!title->text.empty()) title->text += ' ';
  title->text += word;
  title->initials += word[0];
}

}  // namespace

const char kMediaOneName[] = "\xD6\xDC\xBD\xDC\xC2\xD7";

Title SongTitle(SeedRandom* random) {
  Title title;
  if (random->Below(100) < 55) {
    title.chinese = true;
    AppendWord(&title, Pick(random, kWords));
    if (random->Below(3) == 0) AppendWord(&title, Pick(random, kJoiners));
    AppendWord(&title, Pick(random, kWords));
  } else {
    int words = random->Between(2, 3);
    for (int i = 0; i < words; ++i)
      AppendEnglish(&title, Pick(random, kEnglishWords));
  }
  return title;
}

Title FilmTitle(SeedRandom* random) {
  Title title;
  if (random->Below(100) < 60) {
    title.chinese = true;
    AppendWord(&title, Pick(random, kWords));
    AppendWord(&title, kJoiners[1]);
    AppendWord(&title, Pick(random, kWords));
    AppendWord(&title, Pick(random, kWords));
  } else {
    AppendEnglish(&title, "The");
    AppendEnglish(&title, Pick(random, kEnglishWords));
    AppendEnglish(&title, Pick(random, kEnglishWords));
  }
  return title;
}

Title AdTitle(int k) {
  Title title;
  if (k % 4 == 3) {
    // A venue promo: "promo film" and its number.
    title.chinese = true;
    title.text = "\xD0\xFB\xB4\xAB\xC6\xAC " + std::to_string(k + 1);
    title.initials = "XCP";
    return title;
  }
  title.text = std::string(kBrands[k % std::size(kBrands)]) + " spot " +
               std::to_string(k + 1);
  for (size_t i = 0; i < title.text.size(); ++i) {
    if (i == 0 || title.text[i - 1] == ' ') title.initials += title.text[i];
  }
  return title;
}

std::string ArtistName(SeedRandom* random, bool chinese) {
  if (chinese)
    return std::string(Pick(random, kFamilyNames)) + Pick(random, kGivenNames);
  return std::string(Pick(random, kEnglishWords)) + " " +
         Pick(random, kEnglishWords);
}

std::string LanguageName(int language_id) {
  if (language_id < 1 || language_id > kLanguageCount) return "";
  return kLanguages[language_id - 1];
}

int CharacterCount(const std::string& bytes) {
  int count = 0;
  for (size_t i = 0; i < bytes.size(); ++count) {
    unsigned char lead = static_cast<unsigned char>(bytes[i]);
    i += (lead >= 0x81 && lead <= 0xFE && i + 1 < bytes.size()) ? 2 : 1;
  }
  return count;
}

std::string RoomInfo(int room_index, int number) {
  std::string digits = std::to_string(number);
  if (room_index % 8 == 7)
    return "\xB9\xF3\xB1\xF6\xB7\xBF V" + digits;  // VIP room
  if (room_index % 3 == 2) return "Room " + digits;
  return "\xB0\xFC\xCF\xE1 " + digits;  // private room
}

std::string FireZone(int floor, bool east) {
  return std::to_string(floor) + "F " +
         (east ? "\xB6\xAB\xB2\xE0" : "\xCE\xF7\xB2\xE0");
}

std::string ExitHint(int floor) {
  return "\xB0\xB2\xC8\xAB\xB3\xF6\xBF\xDA " +
         std::to_string(floor % 4 + 1);  // emergency exit
}

std::string VenueName() { return "\xD4\xC2\xB9\xE2\xBB\xB6\xB3\xAA"; }

}  // namespace venuedb
