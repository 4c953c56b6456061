#include "host_actions.h"

#include <climits>
#include <cstring>
#include <map>

#include "probe_range.h"
#include "text_view.h"

namespace rondel {
namespace tools {
namespace {

// The paths of a file-list buffer: each zero-terminated, ended by an empty path
// or by the end of the buffer.
std::vector<std::string> FilePaths(const char* buffer) {
  std::vector<std::string> paths;
  size_t offset = 0;
  while (offset < host::kMediaFilesSize && buffer[offset] != '\0') {
    std::string path =
        FieldText(buffer + offset, host::kMediaFilesSize - offset);
    offset += path.size() + 1;
    paths.push_back(path);
  }
  return paths;
}

bool PrintMedia(HostLibrary& library, int32_t id, std::ostream& out) {
  char name[host::kMediaNameSize + kMargin] = {};
  char code[host::kMediaCodeSize + kMargin] = {};
  char text_a[host::kMediaTextSize + kMargin] = {};
  char text_b[host::kMediaTextSize + kMargin] = {};
  int media_class = 0, number_a = 0, number_b = 0, number_c = 0, group_id = 0;
  if (library.GetMediaInfo(id, name, code, &media_class, text_a, text_b,
                           &number_a, &number_b, &number_c, &group_id) != 1) {
    out << "media " << id << ": not found\n";
    return false;
  }
  out << "media " << id << "\n"
      << "  name     " << ShowText(FieldText(name, host::kMediaNameSize))
      << "\n"
      << "  code     " << ShowText(FieldText(code, host::kMediaCodeSize))
      << "\n"
      << "  class    " << media_class << " (" << ClassName(media_class) << ")\n"
      << "  textA    " << ShowText(FieldText(text_a, host::kMediaTextSize))
      << "\n"
      << "  textB    " << ShowText(FieldText(text_b, host::kMediaTextSize))
      << "\n"
      << "  numberA  " << number_a << "\n"
      << "  numberB  " << number_b << "\n"
      << "  numberC  " << number_c << "\n"
      << "  groupId  " << group_id << "\n";
  char* files = nullptr;
  if (library.GetMediaFileInfo(id, &files) != 1 || files == nullptr) {
    out << "  files    (GetMediaFileInfo found no list)\n";
    return false;
  }
  std::vector<std::string> paths = FilePaths(files);
  library.DestroyMediaFilesBuffer(files);
  out << "  files    " << paths.size() << "\n";
  for (size_t i = 0; i < paths.size(); ++i) {
    out << "    [" << i + 1 << "] " << ShowText(paths[i]) << "\n";
  }
  return true;
}

// Probes every address of `range` with `found`; prints the count, and each hit
// when `list_hits`, else the first and last.
template <typename Lookup>
void ProbeAddresses(const std::string& what, const std::string& range,
                    bool list_hits, Lookup found, std::ostream& out) {
  uint32_t first, last;
  if (!ParseAddressRange(range, &first, &last)) {
    out << what << " in " << range << ": not an address range\n";
    return;
  }
  std::vector<std::string> hits;
  std::vector<std::string> details;
  for (uint64_t address = first; address <= last; ++address) {
    std::string text = FormatAddress(static_cast<uint32_t>(address));
    std::string detail;
    if (found(text, &detail)) {
      hits.push_back(text);
      details.push_back(detail);
    }
  }
  out << what << " in " << range << ": " << hits.size() << " found\n";
  if (hits.empty()) return;
  if (list_hits || hits.size() <= 2) {
    for (size_t i = 0; i < hits.size(); ++i) {
      out << "  " << hits[i] << "  " << details[i] << "\n";
    }
  } else {
    out << "  first " << hits.front() << "  " << details.front() << "\n"
        << "  last  " << hits.back() << "  " << details.back() << "\n";
  }
}

}  // namespace

const char* ClassName(int media_class) {
  switch (media_class) {
    case 1:
      return "film";
    case 2:
      return "song";
    case 3:
      return "ad";
    default:
      return "other";
  }
}

int RunStart(HostLibrary& library, const StartProbes& probes,
             std::ostream& out) {
  if (probes.first_id <= probes.last_id) {
    std::map<int, int> by_class;
    int found = 0;
    int32_t lowest = 0, highest = 0;
    for (int64_t id = probes.first_id; id <= probes.last_id; ++id) {
      int media_class = 0;
      if (library.GetMediaInfo(static_cast<int32_t>(id), nullptr, nullptr,
                               &media_class, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr) != 1) {
        continue;
      }
      if (found == 0) lowest = static_cast<int32_t>(id);
      highest = static_cast<int32_t>(id);
      ++found;
      ++by_class[media_class];
    }
    out << "media ids " << probes.first_id << "-" << probes.last_id << ": "
        << found << " found";
    if (found > 0)
      out << " (lowest " << lowest << ", highest " << highest << ")";
    out << "\n";
    for (const auto& [media_class, count] : by_class) {
      out << "  class " << media_class << " (" << ClassName(media_class)
          << "): " << count << "\n";
    }
  }
  for (const std::string& range : probes.room_ranges) {
    ProbeAddresses(
        "rooms", range, false,
        [&library](const std::string& address, std::string* detail) {
          std::vector<char> key(address.begin(), address.end());
          key.push_back('\0');
          char info[host::kRoomInfoSize + kMargin] = {};
          if (library.GetRoomIDInfoFromIP(key.data(), info) != 1) return false;
          *detail = "info " + ShowText(FieldText(info, host::kRoomInfoSize));
          return true;
        },
        out);
  }
  for (const std::string& range : probes.server_ranges) {
    ProbeAddresses(
        "file servers", range, true,
        [&library](const std::string& address, std::string* detail) {
          int id = 0, group = 0;
          if (library.GetFileServerID(address.c_str(), &id, &group) != 1) {
            return false;
          }
          *detail =
              "id " + std::to_string(id) + ", group " + std::to_string(group);
          return true;
        },
        out);
  }
  return kExitOk;
}

int RunMedia(HostLibrary& library, const std::vector<int32_t>& ids,
             std::ostream& out) {
  int status = kExitOk;
  for (int32_t id : ids) {
    if (!PrintMedia(library, id, out)) status = kExitMiss;
  }
  return status;
}

int RunRoom(HostLibrary& library, const std::string& address,
            std::ostream& out) {
  std::vector<char> key(address.begin(), address.end());
  key.push_back('\0');
  char info[host::kRoomInfoSize + kMargin] = {};
  if (library.GetRoomIDInfoFromIP(key.data(), info) != 1) {
    out << "room " << address << ": not found\n";
    return kExitMiss;
  }
  out << "room " << address << "\n"
      << "  info  " << ShowText(FieldText(info, host::kRoomInfoSize)) << "\n";
  return kExitOk;
}

int RunServer(HostLibrary& library, const std::string& address,
              std::ostream& out) {
  int id = -1, group = -1;
  int found = library.GetFileServerID(address.c_str(), &id, &group);
  if (found != 1) {
    out << "file server " << address << ": not found (id " << id << ", group "
        << group << ")\n";
    return kExitMiss;
  }
  out << "file server " << address << "\n"
      << "  id     " << id << "\n"
      << "  group  " << group << "\n";
  return kExitOk;
}

int RunSongTotal(HostLibrary& library, int32_t number, std::ostream& out) {
  int answer = library.GetSongTotal(number);
  out << "GetSongTotal(" << number << ") = " << answer << ": ";
  if (answer == 1) {
    out << "the media table holds fewer than " << number << " rows\n";
  } else {
    out << "the media table holds " << number
        << " rows or more, or the database did not answer\n";
  }
  return kExitOk;
}

int RunSongCount(HostLibrary& library, std::ostream& out) {
  // GetSongTotal(n) is 1 exactly when rows < n: the row count is the smallest
  // such n, less 1.
  if (library.GetSongTotal(INT_MAX) != 1) {
    out << "media rows: the database did not answer\n";
    return kExitMiss;
  }
  int32_t low = 1, high = INT_MAX;  // GetSongTotal(high) is 1
  int calls = 1;
  while (low < high) {
    int32_t middle = low + (high - low) / 2;
    ++calls;
    if (library.GetSongTotal(middle) == 1) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  out << "media rows: " << high - 1 << " (" << calls
      << " GetSongTotal calls)\n";
  return kExitOk;
}

int RunOptions(HostLibrary& library, const std::string& path,
               std::ostream& out) {
  bool loaded = library.LoadDBOptions(path.c_str());
  out << "LoadDBOptions(" << path << ") = " << (loaded ? "true" : "false")
      << "\n";
  // A media table never holds INT_MAX rows, so 1 means the database answered.
  int answer = library.GetSongTotal(INT_MAX);
  out << "database with these options: "
      << (answer == 1 ? "answers" : "does not answer") << "\n";
  return answer == 1 ? kExitOk : kExitMiss;
}

}  // namespace tools
}  // namespace rondel
