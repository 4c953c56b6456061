// What the kept files' views (summary and verify, dump) show alike.
#ifndef RONDEL_TOOLS_SNAPSHOT_KEPT_FILES_VIEW_H_
#define RONDEL_TOOLS_SNAPSHOT_KEPT_FILES_VIEW_H_

#include <cstdint>
#include <string>

#include "kept_files.h"

namespace rondel {
namespace tools {

// "1 play", "2 plays".
std::string Plural(uint64_t n, const char* one, const char* many);
// A text for a line or a cell: EscapedText (snapshot_view.h), or with `raw`
// the bytes with control bytes as \xNN.
std::string Shown(const std::string& bytes, bool raw);
// The same as a JSON string: every byte as a code point with `raw`.
std::string JsonText(const std::string& bytes, bool raw);
// A play's fields as JSON members, without braces, named as PlayRecord's
// columns are in CSV: MediaId, RoomAddress, BeginTime, EndTime, SongType.
std::string JsonPlay(const PlayRecord& play, bool raw);
bool IsOutbox(const PlaysFile& file);
// A file the library skips bytes of, or cannot read.
bool Failed(KeptState state);

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_SNAPSHOT_KEPT_FILES_VIEW_H_
