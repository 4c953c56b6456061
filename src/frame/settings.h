// The process-wide settings and the settings file.
//
// The buffers are read by every connection opening and written by
// InitialDatabase, LoadDBOptions and (FileServerIP) the file-server registry,
// without a lock.
#ifndef RONDEL_FRAME_SETTINGS_H_
#define RONDEL_FRAME_SETTINGS_H_

#include <cstdint>
#include <string>

#include "platform/file_error.h"

namespace rondel {

// Each value with its section, key and default; texts keep at most their
// buffer size minus one bytes. The database server's port is a key of its own
// (1..65535; anything else means the client library's default port), so that
// the address stays an address: it is also sent as a room address.
struct Settings {
  char file_server_ip[20] = "";         // MainServer FileServerIP ""
  char database_server_ip[20] = "";     // MainServer DataBaseServerIp 127.0.0.1
  int32_t database_server_port = 0;     // MainServer DataBaseServerPort (none)
  char database_name[256] = "karaok";   // KTV DataBaseName karaok
  char user_name[256] = "sa";           // MainServer UserName sa
  char password[256] = "";              // MainServer PassWord ""
  char client_charset[64] = "GB18030";  // MainServer ClientCharset GB18030
  // Plays recorded while no connection opens are kept on disk and sent later
  // (records/outbox.h); 0 turns that off. Read at start-up only.
  bool keep_unsent_plays = true;  // VideoServer KeepUnsentPlays 1
};

// The one instance.
Settings& CurrentSettings();

// FileServerIP is the one setting written while other threads read it (the
// file-server registry replaces it; play URLs read it without the catalogue
// lock): it is read and written only through these two, which never see a
// half-written value. The copy is always terminated (at most 19 characters).
void CopyFileServerIp(char (&out)[sizeof Settings::file_server_ip]);
void StoreFileServerIp(const char* address);  // null stores ""

// What dbopen is given: the address, joined with the port when the port key
// is set and the address does not carry a port of its own ("host:port").
std::string DatabaseServerTarget(const char* address, int32_t port);

// The venue's fixed settings file (platform::DefaultSettingsPath()), or
// $RONDEL_SETTINGS_FILE when set.
std::string SettingsFilePath();

// InitialDatabase's read: the five values (and the server's port, the client
// character set and KeepUnsentPlays) from `path`.
// Both reads take the default of every value a file that cannot be read does
// not give (missing, a directory, no permission), and then write one line to
// ModuleLog() naming the file and the system's reason:
//   settings file: open "/etc/korvane/Korvane.ini": No such file or
//   directory; the defaults are used
void ReadStartupSettings(const char* path);
// LoadDBOptions' read: server, database, user and password (and the server's
// port and the client character set).
void ReadDatabaseSettings(const char* path);

// The background play type kept under [VideoServer] RandPlayType of the
// settings file. A persist that fails leaves the file as it was (see
// WriteProfileString), says why in one line of ModuleLog() and answers it:
//   RandPlayType not saved: write "/etc/korvane/Korvane.ini": Permission
//   denied
platform::FileError PersistRandPlayType(int32_t play_type);
int32_t RestoreRandPlayType();  // 2 when missing

}  // namespace rondel

#endif  // RONDEL_FRAME_SETTINGS_H_
