// rondel.h: the functions a venue's video server calls.
//
// Conventions
//  - Call InitialDatabase() once, on one thread, before anything else, and
//    ExitDatabase() last.
//  - Every function returns a flag (1 or true: done or found; 0 or false: not)
//    unless its comment says otherwise. Nothing is thrown; failures are not
//    explained beyond the flag (connection failures go to the log file
//    "rondel.log" in the working directory, or $RONDEL_LOG_FILE, progress to
//    the diagnostic datagrams of KvDebugDb).
//  - Texts are zero-terminated byte strings, passed through unconverted.
//    Output buffers are owned and sized by the caller: each function states
//    the size it needs.
//  - Catalogue lookups read the in-memory catalogue without touching the
//    database and may run on any thread. Database operations run one at a time
//    in the whole process.
#ifndef RONDEL_RONDEL_H_
#define RONDEL_RONDEL_H_

#define RONDEL_API __attribute__((visibility("default")))

// --- Lifecycle ----------------------------------------------------------

// Reads the settings file, starts the database client and loads the catalogue:
// from the database when it answers (then saves the snapshot files), else from
// the snapshot files.
RONDEL_API void InitialDatabase();
// Ends database use. A second call does nothing.
RONDEL_API void ExitDatabase();
// Re-reads the database server, database name, user and password from
// `settingsPath`; missing keys take their defaults. Always true. Takes effect
// at the next exchange.
RONDEL_API bool LoadDBOptions(const char* settingsPath);

// --- Diagnostics --------------------------------------------------------

// Sends `text` (without its terminator) as one UDP datagram to the diagnostic
// destination. A null text sends nothing. Never fails visibly.
RONDEL_API void KvDebugDb(char* text);

// --- Catalogue lookups --------------------------------------------------

// Copies the attributes of media `mediaId` into the non-null outputs: name (100
// bytes), code (10 bytes), class (1 film, 2 song, 3 ad), textA (20), textB
// (20), numberA, numberB, numberC, group id. Returns 1 when found, 0 (nothing
// written) when not.
RONDEL_API int GetMediaInfo(int mediaId, char* name, char* code,
                            int* mediaClass, char* textA, char* textB,
                            int* numberA, int* numberB, int* numberC,
                            int* groupId);
// Hands out a 2048-byte buffer holding the media's file paths, each
// zero-terminated, ended by an empty path. Release it with
// DestroyMediaFilesBuffer. Returns 0 (out untouched) when the media is unknown.
RONDEL_API int GetMediaFileInfo(int mediaId, char** files);
// Releases a buffer from GetMediaFileInfo; null is ignored.
RONDEL_API void DestroyMediaFilesBuffer(char* files);
// Copies the information text (20 bytes) of the room at `roomAddress`. 0 when
// no room has it.
RONDEL_API int GetRoomIDInfoFromIP(char* roomAddress, char* roomInfo);
// Sets the id and group of the file server at `serverAddress`; both 0 when none
// has it. Both outputs are required: 0 (nothing written) when either is null.
RONDEL_API int GetFileServerID(const char* serverAddress, int* fileServerId,
                               int* groupId);
// 1 when the database's media table holds fewer rows than `number`, else 0
// (also when the database cannot be asked).
RONDEL_API int GetSongTotal(int number);

// --- Next video -----------------------------------------------------------

// The next video of the room at `roomAddress` (required): the room's selection,
// else an advertisement for it. Copies the media's attributes into the non-null
// outputs (name 100 bytes, code 10, textA 20, textB 20, numberA..numberC),
// writes the kind ("film", "song" or "ad"; 5 bytes, required) and the play URL
// "vsp://" + file-server address + "/|||" + media id (41 bytes, required).
// The file server is the least-loaded one of the media's server group (or a
// random one when the database reports no counts), else FileServerIP, which
// also stands in when the group's servers cannot be read.
// Returns 1 when a URL was built, else 0: nothing is written when no media is
// found; the attributes, the kind and "vsp://" are when the media has no server
// group, or its group's servers cannot be read and FileServerIP is empty. A
// null address, url or kind answers 0 and writes nothing. Progress goes out as
// diagnostic datagrams.
RONDEL_API int GetNextVideo(const char* roomAddress, char* name, char* code,
                            char* url, char* kind, char* textA, char* textB,
                            int* numberA, int* numberB, int* numberC);

// --- Background play
// ----------------------------------------------------------

// The media id the room at `roomAddress` plays next in the background, by the
// venue's play type: a random pick or the room's next entry of a play list.
// -1 when nothing can be chosen. Answers from the catalogue alone; may run on
// any thread.
RONDEL_API int GetRandPlayMediaID(const char* roomAddress);

// --- Fire alarm
// -----------------------------------------------------------------

// The fire-alarm video of `address`, else the venue's default one: url (282
// bytes) "vsp://" + FileServerIP + "/" + file name, format1 (6 bytes) "MPEG1",
// format2 (5 bytes) "MPEG". 1 when a file name was found, else 0 with the
// outputs untouched.
RONDEL_API int GetFirealarmVideo(const char* address, char* url, char* format1,
                                 char* format2);
// The fire-alarm page (100 bytes) into `page`; the address is not used. 1 when
// the database answered with a page (an empty one too), else 0 with `page`
// untouched.
RONDEL_API int GetFirealarmPage(const char* address, char* page);

// --- Play records and authorization
// -------------------------------------------

// Records one play of `mediaId` in the room at `roomAddress` with its begin and
// end times (texts the database's date-time parameters accept) and song type.
// All three texts are required: a null one records nothing. Always 0. A play
// that cannot be sent because no connection opens is kept on disk in
// "PlayRecords.outbox" beside the snapshot files (each text kept to its first
// 255 bytes, at most 100,000 plays) and sent ahead of the play of a later call
// that reaches the database, oldest first, at most 50 per call;
// [VideoServer] KeepUnsentPlays=0 turns this off.
RONDEL_API int SaveVideoTime(int mediaId, char* roomAddress, char* beginTime,
                             char* endTime, int songType);
// Adds a trade log: *tradeLogId and *errorCode are sent and receive the
// database's answer, errorText (201 bytes) its text. roomAddress and reserved
// may be null (then not sent). 1 when the error code comes back 0. The three
// outputs are required: 0 (nothing sent, nothing written) when one is null.
RONDEL_API int AddLog(const char* roomAddress, int mediaId, int* tradeLogId,
                      int* errorCode, char* errorText, const char* reserved);
// Modifies trade log `tradeLogId`; outputs as AddLog (no trade-log id). 1 when
// the error code comes back 0; 0 when an output is null.
RONDEL_API int ModifyLog(int tradeLogId, int* errorCode, char* errorText,
                         const char* reserved);
// May `mediaId` play in the room at `roomAddress`? 1 when the error code comes
// back 0, and also when the database cannot be reached (outputs untouched).
// 0 (nothing sent, nothing written) when an output is null.
RONDEL_API int GetAuthorization(const char* roomAddress, int mediaId,
                                int* errorCode, char* errorText,
                                const char* reserved);

// --- File-server registry
// -------------------------------------------------------

// When one of this machine's addresses is a registered file server's, makes it
// FileServerIP. 1 when the registry listed any server, else 0. When this
// machine's addresses cannot be listed, FileServerIP is emptied and 0 answered.
RONDEL_API int GetDataServer();
// The server group of file server `serverId` into *groupId; true when found.
// A null groupId answers false without asking the database.
RONDEL_API bool GetServerGroup(int serverId, int* groupId);
// Adds or changes the connection-count row of a file server; true when the
// database accepted the call.
RONDEL_API bool AddVideoServerConnectNum(int groupId, int fileServerId,
                                         int connections, int totalConnections,
                                         const char* fileServerAddress);
RONDEL_API bool ModifyVideoServerConnectNum(int groupId, int fileServerId,
                                            int connections,
                                            int totalConnections,
                                            const char* fileServerAddress);
// The connection count and address (20 bytes) of the group's server (or of
// `fileServerId` when not 0) into the outputs, from the last row the database
// gave. Always false: the answer is in the outputs. Both outputs are required:
// when either is null the database is not asked and nothing is written.
RONDEL_API bool GetVideoServerConnectNum(int groupId, int fileServerId,
                                         int* connections,
                                         char* fileServerAddress);
// Deletes connection-count rows of the group (of `fileServerId` when not 0).
// Always false.
RONDEL_API bool DeleteVideoServerConnectNum(int groupId, int fileServerId);
// Sets server group `groupId` valid (1) or not (0); 1 when the database
// accepted the call.
RONDEL_API int ModifyGroupState(int isValid, int groupId);

#endif  // RONDEL_RONDEL_H_
