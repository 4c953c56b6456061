// The functions the library exports, listed once. Everything that names them
// is made from this list:
//   - the checks that rondel.h declares each with exactly these types
//     (export_list.cc) and declares no other (write_export_files.cmake);
//   - the Linux version script and the Windows module-definition file, written
//     into the build tree by write_export_files.cmake, which reads this file
//     with a regular expression (export_list.cmake): keep every entry in the
//     shape below, symbols quoted (where clang-format breaks its lines does
//     not matter); an entry it cannot read stops the build;
//   - the exported-symbol check of the built library (against itanium_symbol)
//     and the test that recomputes each msvc_symbol from the types;
//   - the host command's lookups by name and its test libraries.
// rondel.h stays written by hand, for the hosts that read it.
//
// X(name, result, parameters, itanium_symbol, msvc_symbol)
//   name            the function, at global scope, C++ linkage
//   result          its result type; parameters its parameter types
//   itanium_symbol  the name librondel.so exports (the Itanium C++ mangling)
//   msvc_symbol     the name the DLL exports: the MSVC decoration of a __cdecl
//                   free function ("?" name "@@YA", result, parameters, then
//                   "@Z", or "XZ" for none). int is H, bool _N, void X,
//                   char* PAD, const char* PBD, int* PAH, char** PAPAD; a
//                   parameter type of more than one letter written again is
//                   the digit of its first appearance (0, 1, ...).
//
// The base exports are those every build of the library has had; the later
// ones came with next video, background play, the fire alarm, the play records
// and the file-server registry.
#ifndef RONDEL_EXPORTS_EXPORT_LIST_H_
#define RONDEL_EXPORTS_EXPORT_LIST_H_

#define RONDEL_BASE_EXPORTS(X)                                               \
  X(InitialDatabase, void, (), "_Z15InitialDatabasev",                       \
    "?InitialDatabase@@YAXXZ")                                               \
  X(ExitDatabase, void, (), "_Z12ExitDatabasev", "?ExitDatabase@@YAXXZ")     \
  X(LoadDBOptions, bool, (const char*), "_Z13LoadDBOptionsPKc",              \
    "?LoadDBOptions@@YA_NPBD@Z")                                             \
  X(KvDebugDb, void, (char*), "_Z9KvDebugDbPc", "?KvDebugDb@@YAXPAD@Z")      \
  X(GetMediaInfo, int,                                                       \
    (int, char*, char*, int*, char*, char*, int*, int*, int*, int*),         \
    "_Z12GetMediaInfoiPcS_PiS_S_S0_S0_S0_S0_",                               \
    "?GetMediaInfo@@YAHHPAD0PAH001111@Z")                                    \
  X(GetMediaFileInfo, int, (int, char**), "_Z16GetMediaFileInfoiPPc",        \
    "?GetMediaFileInfo@@YAHHPAPAD@Z")                                        \
  X(DestroyMediaFilesBuffer, void, (char*), "_Z23DestroyMediaFilesBufferPc", \
    "?DestroyMediaFilesBuffer@@YAXPAD@Z")                                    \
  X(GetRoomIDInfoFromIP, int, (char*, char*), "_Z19GetRoomIDInfoFromIPPcS_", \
    "?GetRoomIDInfoFromIP@@YAHPAD0@Z")                                       \
  X(GetFileServerID, int, (const char*, int*, int*),                         \
    "_Z15GetFileServerIDPKcPiS1_", "?GetFileServerID@@YAHPBDPAH1@Z")         \
  X(GetSongTotal, int, (int), "_Z12GetSongTotali", "?GetSongTotal@@YAHH@Z")

#define RONDEL_LATER_EXPORTS(X)                                                \
  X(GetNextVideo, int,                                                         \
    (const char*, char*, char*, char*, char*, char*, char*, int*, int*, int*), \
    "_Z12GetNextVideoPKcPcS1_S1_S1_S1_S1_PiS2_S2_",                            \
    "?GetNextVideo@@YAHPBDPAD11111PAH22@Z")                                    \
  X(GetRandPlayMediaID, int, (const char*), "_Z18GetRandPlayMediaIDPKc",       \
    "?GetRandPlayMediaID@@YAHPBD@Z")                                           \
  X(GetFirealarmVideo, int, (const char*, char*, char*, char*),                \
    "_Z17GetFirealarmVideoPKcPcS1_S1_", "?GetFirealarmVideo@@YAHPBDPAD11@Z")   \
  X(GetFirealarmPage, int, (const char*, char*), "_Z16GetFirealarmPagePKcPc",  \
    "?GetFirealarmPage@@YAHPBDPAD@Z")                                          \
  X(SaveVideoTime, int, (int, char*, char*, char*, int),                       \
    "_Z13SaveVideoTimeiPcS_S_i", "?SaveVideoTime@@YAHHPAD00H@Z")               \
  X(AddLog, int, (const char*, int, int*, int*, char*, const char*),           \
    "_Z6AddLogPKciPiS1_PcS0_", "?AddLog@@YAHPBDHPAH1PAD0@Z")                   \
  X(ModifyLog, int, (int, int*, char*, const char*), "_Z9ModifyLogiPiPcPKc",   \
    "?ModifyLog@@YAHHPAHPADPBD@Z")                                             \
  X(GetAuthorization, int, (const char*, int, int*, char*, const char*),       \
    "_Z16GetAuthorizationPKciPiPcS0_", "?GetAuthorization@@YAHPBDHPAHPAD0@Z")  \
  X(GetDataServer, int, (), "_Z13GetDataServerv", "?GetDataServer@@YAHXZ")     \
  X(GetServerGroup, bool, (int, int*), "_Z14GetServerGroupiPi",                \
    "?GetServerGroup@@YA_NHPAH@Z")                                             \
  X(AddVideoServerConnectNum, bool, (int, int, int, int, const char*),         \
    "_Z24AddVideoServerConnectNumiiiiPKc",                                     \
    "?AddVideoServerConnectNum@@YA_NHHHHPBD@Z")                                \
  X(ModifyVideoServerConnectNum, bool, (int, int, int, int, const char*),      \
    "_Z27ModifyVideoServerConnectNumiiiiPKc",                                  \
    "?ModifyVideoServerConnectNum@@YA_NHHHHPBD@Z")                             \
  X(GetVideoServerConnectNum, bool, (int, int, int*, char*),                   \
    "_Z24GetVideoServerConnectNumiiPiPc",                                      \
    "?GetVideoServerConnectNum@@YA_NHHPAHPAD@Z")                               \
  X(DeleteVideoServerConnectNum, bool, (int, int),                             \
    "_Z27DeleteVideoServerConnectNumii",                                       \
    "?DeleteVideoServerConnectNum@@YA_NHH@Z")                                  \
  X(ModifyGroupState, int, (int, int), "_Z16ModifyGroupStateii",               \
    "?ModifyGroupState@@YAHHH@Z")

#define RONDEL_EXPORTS(X) RONDEL_BASE_EXPORTS(X) RONDEL_LATER_EXPORTS(X)

#endif  // RONDEL_EXPORTS_EXPORT_LIST_H_
