#include "records/play_records.h"

#include "frame/exchange.h"
#include "frame/settings.h"
#include "records/outbox.h"

namespace rondel {

namespace {

// One "SP_SaveMediaOrderInfo" up to dbrpcsend: true once it was sent, the
// point from which the play counts as recorded whatever the server answers.
bool SendPlay(Exchange& exchange, int32_t media_id, const char* room_address,
              const char* begin_time, const char* end_time, int32_t song_type) {
  return exchange.CallSendOnly(
      "SP_SaveMediaOrderInfo",
      {Param::Int("@i_iMediaID", media_id),
       Param::Text("@i_dtmBeginPlayingTime", begin_time),
       Param::Text("@i_dtmEndPlayingTime", end_time),
       Param::Text("@i_strRoomIP", room_address),
       Param::Int("@i_strSongType", song_type)});
}

// Sends up to kKeptPlaysPerCall kept plays on the open connection, oldest
// first. False when one of them could not be sent: the connection is no use
// for further calls, and the plays after it stay kept.
bool SendKeptPlays(Exchange& exchange, PlayOutbox& outbox) {
  bool all_sent = true;
  for (const PlayRecord& play : outbox.Oldest(kKeptPlaysPerCall)) {
    if (!SendPlay(exchange, play.media_id, play.room_address.c_str(),
                  play.begin_time.c_str(), play.end_time.c_str(),
                  play.song_type)) {
      all_sent = false;
      break;
    }
    outbox.MarkSent();
    // The answer does not matter (the play has gone), but it must be read to
    // its end before the next call can go on this connection.
    exchange.Confirm();
    exchange.ReadRows({}, [] { return true; });
  }
  outbox.EndSending();
  return all_sent;
}

PlayRecord MakePlay(int32_t media_id, const char* room_address,
                    const char* begin_time, const char* end_time,
                    int32_t song_type) {
  PlayRecord play;
  play.media_id = media_id;
  play.song_type = song_type;
  play.room_address = room_address;
  play.begin_time = begin_time;
  play.end_time = end_time;
  return play;
}

// The harvest shared by the trade-log and authorization calls; `tradelog_id`
// is null where the procedure has no such output.
int HarvestErrorCode(Exchange& exchange, int32_t* tradelog_id,
                     int32_t* error_code, char* error_text) {
  const unsigned found = exchange.HarvestReturns(
      {ReturnTarget::Int(tradelog_id != nullptr ? "@tradelog_id" : nullptr,
                         tradelog_id),
       ReturnTarget::Int("@error_code", error_code),
       ReturnTarget::Text("@error_string", error_text, kErrorTextBytes)});
  constexpr unsigned kErrorCodeFound = 1u << 1;
  return (found & kErrorCodeFound) != 0 && *error_code == 0 ? 1 : 0;
}

}  // namespace

void RecordPlay(int32_t media_id, const char* room_address,
                const char* begin_time, const char* end_time,
                int32_t song_type) {
  Exchange exchange;
  const bool keep = CurrentSettings().keep_unsent_plays;
  if (!exchange.connected()) {
    if (keep) {
      KeptPlays().Keep(
          MakePlay(media_id, room_address, begin_time, end_time, song_type));
    }
    return;
  }
  if (keep && KeptPlays().Unsent() > 0 &&
      !SendKeptPlays(exchange, KeptPlays())) {
    // This play's own send was never tried: it waits behind the others.
    KeptPlays().Keep(
        MakePlay(media_id, room_address, begin_time, end_time, song_type));
    return;
  }
  if (SendPlay(exchange, media_id, room_address, begin_time, end_time,
               song_type)) {
    exchange.Confirm();  // its answer is not used
  } else if (keep) {
    // A send that failed did not reach the server whole: the play waits for
    // the next call like one made while no connection opened.
    KeptPlays().Keep(
        MakePlay(media_id, room_address, begin_time, end_time, song_type));
  }
}

int AddTradeLog(const char* room_address, int32_t media_id,
                int32_t* tradelog_id, int32_t* error_code, char* error_text,
                const char* reserved) {
  Exchange exchange;
  if (!exchange.connected()) return 0;
  if (!exchange.Call("sp_addlog",
                     {Param::OptionalText("@ipaddress", room_address),
                      Param::Int("@media_id", media_id),
                      Param::IntOutput("@tradelog_id", tradelog_id),
                      Param::IntOutput("@error_code", error_code),
                      Param::TextOutput("@error_string"),
                      Param::OptionalText("@reserved", reserved)})) {
    return 0;
  }
  return HarvestErrorCode(exchange, tradelog_id, error_code, error_text);
}

int ModifyTradeLog(int32_t tradelog_id, int32_t* error_code, char* error_text,
                   const char* reserved) {
  Exchange exchange;
  if (!exchange.connected()) return 0;
  if (!exchange.Call("sp_modifylog",
                     {Param::Int("@tradelog_id", tradelog_id),
                      Param::IntOutput("@error_code", error_code),
                      Param::TextOutput("@error_string"),
                      Param::OptionalText("@reserved", reserved)})) {
    return 0;
  }
  return HarvestErrorCode(exchange, nullptr, error_code, error_text);
}

int AskAuthorization(const char* room_address, int32_t media_id,
                     int32_t* error_code, char* error_text,
                     const char* reserved) {
  Exchange exchange;
  if (!exchange.connected()) return 1;
  if (!exchange.Call("sp_getauthorization",
                     {Param::OptionalText("@ipaddress", room_address),
                      Param::Int("@media_id", media_id),
                      Param::IntOutput("@error_code", error_code),
                      Param::TextOutput("@error_string"),
                      Param::OptionalText("@reserved", reserved)})) {
    return 0;
  }
  return HarvestErrorCode(exchange, nullptr, error_code, error_text);
}

}  // namespace rondel
