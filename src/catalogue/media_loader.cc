#include "catalogue/media_loader.h"

#include <cstring>

#include "catalogue/tables.h"
#include "catalogue/text_field.h"
#include "frame/exchange.h"

namespace rondel {

namespace {

// A path stored alone takes its terminator and the list's final empty text.
constexpr size_t kLongestPath = kFileListSize - 2;

bool IsCodeSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// The code's decimal value, saturated far outside every class range so that
// long digit runs cannot overflow.
long long CodeValue(const char* code) {
  constexpr long long kSaturated = 1000000000000LL;
  const char* p = code;
  while (IsCodeSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value < kSaturated) value = value * 10 + (*p - '0');
  }
  return negative ? -value : value;
}

// The values of one result row, as bound.
struct MediaRow {
  int32_t media_id;
  char name[200];
  char code[10];
  int32_t number_c;
  char text_a[20];
  char text_b[20];
  int32_t number_a;
  int32_t number_b;
  char path[2048];
};

// Stores the rows of all result sets, in order, straight into Medias.
class MediaWriter {
 public:
  explicit MediaWriter(int32_t group_id) : group_id_(group_id) {}

  int stored() const { return stored_; }

  void Take(const MediaRow& row) {
    if (stored_ == kMediaCapacity) return;  // surplus rows are read and dropped
    if (stored_ > 0 &&
        row.media_id == g_catalogue.medias[stored_ - 1].MediaId) {
      AppendPath(g_catalogue.medias[stored_ - 1], row.path);
    } else {
      StartRecord(g_catalogue.medias[stored_], row);
      ++stored_;
    }
  }

 private:
  void StartRecord(MediaRecord& record, const MediaRow& row) {
    memset(&record, 0, sizeof record);
    record.MediaId = row.media_id;
    StoreTextField(record.MediaName, row.name);
    StoreTextField(record.MediaCode, row.code);
    const int32_t media_class = ClassifyMediaCode(record.MediaCode);
    record.Class = media_class;
    StoreTextField(record.TextA, row.text_a);
    StoreTextField(record.TextB, row.text_b);
    record.NumberA = row.number_a;
    record.NumberB = row.number_b;
    record.NumberC = row.number_c;
    record.GroupId = group_id_;
    append_position_ = 0;
    const size_t length = strlen(row.path);
    if (length > 0 && length <= kLongestPath) {
      memcpy(record.FileList, row.path, length + 1);
      append_position_ = length + 1;
    }
    if (BelongsInPrefix86List(record.MediaCode, media_class)) {
      PlayList<kMediaCapacity>& list = g_catalogue.prefix86_list;
      list.entries[list.count++] = row.media_id;
    }
  }

  // A further file of the last record: appended when the path, its terminator
  // and the list's final empty text fit; otherwise (and when empty) skipped.
  void AppendPath(MediaRecord& record, const char* path) {
    const size_t length = strlen(path);
    if (length == 0 || append_position_ + length + 2 > kFileListSize) return;
    memcpy(record.FileList + append_position_, path, length + 1);
    append_position_ += length + 1;
    record.FileList[append_position_] = '\0';  // the list's final empty text
  }

  const int32_t group_id_;
  int stored_ = 0;
  size_t append_position_ =
      0;  // in the last record's FileList, past its last terminator
};

}  // namespace

int32_t ClassifyMediaCode(const char* code) {
  const long long v = CodeValue(code);
  if ((v >= 10000 && v <= 11999) || (v >= 100000 && v <= 199999)) return kFilm;
  if ((v >= 30000 && v <= 30999) || (v >= 3000000 && v <= 3999999)) return kAd;
  return kSong;
}

bool BelongsInPrefix86List(const char* code, int32_t media_class) {
  return media_class == kSong && strlen(code) == 7 &&
         (code[0] == '8' || code[0] == '6');
}

int LoadMedias() {
  g_catalogue.prefix86_list.count = 0;
  Exchange exchange;
  if (!exchange.connected()) return -1;
  const int32_t group_id = g_catalogue.identity_group_id;
  const int32_t file_server_id = g_catalogue.identity_file_server_id;
  if (!exchange.Call("sp_getmediainfobyvideoserver",
                     {Param::Int("@i_ServerGroupid", group_id),
                      Param::Int("@i_Serverid", file_server_id)})) {
    return -1;
  }
  // Blanked once: a text column the server sends as NULL in the first row
  // must not leave stack bytes in the record.
  MediaRow row{};
  MediaWriter writer(group_id);
  // Column 5 is not read.
  const bool read = exchange.ReadRows(
      {Column::Int(1, &row.media_id),
       Column::Text(2, row.name, sizeof row.name),
       Column::Text(3, row.code, sizeof row.code),
       Column::Int(4, &row.number_c),
       Column::Text(6, row.text_a, sizeof row.text_a),
       Column::Text(7, row.text_b, sizeof row.text_b),
       Column::Int(8, &row.number_a), Column::Int(9, &row.number_b),
       Column::Text(10, row.path, sizeof row.path)},
      [&] {
        writer.Take(row);
        return true;
      });
  NoteMediasWritten(writer.stored());
  return read ? writer.stored() : -1;
}

}  // namespace rondel
