// Play accounting and authorization: the play times of a media, trade logs and
// the question whether a media may play in a room, each through one stored
// procedure of the venue database. Nothing of the catalogue is read or
// changed.
//
// Each function is one exchange (frame/exchange.h): it holds the catalogue
// lock from before the connection opens until after it closes.
// REQUIRES (all): the catalogue lock not held by the calling thread.
//
// The trade-log and authorization functions answer by the database's error
// code: "@error_code", "@error_string" (and for AddTradeLog "@tradelog_id")
// are sent as outputs with the caller's current values, and after the call
// the returned values are copied in this order into the caller's integers and
// text; the answer is 1 when "@error_code" came back and the caller's integer
// then holds 0 (a NULL code leaves the integer as the caller passed it), else
// 0. When the call fails at any step the outputs are left untouched.
#ifndef RONDEL_RECORDS_PLAY_RECORDS_H_
#define RONDEL_RECORDS_PLAY_RECORDS_H_

#include <cstddef>
#include <cstdint>

#include "exports/host_interface.h"

namespace rondel {

// The error text a database answer fills: at most this many bytes, then the
// terminator (the caller's buffer holds host::kErrorTextSize bytes).
constexpr size_t kErrorTextBytes = host::kErrorTextSize - 1;
// Kept plays sent by one RecordPlay at most, ahead of its own.
constexpr size_t kKeptPlaysPerCall = 50;

// "SP_SaveMediaOrderInfo" with "@i_iMediaID", "@i_dtmBeginPlayingTime",
// "@i_dtmEndPlayingTime", "@i_strRoomIP", "@i_strSongType" (int, int); reads
// nothing back and answers nothing.
// When no connection opens the play is kept in the outbox (records/outbox.h)
// unless KeepUnsentPlays is off. When one opens, up to kKeptPlaysPerCall kept
// plays go first, oldest first, each the same call with its own values, each
// leaving the outbox once sent. They go in lock holds of about 100 ms, each on
// its own connection, and threads waiting for the lock go between two holds,
// so no other call waits behind the whole drain.
// A send refused while the connection lives (a text the server's character
// set cannot take) is the play's own fault: the play is set aside in the
// rejected-plays file (PlayOutbox::SetAside) and the next goes on a fresh
// connection. A refused play that cannot be set aside (the file cannot be
// written or is full) is kept: a kept one stays first in the outbox and the
// drain stops there, as at a dead connection; the call's own is kept like a
// play that found no connection. A send that leaves the connection dead keeps
// this play (and the kept ones not yet sent) for a later call.
// REQUIRES: the three texts non-null.
void RecordPlay(int32_t media_id, const char* room_address,
                const char* begin_time, const char* end_time,
                int32_t song_type);

// "sp_addlog": "@ipaddress" (left out when null), "@media_id",
// "@tradelog_id" and "@error_code" (outputs), "@error_string" (output, at most
// 200), "@reserved" (left out when null). 0 when no connection opens.
// REQUIRES: tradelog_id, error_code non-null; error_text holds 201 bytes.
int AddTradeLog(const char* room_address, int32_t media_id,
                int32_t* tradelog_id, int32_t* error_code, char* error_text,
                const char* reserved);

// "sp_modifylog": "@tradelog_id" (input), "@error_code", "@error_string",
// "@reserved" (left out when null). 0 when no connection opens.
// REQUIRES: error_code non-null; error_text holds 201 bytes.
int ModifyTradeLog(int32_t tradelog_id, int32_t* error_code, char* error_text,
                   const char* reserved);

// "sp_getauthorization": "@ipaddress" (left out when null), "@media_id",
// "@error_code", "@error_string", "@reserved" (left out when null). 1 when no
// connection opens (a venue without its database still plays), outputs
// untouched. REQUIRES: as ModifyTradeLog.
int AskAuthorization(const char* room_address, int32_t media_id,
                     int32_t* error_code, char* error_text,
                     const char* reserved);

}  // namespace rondel

#endif  // RONDEL_RECORDS_PLAY_RECORDS_H_
