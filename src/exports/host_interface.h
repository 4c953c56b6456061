// The exported interface's output sizes and URL forms, stated once for the
// library, its tools and its tests. Each size is the number of bytes the host's
// buffer holds, terminator included; the library never writes beyond it.
//
//   export                 output           bytes
//   GetMediaInfo           name             kMediaNameSize      100
//                          code             kMediaCodeSize       10
//                          textA, textB     kMediaTextSize       20
//   GetMediaFileInfo       file list        kMediaFilesSize    2048 (allocated)
//   GetRoomIDInfoFromIP    room info        kRoomInfoSize        20
//   GetNextVideo           url              kPlayUrlSize         41
//                          kind             kKindSize             5
//   GetFirealarmVideo      url              kFireAlarmUrlSize   282
//                          format1          kFireAlarmFormat1Size 6
//                          format2          kFireAlarmFormat2Size 5
//   GetFirealarmPage       page             kFireAlarmPageSize  100
//   AddLog, ModifyLog,     error text       kErrorTextSize      201
//   GetAuthorization
//   GetVideoServerConnectNum address        kAddressSize         20
//
// A play URL is kUrlScheme + file-server address + kPlayUrlSeparator + media
// id in decimal; a fire-alarm URL is kUrlScheme + FileServerIP + "/" + file.
#ifndef RONDEL_EXPORTS_HOST_INTERFACE_H_
#define RONDEL_EXPORTS_HOST_INTERFACE_H_

#include <cstddef>

namespace rondel {
namespace host {

// A dotted IPv4 address: at most 19 characters and the terminator.
constexpr size_t kAddressSize = 20;

constexpr size_t kMediaNameSize = 100;
constexpr size_t kMediaCodeSize = 10;
constexpr size_t kMediaTextSize = 20;
constexpr size_t kMediaFilesSize = 2048;
constexpr size_t kRoomInfoSize = 20;

constexpr char kUrlScheme[] = "vsp://";
constexpr char kPlayUrlSeparator[] = "/|||";
// "vsp://" (6) + an address (19) + "/|||" (4) + an int32 in decimal (11).
constexpr size_t kPlayUrlSize = 6 + 19 + 4 + 11 + 1;
constexpr size_t kKindSize = 5;  // "film", "song", "ad"

constexpr size_t kFireAlarmFileNameSize = 256;  // a name of at most 255 bytes
// "vsp://" (6) + FileServerIP (19) + "/" + a file name (255).
constexpr size_t kFireAlarmUrlSize = 6 + 19 + 1 + 255 + 1;
constexpr size_t kFireAlarmFormat1Size = 6;  // "MPEG1"
constexpr size_t kFireAlarmFormat2Size = 5;  // "MPEG"
constexpr size_t kFireAlarmPageSize = 100;

// The database's error text: at most 200 bytes, then the terminator.
constexpr size_t kErrorTextSize = 201;

static_assert(sizeof kUrlScheme - 1 == 6 && sizeof kPlayUrlSeparator - 1 == 4,
              "the URL sizes count these lengths");
static_assert(kPlayUrlSize == 41 && kFireAlarmUrlSize == 282,
              "the sizes the host's buffers have");

}  // namespace host
}  // namespace rondel

#endif  // RONDEL_EXPORTS_HOST_INTERFACE_H_
