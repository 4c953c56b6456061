// The fire alarm's remembered answers: the file format, then the process's
// answers and their file.
//
// What the file keeps true, whatever moment a crash strikes:
//  1. The file is never written in place: the new answers go to a temporary
//     created where nothing is, flushed, then renamed over the file, and the
//     directory flushed. A crash leaves the old file or the new one, and a
//     leftover temporary is never read.
//  2. A file that is not whole (a length or checksum that does not match, a
//     body that does not parse to exactly its length) is never served from.
#include "playback/fire_alarm_memory.h"

#include <errno.h>

#include <cstring>
#include <mutex>
#include <utility>

#include "catalogue/snapshot_store.h"
#include "frame/session.h"
#include "platform/coding.h"
#include "platform/file.h"
#include "platform/file_error.h"
#include "platform/message_log.h"
#include "platform/paths.h"

namespace rondel {
namespace fire_alarm {

namespace {

void PutByte(size_t value, std::string* out) {
  out->push_back(static_cast<char>(value & 0xFF));
}

void PutText(const std::string& text, std::string* out) {
  PutByte(text.size(), out);
  out->append(text);
}

// Reads the body field by field; every read is checked against what is left.
class BodyReader {
 public:
  BodyReader(const char* data, size_t size)
      : at_(reinterpret_cast<const unsigned char*>(data)), left_(size) {}

  bool Byte(size_t* value) {
    if (left_ < 1) return false;
    *value = *at_++;
    --left_;
    return true;
  }
  // A one-byte length within [min, max], then that many bytes.
  bool Text(size_t min, size_t max, std::string* text) {
    size_t length = 0;
    if (!Byte(&length) || length < min || length > max || length > left_) {
      return false;
    }
    text->assign(reinterpret_cast<const char*>(at_), length);
    at_ += length;
    left_ -= length;
    return true;
  }
  bool done() const { return left_ == 0; }

 private:
  const unsigned char* at_;
  size_t left_;
};

bool DecodeBody(const char* data, size_t size, Answers* answers) {
  BodyReader body(data, size);
  size_t flags = 0;
  if (!body.Byte(&flags) || (flags & ~size_t{kHasDefault | kHasPage}) != 0) {
    return false;
  }
  Answers decoded;
  std::string text;
  const bool has_default = (flags & kHasDefault) != 0;
  if (!body.Text(has_default ? 1 : 0, has_default ? kMaxFileNameBytes : 0,
                 &text)) {
    return false;
  }
  if (has_default) decoded.default_file = text;
  const bool has_page = (flags & kHasPage) != 0;
  if (!body.Text(0, has_page ? kMaxPageBytes : 0, &text)) return false;
  if (has_page) decoded.page = text;
  size_t low = 0, high = 0;
  if (!body.Byte(&low) || !body.Byte(&high)) return false;
  const size_t count = low | high << 8;
  if (count > kMaxEntries) return false;
  std::string address, file_name;
  for (size_t i = 0; i < count; ++i) {
    if (!body.Text(0, kMaxAddressBytes, &address) ||
        !body.Text(1, kMaxFileNameBytes, &file_name)) {
      return false;
    }
    // Ascending and unique, as Encode writes them.
    if (!decoded.files.empty() && decoded.files.rbegin()->first >= address) {
      return false;
    }
    decoded.files.emplace_hint(decoded.files.end(), address, file_name);
  }
  if (!body.done()) return false;
  *answers = std::move(decoded);
  return true;
}

}  // namespace

std::string Encode(const Answers& answers) {
  std::string body;
  PutByte(
      (answers.default_file ? kHasDefault : 0) | (answers.page ? kHasPage : 0),
      &body);
  PutText(answers.default_file.value_or(""), &body);
  PutText(answers.page.value_or(""), &body);
  PutByte(answers.files.size(), &body);
  PutByte(answers.files.size() >> 8, &body);
  for (const auto& [address, file_name] : answers.files) {
    PutText(address, &body);
    PutText(file_name, &body);
  }
  std::string file(kMagic, kMagicSize);
  platform::PutUint32(static_cast<uint32_t>(body.size()), &file);
  platform::PutUint32(platform::Crc32(body.data(), body.size()), &file);
  return file + body;
}

bool Decode(const char* data, size_t size, Answers* answers) {
  if (size < kHeaderSize || std::memcmp(data, kMagic, kMagicSize) != 0) {
    return false;
  }
  const uint32_t length = platform::GetUint32(data + kMagicSize);
  if (length < kMinBodySize || length > kMaxBodySize ||
      length != size - kHeaderSize) {
    return false;
  }
  const char* body = data + kHeaderSize;
  if (platform::GetUint32(data + kMagicSize + 4) !=
      platform::Crc32(body, length)) {
    return false;
  }
  return DecodeBody(body, length, answers);
}

}  // namespace fire_alarm

namespace {

using fire_alarm::Answers;

std::mutex g_mutex;
Answers g_answers;  // guarded by g_mutex
// Bumped at every change; the file holds the answers of g_saved_version.
unsigned long g_version = 0;        // guarded by g_mutex
unsigned long g_saved_version = 0;  // guarded by g_mutex
// Taken before g_mutex, by one writer of the file at a time.
std::mutex g_file_mutex;

std::string Key(const char* address) {
  return address != nullptr ? address : "";
}

// Writes the file whole (invariant 1).
platform::FileError WriteWhole(const std::string& directory,
                               const std::string& path,
                               const std::string& bytes) {
  const std::string temporary = path + fire_alarm::kTemporarySuffix;
  // A temporary a crash left is nobody's: it goes, so the new one is created
  // where nothing is.
  (void)platform::RemoveFile(temporary);
  platform::File file = platform::File::CreateNewForWrite(temporary);
  if (!file.valid() && errno == ENOENT) {
    platform::MakeDirectory(directory);
    file = platform::File::CreateNewForWrite(temporary);
  }
  platform::FileError error;
  if (!file.valid()) {
    error = platform::FileError::Now("create", temporary);
  } else if (file.Write(bytes.data(), bytes.size()) != bytes.size()) {
    error = platform::FileError::Now("write", temporary);
  } else if (!file.Sync()) {
    error = platform::FileError::Now("flush", temporary);
  }
  file.Close();
  if (error.ok() && !platform::RenameFile(temporary, path)) {
    error = platform::FileError::Now("rename", temporary);
  }
  if (!error.ok()) {
    (void)platform::RemoveFile(temporary);
    return error;
  }
  if (!platform::SyncDirectory(directory)) {
    return platform::FileError::Now("flush", directory);
  }
  return {};
}

// Brings the file up to the answers in memory. The answers are encoded under
// g_mutex and written outside it, so a slow disk never holds up a call that
// answers from memory; g_file_mutex keeps the writes in order.
void Save() {
  std::lock_guard<std::mutex> writing(g_file_mutex);
  std::string bytes;
  unsigned long version = 0;
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    if (g_saved_version == g_version) return;
    bytes = fire_alarm::Encode(g_answers);
    version = g_version;
  }
  const std::string directory = SnapshotDirectoryPath();
  const platform::FileError error =
      WriteWhole(directory, directory + fire_alarm::kFileName, bytes);
  if (!error.ok()) {
    ModuleLog().AddLog(
        ("fire alarm answers not saved (" + error.ToString() + ")").c_str());
    return;
  }
  std::lock_guard<std::mutex> hold(g_mutex);
  g_saved_version = version;
}

// Applies `change` to the answers; saves when it changed them.
template <typename Change>
void Update(Change change) {
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    if (!change(g_answers)) return;
    ++g_version;
  }
  Save();
}

template <typename Value>
bool Assign(std::optional<Value>& slot, const std::optional<Value>& value) {
  if (slot == value) return false;
  slot = value;
  return true;
}

}  // namespace

void FireAlarmMemory::RememberFile(const char* address,
                                   const std::string& file_name) {
  const std::string key = Key(address);
  if (key.size() > fire_alarm::kMaxAddressBytes || file_name.empty() ||
      file_name.size() > fire_alarm::kMaxFileNameBytes) {
    return;
  }
  Update([&](Answers& answers) {
    auto entry = answers.files.find(key);
    if (entry == answers.files.end()) {
      if (answers.files.size() >= fire_alarm::kMaxEntries) return false;
      answers.files.emplace(key, file_name);
      return true;
    }
    if (entry->second == file_name) return false;
    entry->second = file_name;
    return true;
  });
}

void FireAlarmMemory::ForgetFile(const char* address) {
  const std::string key = Key(address);
  Update([&](Answers& answers) { return answers.files.erase(key) > 0; });
}

void FireAlarmMemory::RememberDefault(
    const std::optional<std::string>& file_name) {
  if (file_name && (file_name->empty() ||
                    file_name->size() > fire_alarm::kMaxFileNameBytes)) {
    return;
  }
  Update([&](Answers& answers) {
    return Assign(answers.default_file, file_name);
  });
}

void FireAlarmMemory::RememberPage(const std::optional<std::string>& page) {
  if (page && page->size() > fire_alarm::kMaxPageBytes) return;
  Update([&](Answers& answers) { return Assign(answers.page, page); });
}

std::optional<std::string> FireAlarmMemory::File(const char* address) {
  std::lock_guard<std::mutex> hold(g_mutex);
  auto entry = g_answers.files.find(Key(address));
  if (entry == g_answers.files.end()) return std::nullopt;
  return entry->second;
}

std::optional<std::string> FireAlarmMemory::Default() {
  std::lock_guard<std::mutex> hold(g_mutex);
  return g_answers.default_file;
}

std::optional<std::string> FireAlarmMemory::Page() {
  std::lock_guard<std::mutex> hold(g_mutex);
  return g_answers.page;
}

std::string FireAlarmMemory::Path() {
  return SnapshotDirectoryPath() + fire_alarm::kFileName;
}

void FireAlarmMemory::Load() {
  const std::string path = Path();
  platform::File file = platform::File::OpenForRead(path);
  if (!file.valid()) {
    if (errno != ENOENT) {
      ModuleLog().AddLog(("fire alarm answers not read (" +
                          platform::FileError::Now("open", path).ToString() +
                          ")")
                             .c_str());
    }
    return;
  }
  // One byte more than the largest whole file: a longer file shows as such.
  std::string bytes(fire_alarm::kHeaderSize + fire_alarm::kMaxBodySize + 1,
                    '\0');
  errno = 0;
  const size_t got = file.Read(&bytes[0], bytes.size());
  if (got < bytes.size() && errno != 0) {
    ModuleLog().AddLog(("fire alarm answers not read (" +
                        platform::FileError::Now("read", path).ToString() + ")")
                           .c_str());
    return;
  }
  Answers answers;
  if (!fire_alarm::Decode(bytes.data(), got, &answers)) {
    ModuleLog().AddLog(
        ("fire alarm answers ignored: \"" + path + "\" is damaged").c_str());
    return;
  }
  std::lock_guard<std::mutex> hold(g_mutex);
  g_answers = std::move(answers);
  // What is in memory is what the file holds.
  g_saved_version = ++g_version;
}

}  // namespace rondel
