// Fire-alarm playback: the video a player address is to show during a fire
// alarm, as a play URL on this server's file server, and the venue's fire-alarm
// page. Both come from the database, and from the last answers it gave
// (playback/fire_alarm_memory.h) when it cannot answer in time; nothing of the
// catalogue is used.
//
// Each call is made of one or two complete exchanges (frame/exchange.h), each
// holding the catalogue lock for itself alone.
// REQUIRES (all): the catalogue lock not held by the calling thread.
#ifndef RONDEL_PLAYBACK_FIRE_ALARM_H_
#define RONDEL_PLAYBACK_FIRE_ALARM_H_

#include <chrono>
#include <cstddef>

#include "exports/host_interface.h"

namespace rondel {

// Buffer sizes, terminator included, as the interface states them. A URL is
// "vsp://" + FileServerIP (at most 19) + "/" + a file name (at most 255).
using host::kFireAlarmFileNameSize;
using host::kFireAlarmFormat1Size;  // "MPEG1"
using host::kFireAlarmFormat2Size;  // "MPEG"
using host::kFireAlarmPageSize;
using host::kFireAlarmUrlSize;

// The address's fire-alarm file, else the default one; then url :=
// "vsp://" + FileServerIP (read now, as a consistent copy) + "/" + the file
// name, format1 := "MPEG1", format2 := "MPEG", and true. False when neither
// step found a file, with the three outputs untouched.
//
// The steps, each a bounded exchange (see below):
//  1. "sp_lookupfirealerts" with "@ipaddress" = `address` (varchar; an empty
//     or null address goes as NULL), column 12 of every row. Found when some
//     row named a file: the last non-empty name read (cut to 255 bytes), so a
//     trailing row without a name does not blank the answer.
//  2. When the lookup found none: "sp_getfirealertdefaultvideofile", no
//     parameters, column 1 of every row, found as the lookup.
// A step that completes remembers its answer (FireAlarmMemory) before its
// exchange releases the lock, so in the order of the exchanges: a found file
// for the address (or, found none, forgets the address's file), the default
// file (or that there is none). A step that gets no connection, fails or
// cannot have the lock answers what is remembered instead, with one log
// line: the lookup the address's own file (without one the default step
// follows, as online), the default step the default file. Nothing remembered
// answers as the failed step did.
// REQUIRES: url, format1 and format2 non-null and holding kFireAlarmUrlSize,
// kFireAlarmFormat1Size and kFireAlarmFormat2Size bytes. `address` may be null.
bool FindFirealarmVideo(const char* address, char* url, char* format1,
                        char* format2);

// "sp_getfirealerthomepage", no parameters, column 1 of every row: `page` ends
// with the last row's page (cut to 99 bytes, an empty one too). True when at
// least one row came; false with `page` untouched when the call completed
// without rows. Remembered and answered from memory as the video's steps.
// REQUIRES: page non-null, holding kFireAlarmPageSize bytes.
bool FindFirealarmPage(char* page);

// Start-up: reads the remembered answers from their file; then, after a
// start-up that loaded the catalogue from the database, asks the default file,
// the page and the lookup of every room in Rooms (table order), each a bounded
// exchange of its own, and remembers their answers. The rooms' pass stops at
// the first room the database does not answer, and begins no room once
// kRoomPassLimit has passed since it began: it then logs one line, "fire
// alarm start-up pass stopped at its MS ms limit: ASKED of ROOMS rooms
// asked" (ROOMS is RoomCount). Nothing here waits for the disk: the file is
// written by FireAlarmMemory's writer.
// REQUIRES: the catalogue lock not held; Rooms loaded.
void PrepareFireAlarmAnswers(bool database_started);

// Every exchange of these calls waits at most kFireAlarmLockWait for the
// catalogue lock and opens its connection with kFireAlarmTimeoutSeconds login
// and query time-outs; a video call starts its default step only while
// kFireAlarmExchangeAllowance is left of kFireAlarmCallBudget, so each call
// returns within about kFireAlarmCallBudget whatever the database does.
constexpr std::chrono::milliseconds kFireAlarmLockWait{2000};
constexpr int kFireAlarmTimeoutSeconds = 1;
constexpr std::chrono::milliseconds kFireAlarmExchangeAllowance{2000};
constexpr std::chrono::milliseconds kFireAlarmCallBudget{4500};

// The start-up's pass over the rooms begins no room after this long, so a
// database answering each room just within its time-out holds the start-up up
// for seconds, not for one time-out per room.
constexpr std::chrono::milliseconds kRoomPassLimit{10000};

}  // namespace rondel

#endif  // RONDEL_PLAYBACK_FIRE_ALARM_H_
