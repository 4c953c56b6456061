#include "catalogue/play_list_loaders.h"

#include <cstdint>

#include "catalogue/tables.h"
#include "frame/exchange.h"
#include "frame/settings.h"

namespace rondel {

namespace {

// Reads the media ids of every result set into `list`, which the caller has
// emptied.
template <int kCapacity>
int ReadMediaIds(Exchange& exchange, PlayList<kCapacity>& list) {
  int32_t media_id = 0;
  const bool read = exchange.ReadRows({Column::Int(1, &media_id)}, [&] {
    if (list.count < kCapacity) list.entries[list.count++] = media_id;
    return true;
  });
  return read ? list.count : -1;
}

struct SequenceSource {
  PlayList<kSequenceCapacity>* list;
  int32_t num;
  int32_t is_new_song;
};

SequenceSource SourceOf(Sequence which) {
  switch (which) {
    case Sequence::kWeek:
      return {&g_catalogue.week_sequence, 7, 0};
    case Sequence::kMonth:
      return {&g_catalogue.month_sequence, 30, 0};
    case Sequence::kNew:
      return {&g_catalogue.new_sequence, 0, 1};
    case Sequence::kAll:
      break;
  }
  return {&g_catalogue.all_sequence, 0, 0};
}

}  // namespace

bool LoadPlayType() {
  Exchange exchange;
  if (!exchange.connected() ||
      !exchange.Sql("select Configure_Set01 as PlayType from configures where "
                    "Configure_ID=1")) {
    return false;
  }
  long rows = 0;
  exchange.ReadRows({Column::Int(1, &g_play_type)}, [&] {
    ++rows;
    return true;
  });
  return rows > 0;
}

int LoadSequence(Sequence which) {
  const SequenceSource source = SourceOf(which);
  source.list->count = 0;
  Exchange exchange;
  if (!exchange.connected()) return -1;
  const char* room_address = CurrentSettings().database_server_ip;
  const Param room_param = room_address[0] != '\0'
                               ? Param::Text("@room_ipaddress", room_address)
                               : Param::NullText("@room_ipaddress");
  if (!exchange.Call(
          "spa_sequencemedia",
          {Param::Int("@num", source.num),
           Param::Int("@isnewsong", source.is_new_song), Param::Int("@len", 0),
           Param::NullText("@soundsequence"),
           Param::NullText("@Media_HeadStroke"),
           Param::Int("@Media_StrokeNum", 0), Param::Int("@language_id", 0),
           Param::NullText("@language_name"), Param::Int("@typeid", 1),
           Param::Int("@pagecount", 200), Param::Int("@room_id", 0),
           Param::NullText("@room_serialno"), room_param,
           Param::NullText("@media_name")})) {
    return -1;
  }
  return ReadMediaIds(exchange, *source.list);
}

int LoadUserSequence() {
  g_catalogue.user_sequence.count = 0;
  Exchange exchange;
  if (!exchange.connected() ||
      !exchange.Sql("select MediaUserSet_MediaId from MediaUserSet order by "
                    "MediaUserSet_Shunxu")) {
    return -1;
  }
  return ReadMediaIds(exchange, g_catalogue.user_sequence);
}

}  // namespace rondel
