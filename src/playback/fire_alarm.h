// Fire-alarm playback: the video a player address is to show during a fire
// alarm, as a play URL on this server's file server, and the venue's fire-alarm
// page. Both come from the database; nothing of the catalogue is used.
//
// Each function below is made of one or two complete exchanges (frame/
// exchange.h), each holding the catalogue lock for itself alone.
// REQUIRES (all): the catalogue lock not held by the calling thread.
#ifndef RONDEL_PLAYBACK_FIRE_ALARM_H_
#define RONDEL_PLAYBACK_FIRE_ALARM_H_

#include <cstddef>

namespace rondel {

// Buffer sizes, terminator included. A URL is "vsp://" + FileServerIP (at most
// 19) + "/" + a file name (at most 255): 281 characters.
constexpr size_t kFireAlarmFileNameSize = 256;
constexpr size_t kFireAlarmPageSize = 100;
constexpr size_t kFireAlarmUrlSize = 282;
constexpr size_t kFireAlarmFormat1Size = 6;  // "MPEG1"
constexpr size_t kFireAlarmFormat2Size = 5;  // "MPEG"

// "sp_lookupfirealerts" with "@ipaddress" = `address` (varchar; an empty or
// null address goes as NULL), column 12 of every row. True when some row named
// a file; `file_name` then holds the last non-empty name read (cut to 255
// bytes), so a trailing row without a name does not blank the answer. On false
// `file_name` is untouched.
bool LookupFireAlertFile(const char* address,
                         char (&file_name)[kFireAlarmFileNameSize]);

// "sp_getfirealertdefaultvideofile", no parameters, column 1 of every row; true
// and `file_name` as LookupFireAlertFile.
bool GetFireAlertDefaultFile(char (&file_name)[kFireAlarmFileNameSize]);

// The address's fire-alarm file, else the default one; then url :=
// "vsp://" + FileServerIP (read now, as a consistent copy) + "/" + the file
// name, format1 := "MPEG1", format2 := "MPEG", and true. False when neither
// step found a file, with the three outputs untouched.
// REQUIRES: url, format1 and format2 non-null and holding kFireAlarmUrlSize,
// kFireAlarmFormat1Size and kFireAlarmFormat2Size bytes. `address` may be null.
bool FindFirealarmVideo(const char* address, char* url, char* format1,
                        char* format2);

// "sp_getfirealerthomepage", no parameters, column 1 of every row: each row's
// page (cut to 99 bytes, an empty one too) is copied into `page` as it comes,
// so `page` ends with the last row's. True when at least one row came; false
// with `page` untouched otherwise (no connection, a failed call, no rows).
// REQUIRES: page non-null, holding kFireAlarmPageSize bytes.
bool FindFirealarmPage(char* page);

}  // namespace rondel

#endif  // RONDEL_PLAYBACK_FIRE_ALARM_H_
