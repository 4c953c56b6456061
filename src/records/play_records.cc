#include "records/play_records.h"

#include <chrono>

#include "frame/exchange.h"
#include "frame/settings.h"
#include "platform/clock.h"
#include "platform/message_log.h"
#include "records/outbox.h"

namespace rondel {

namespace {

enum class SendOutcome {
  kSent,            // dbrpcsend succeeded: the play counts as recorded
  kRefused,         // refused on a live connection: its own values' fault
  kConnectionLost,  // the connection is dead (or none): the server's fault
};

// One "SP_SaveMediaOrderInfo" up to dbrpcsend, the point from which the play
// counts as recorded whatever the server answers.
SendOutcome SendPlay(Exchange& exchange, const PlayRecord& play) {
  if (exchange.CallSendOnly(
          "SP_SaveMediaOrderInfo",
          {Param::Int("@i_iMediaID", play.media_id),
           Param::Text("@i_dtmBeginPlayingTime", play.begin_time.c_str()),
           Param::Text("@i_dtmEndPlayingTime", play.end_time.c_str()),
           Param::Text("@i_strRoomIP", play.room_address.c_str()),
           Param::Int("@i_strSongType", play.song_type)})) {
    return SendOutcome::kSent;
  }
  // A send the client library refused while the connection lives (a text the
  // server's character set cannot take) fails the same way every time: it is
  // the play's fault, and sending it again would block every play after it.
  return exchange.alive() ? SendOutcome::kRefused
                          : SendOutcome::kConnectionLost;
}

// How long one lock hold sends kept plays before it lets other calls'
// exchanges in: a call waits behind at most about this, plus one exchange.
constexpr std::chrono::milliseconds kDrainHold(100);
// How long a draining call waits for a waiting thread to take the lock.
constexpr std::chrono::milliseconds kDrainYieldLimit(1000);

enum class Drained { kAll, kOutOfTime, kConnectionLost };

// Sends kept plays on the open connection, oldest first, until none is left,
// `*budget` plays have gone or kDrainHold has passed. Each leaves the outbox
// once sent or set aside; `*delivered` counts the sent ones.
Drained SendKeptPlays(Exchange& exchange, PlayOutbox& outbox, size_t* budget,
                      size_t* delivered) {
  const auto until = std::chrono::steady_clock::now() + kDrainHold;
  Drained result = Drained::kAll;
  for (const PlayRecord& play : outbox.Oldest(*budget)) {
    const SendOutcome outcome = SendPlay(exchange, play);
    // A refused play leaves the outbox only once it is set aside, or logged
    // when the rejected file is full (outbox.cc, invariant 6); one that
    // cannot be written there stays first, and the drain stops as for a dead
    // connection. After a refusal the connection cannot carry another call
    // (the next would reach the server malformed while its own send reports
    // success): the next goes on a fresh one.
    if (outcome == SendOutcome::kConnectionLost ||
        (outcome == SendOutcome::kRefused && !outbox.SetAside(play))) {
      result = Drained::kConnectionLost;
      break;
    }
    --*budget;
    if (outcome == SendOutcome::kRefused) {
      outbox.MarkSetAside();
      if (!exchange.Reconnect()) {
        result = Drained::kConnectionLost;
        break;
      }
    } else {
      outbox.MarkSent();
      ++*delivered;
      // The answer does not matter (the play has gone), but it must be read
      // to its end before the next call can go on this connection.
      exchange.Confirm();
      exchange.ReadRows({}, [] { return true; });
    }
    if (std::chrono::steady_clock::now() >= until) {
      result = Drained::kOutOfTime;
      break;
    }
  }
  outbox.EndSending();
  if (result == Drained::kOutOfTime && (*budget == 0 || outbox.Unsent() == 0)) {
    result = Drained::kAll;
  }
  return result;
}

// The call's own play on the open connection (kept plays have gone first).
void SendOwnPlay(Exchange& exchange, const PlayRecord& play, bool keep) {
  switch (SendPlay(exchange, play)) {
    case SendOutcome::kSent:
      exchange.Confirm();  // its answer is not used
      break;
    case SendOutcome::kRefused:
      // One the rejected file cannot be written with is kept like a play
      // that found no connection (one past its capacity is only logged).
      if (!KeptPlays().SetAside(play) && keep) KeptPlays().Keep(play);
      break;
    case SendOutcome::kConnectionLost:
      // A send that failed did not reach the server whole: the play waits
      // for the next call like one made while no connection opened.
      if (keep) KeptPlays().Keep(play);
      break;
  }
}

// The harvest shared by the trade-log and authorization calls; `tradelog_id`
// is null where the procedure has no such output.
int HarvestErrorCode(Exchange& exchange, int32_t* tradelog_id,
                     int32_t* error_code, char* error_text) {
  bool code_returned = false;
  exchange.HarvestReturns(
      {ReturnTarget::Int(tradelog_id != nullptr ? "@tradelog_id" : nullptr,
                         tradelog_id),
       ReturnTarget::Int("@error_code", error_code, &code_returned),
       ReturnTarget::Text("@error_string", error_text, kErrorTextBytes)});
  return code_returned && *error_code == 0 ? 1 : 0;
}

// Kept plays delivered since the last line about them, and when that line
// went. Guarded by the catalogue lock, as the outbox is.
size_t g_delivered_unlogged = 0;
uint32_t g_delivered_logged_tick = 0;
// While plays are still kept, a line about their delivery goes at most this
// often: an outbox of thousands drains fifty a call.
constexpr uint32_t kDeliveredLineMilliseconds = 10000;

// Counts the kept plays a call delivered; one line says how many went and how
// many are still kept when the outbox is empty or the last line is old enough.
// REQUIRES: the catalogue lock held.
void NoteDelivered(size_t delivered) {
  g_delivered_unlogged += delivered;
  if (g_delivered_unlogged == 0) return;
  const size_t still_kept = KeptPlays().Unsent();
  const uint32_t now = platform::TickCount();
  if (still_kept > 0 &&
      now - g_delivered_logged_tick < kDeliveredLineMilliseconds) {
    return;
  }
  ModuleLog().AddLog(
      (std::to_string(g_delivered_unlogged) + " kept plays delivered, " +
       std::to_string(still_kept) + " still kept")
          .c_str(),
      platform::LogLevel::kNotice);
  g_delivered_unlogged = 0;
  g_delivered_logged_tick = now;
}

}  // namespace

void RecordPlay(int32_t media_id, const char* room_address,
                const char* begin_time, const char* end_time,
                int32_t song_type) {
  const PlayRecord play{media_id, song_type, room_address, begin_time,
                        end_time};
  size_t budget = kKeptPlaysPerCall;
  size_t delivered = 0;
  for (;;) {
    unsigned long holds_at_release = 0;
    {
      Exchange exchange;
      // Settings change only under the lock.
      const bool keep = CurrentSettings().keep_unsent_plays;
      if (!exchange.connected()) {
        if (keep) KeptPlays().Keep(play);
        return;
      }
      Drained drained = Drained::kAll;
      if (keep && budget > 0 && KeptPlays().Unsent() > 0) {
        drained = SendKeptPlays(exchange, KeptPlays(), &budget, &delivered);
      }
      if (drained == Drained::kConnectionLost) {
        // This play's own send was never tried: it waits behind the others.
        KeptPlays().Keep(play);
        NoteDelivered(delivered);
        return;
      }
      if (drained == Drained::kAll) {
        SendOwnPlay(exchange, play, keep);
        NoteDelivered(delivered);
        return;
      }
      holds_at_release = CatalogueLock().holds();
    }
    CatalogueLock().LetWaitersIn(holds_at_release, kDrainYieldLimit);
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
