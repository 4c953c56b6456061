// Helpers for the catalogue tests: a scratch snapshot directory, whole-file
// access, records put into the tables by hand, and a loopback listener for the
// diagnostic datagrams.
#ifndef RONDEL_TESTS_CATALOGUE_CATALOGUE_TEST_UTIL_H_
#define RONDEL_TESTS_CATALOGUE_CATALOGUE_TEST_UTIL_H_

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "catalogue/tables.h"

namespace rondel {
namespace testing {

// A directory removed with its contents when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = "/tmp/rondel-catalogue-XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    if (!path_.empty()) RemoveTree(path_);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  static void RemoveTree(const std::string& path) {
    if (DIR* dir = opendir(path.c_str())) {
      while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string child = path + "/" + name;
        struct stat info;
        if (lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
          RemoveTree(child);
        } else {
          unlink(child.c_str());
        }
      }
      closedir(dir);
    }
    rmdir(path.c_str());
  }

 private:
  std::string path_;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool PathExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// Names in a directory, sorted, one per line.
inline std::string ListDirectory(const std::string& path) {
  std::string names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names += name + "\n";
    }
    closedir(dir);
  }
  return names;
}

// Little-endian int32 bytes, as a snapshot file holds them.
inline std::string Le32(int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i)
    bytes[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
  return bytes;
}

// A text field of `width` bytes: the text, then zeros.
inline std::string Field(const std::string& text, size_t width) {
  std::string bytes = text.substr(0, width);
  bytes.resize(width, '\0');
  return bytes;
}

inline void CopyText(char* field, size_t width, const std::string& text) {
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), text.size() < width ? text.size() : width);
}

// Appends a media record at position MediaCount and reports it as written.
inline MediaRecord& AddMedia(int32_t id, int32_t media_class,
                             const std::string& name = "",
                             std::initializer_list<std::string> files = {}) {
  TableRecords& t = g_catalogue.table_records;
  MediaRecord& m = g_catalogue.medias[t.MediaCount];
  std::memset(&m, 0, sizeof m);
  m.MediaId = id;
  CopyText(m.MediaName, sizeof m.MediaName, name);
  m.Class = media_class;
  size_t at = 0;
  for (const std::string& path : files) {
    std::memcpy(m.FileList + at, path.c_str(), path.size() + 1);
    at += path.size() + 1;
  }
  ++t.MediaCount;
  NoteMediasWritten(t.MediaCount);
  return m;
}

inline RoomRecord& AddRoom(int32_t id, const std::string& info,
                           const std::string& address, int32_t number = 0,
                           int32_t cursor = -1) {
  TableRecords& t = g_catalogue.table_records;
  RoomRecord& r = g_catalogue.rooms[t.RoomCount++];
  std::memset(&r, 0, sizeof r);
  r.RoomId = id;
  CopyText(r.RoomInfo, sizeof r.RoomInfo, info);
  CopyText(r.RoomAddress, sizeof r.RoomAddress, address);
  r.RoomNumber = number;
  r.PlayCursor = cursor;
  return r;
}

inline FileServerRecord& AddFileServer(int32_t id, const std::string& address,
                                       int32_t group, int32_t value3 = 0,
                                       int32_t value5 = 0) {
  TableRecords& t = g_catalogue.table_records;
  FileServerRecord& s = g_catalogue.file_servers[t.FileServerCount++];
  std::memset(&s, 0, sizeof s);
  s.FileServerId = id;
  CopyText(s.ServerAddress, sizeof s.ServerAddress, address);
  s.ServerValue3 = value3;
  s.GroupId = group;
  s.ServerValue5 = value5;
  return s;
}

// A UDP socket on a loopback port that RONDEL_DIAG_TARGET points at while it
// lives.
class DiagListener {
 public:
  DiagListener() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (fd_ >= 0 &&
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
      setenv("RONDEL_DIAG_TARGET",
             ("127.0.0.1:" + std::to_string(port_)).c_str(), 1);
    }
  }
  ~DiagListener() {
    unsetenv("RONDEL_DIAG_TARGET");
    if (fd_ >= 0) close(fd_);
  }
  DiagListener(const DiagListener&) = delete;
  DiagListener& operator=(const DiagListener&) = delete;

  bool ready() const { return port_ != 0; }

  // The next datagram's payload; "<none>" when nothing arrives within five
  // seconds.
  std::string Next() {
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, 5000) != 1) return "<none>";
    char payload[2048];
    const ssize_t got = recv(fd_, payload, sizeof payload, 0);
    return got < 0 ? "<error>" : std::string(payload, static_cast<size_t>(got));
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_CATALOGUE_CATALOGUE_TEST_UTIL_H_
