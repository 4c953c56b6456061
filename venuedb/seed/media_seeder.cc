// Languages, media of the three classes with their files per server group, and
// the advertisements.
//
// Media i (0-based, id i + 1) is an advertisement when i % 50 == 49, a film
// when i % 20 == 10, a song otherwise; a small catalogue ends with one
// advertisement so that every venue has one. Codes are numbered per class
// inside the ranges that imply the class; songs take in turn 7-digit codes from
// 8000000 (two of four), 7-digit codes from 6000000, and 5-digit then 6-digit
// codes from 20000. Advertisements have files in every group, other media in
// one group drawn at random.
#include <string>

#include "row_writer.h"
#include "sample_text.h"
#include "seed_random.h"
#include "seed_steps.h"

namespace venuedb {

namespace {

constexpr uint64_t kMediaSeed = 0x4D45444941ull;
constexpr int kFilm = 1;
constexpr int kSong = 2;
constexpr int kAd = 3;

int ClassOf(int i, int medias) {
  if (i % 50 == 49 || (medias >= 2 && medias < 50 && i == medias - 1))
    return kAd;
  if (i % 20 == 10) return kFilm;
  return kSong;
}

// Numbers the codes of each class in turn.
class CodeCounter {
 public:
  std::string Next(int media_class) {
    if (media_class == kFilm) {
      int k = films_++;
      return std::to_string(k < 2000 ? 10000 + k : 100000 + (k - 2000));
    }
    if (media_class == kAd) {
      int k = ads_++;
      return std::to_string(k < 1000 ? 30000 + k : 3000000 + (k - 1000));
    }
    switch (songs_++ % 4) {
      case 0:
      case 1:
        return std::to_string(8000000 + eights_++);
      case 2:
        return std::to_string(6000000 + sixes_++);
      default: {
        int k = others_++;
        return std::to_string(k < 10000 ? 20000 + k : 200000 + (k - 10000));
      }
    }
  }

 private:
  int films_ = 0, ads_ = 0, songs_ = 0, eights_ = 0, sixes_ = 0, others_ = 0;
};

// "\\fs1\songs\8000001.mpg" for odd groups, "/media/g2/songs/8000001_2.mpg" for
// even ones.
std::string FilePath(int group_id, int media_class, const std::string& code,
                     int order) {
  const char* folder =
      media_class == kFilm ? "films" : (media_class == kAd ? "ads" : "songs");
  std::string name = code + (order > 1 ? "_" + std::to_string(order) : "") +
                     (media_class == kFilm ? ".mp4" : ".mpg");
  if (group_id % 2 == 1) {
    return "\\\\fs" + std::to_string(group_id) + "\\" + folder + "\\" + name;
  }
  return "/media/g" + std::to_string(group_id) + "/" + folder + "/" + name;
}

// A song or film title with its search keys and the text columns that go with
// it.
struct MediaText {
  Title title;
  std::string artist;
  int language_id = 1;
};

MediaText DrawText(SeedRandom* random, int media_class, int i, int ad_index) {
  MediaText text;
  if (media_class == kAd) {
    text.title = AdTitle(ad_index);
    text.artist = "Venue ads";
    text.language_id = text.title.chinese ? 1 : 4;
    return text;
  }
  text.title = media_class == kFilm ? FilmTitle(random) : SongTitle(random);
  if (i == 0) {
    text.title.text = kMediaOneName;
    text.title.initials.clear();
    text.title.chinese = true;
  }
  int draw = random->Below(10);
  if (text.title.chinese) {
    text.language_id = draw < 7 ? 1 : (draw < 9 ? 2 : 3);
  } else {
    text.language_id = draw < 8 ? 4 : (draw < 9 ? 5 : 6);
  }
  text.artist = ArtistName(random, text.title.chinese);
  return text;
}

}  // namespace

bool SeedMedia(SeedContext* context, std::string* error) {
  const SeedOptions& options = context->options;
  SeedRandom random(kMediaSeed);
  RowWriter language(
      context->db,
      "INSERT INTO languages (language_id, language_name) VALUES (?, ?)");
  for (int id = 1; id <= kLanguageCount; ++id)
    language.Int(1, id).Text(2, LanguageName(id)).Run();
  RowWriter media(
      context->db,
      "INSERT INTO medias (media_id, media_name, media_code, artist_name,"
      " language_id, volume, vocal_channel, stroke_count, head_stroke, "
      "name_length,"
      " sound_initials, added_on, play_count)"
      " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  RowWriter file(
      context->db,
      "INSERT INTO media_files (group_id, media_id, file_order, file_path)"
      " VALUES (?, ?, ?, ?)");
  RowWriter ad(context->db,
               "INSERT INTO advertisements (ad_id, media_id, ad_title, "
               "sort_order, is_enabled)"
               " VALUES (?, ?, ?, ?, ?)");
  CodeCounter codes;
  SeedSummary& summary = context->summary;
  for (int i = 0; i < options.medias; ++i) {
    const int id = i + 1;
    const int media_class = ClassOf(i, options.medias);
    const std::string code = codes.Next(media_class);
    MediaText text = DrawText(&random, media_class, i, summary.ads);
    media.Int(1, id)
        .Text(2, text.title.text)
        .Text(3, code)
        .Text(4, text.artist);
    media.Int(5, text.language_id)
        .Int(6, random.Between(60, 100))
        .Int(7, random.Below(2));
    media.Int(8, text.title.chinese ? random.Between(1, 20) : 0);
    media.Text(9,
               text.title.chinese ? std::to_string(random.Between(1, 5)) : "");
    media.Int(10, CharacterCount(text.title.text))
        .Text(11, text.title.initials);
    media.Text(12,
               DateText(static_cast<int>(int64_t{i} * 2900 / options.medias)));
    media.Int(13, random.Below(1000) * random.Below(10)).Run();

    int files = options.vary_files ? random.Between(1, options.files_per_media)
                                   : options.files_per_media;
    int first_group =
        media_class == kAd ? 1 : random.Between(1, options.groups);
    int last_group = media_class == kAd ? options.groups : first_group;
    for (int group_id = first_group; group_id <= last_group; ++group_id) {
      for (int order = 1; order <= files; ++order) {
        file.Int(1, group_id).Int(2, id).Int(3, order);
        file.Text(4, FilePath(group_id, media_class, code, order)).Run();
        ++summary.files;
      }
    }
    if (media_class == kAd) {
      ad.Int(1, summary.ads + 1)
          .Int(2, id)
          .Text(3, text.title.text)
          .Int(4, summary.ads + 1);
      const bool enabled = summary.ads % 10 != 9;
      ad.Int(5, enabled ? 1 : 0).Run();
      if (enabled) ++summary.enabled_ads;
      context->ad_ids.push_back(id);
      ++summary.ads;
    } else {
      (media_class == kFilm ? context->film_ids : context->song_ids)
          .push_back(id);
      (media_class == kFilm ? summary.films : summary.songs)++;
      if (first_group == 1) {
        context->group_one_playable.push_back(id);
        if (media_class == kSong) context->group_one_songs.push_back(id);
      }
    }
  }
  summary.medias = options.medias;
  return RowWritersOk({&language, &media, &file, &ad}, error);
}

}  // namespace venuedb
