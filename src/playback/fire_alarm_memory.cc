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
//  3. One write run at a time writes the file (the writer thread's, or
//     FinishWriting's own last one), one write at a time, each of the answers
//     as they stood when it began; the last write of a run holds the newest
//     answers. No thread but the stopping one waits for the disk.
#include "playback/fire_alarm_memory.h"

#include <errno.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "catalogue/snapshot_store.h"
#include "frame/session.h"
#include "platform/coding.h"
#include "platform/file.h"
#include "platform/file_error.h"
#include "platform/message_log.h"
#include "platform/no_destructor.h"
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

// What the process remembers and the state of its one writer. Never
// destroyed: a writer still at work when the process exits must not find it
// gone.
struct Memory {
  std::mutex mutex;
  Answers answers;  // guarded by mutex
  // Bumped at every change; the file holds the answers of saved_version.
  unsigned long version = 0;        // guarded by mutex
  unsigned long saved_version = 0;  // guarded by mutex
  // True from the start of a write run (the writer's, or FinishWriting's own)
  // until it has nothing left to write.
  bool writing = false;  // guarded by mutex
  // FinishWriting calls under way: while any runs no writer starts, and
  // FinishWriting itself writes what is left.
  int stopping = 0;              // guarded by mutex
  std::condition_variable done;  // signalled when writing turns false
  std::thread writer;            // the last writer started; joined by
                                 // the next start or FinishWriting
};

Memory& TheMemory() {
  static platform::NoDestructor<Memory> memory;
  return *memory.get();
}

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

// Brings the file up to the answers in memory: writes until it holds the
// newest version or a write fails. Changes made while a write is under way
// are gathered into the next one, so a burst of answers costs two writes, not
// one per answer. A failed write ends the run rather than retrying against a
// disk that refuses; the next answer, or FinishWriting, tries again. Nothing
// leaves it: an exception on the writer's thread would end the host.
// REQUIRES: `hold` holds memory.mutex; it holds it again on return.
void WriteUntilSaved(Memory& memory, std::unique_lock<std::mutex>& hold) {
  try {
    while (memory.saved_version != memory.version) {
      const std::string bytes = fire_alarm::Encode(memory.answers);
      const unsigned long version = memory.version;
      hold.unlock();
      const std::string directory = SnapshotDirectoryPath();
      const platform::FileError error =
          WriteWhole(directory, directory + fire_alarm::kFileName, bytes);
      if (!error.ok()) {
        ModuleLog().AddLog(
            ("fire alarm answers not saved (" + error.ToString() + ")")
                .c_str());
      }
      hold.lock();
      if (!error.ok()) break;
      memory.saved_version = version;
    }
  } catch (...) {
    if (!hold.owns_lock()) hold.lock();
  }
}

// The writer's thread: one write run, then it ends.
void RunWriter() {
  Memory& memory = TheMemory();
  std::unique_lock<std::mutex> hold(memory.mutex);
  WriteUntilSaved(memory, hold);
  memory.writing = false;
  memory.done.notify_all();
}

// Starts the writer unless one is at work (it will see the change) or
// FinishWriting runs (it writes the change itself).
// REQUIRES: memory.mutex held.
void StartWriter(Memory& memory) {
  if (memory.writing || memory.stopping > 0) return;
  // The last writer has left its loop; joining only waits for its return.
  if (memory.writer.joinable()) memory.writer.join();
  try {
    memory.writer = std::thread(RunWriter);
    memory.writing = true;
  } catch (const std::system_error& error) {
    ModuleLog().AddLog((std::string("fire alarm answers not saved (writer: ") +
                        error.what() + ")")
                           .c_str());
  }
}

// Applies `change` to the answers; when it changed them, or the file is still
// behind them (its last write failed), has the writer save them.
template <typename Change>
void Update(Change change) {
  Memory& memory = TheMemory();
  std::lock_guard<std::mutex> hold(memory.mutex);
  if (change(memory.answers)) {
    ++memory.version;
  } else if (memory.saved_version == memory.version) {
    return;
  }
  StartWriter(memory);
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
  Memory& memory = TheMemory();
  std::lock_guard<std::mutex> hold(memory.mutex);
  auto entry = memory.answers.files.find(Key(address));
  if (entry == memory.answers.files.end()) return std::nullopt;
  return entry->second;
}

std::optional<std::string> FireAlarmMemory::Default() {
  Memory& memory = TheMemory();
  std::lock_guard<std::mutex> hold(memory.mutex);
  return memory.answers.default_file;
}

std::optional<std::string> FireAlarmMemory::Page() {
  Memory& memory = TheMemory();
  std::lock_guard<std::mutex> hold(memory.mutex);
  return memory.answers.page;
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
  Memory& memory = TheMemory();
  std::lock_guard<std::mutex> hold(memory.mutex);
  memory.answers = std::move(answers);
  // What is in memory is what the file holds.
  memory.saved_version = ++memory.version;
}

void FireAlarmMemory::FinishWriting() {
  Memory& memory = TheMemory();
  std::unique_lock<std::mutex> hold(memory.mutex);
  // From here on a change starts no writer: a thread started now could outlive
  // this call. What changes while it runs is written below.
  ++memory.stopping;
  memory.done.wait(hold, [&] { return !memory.writing; });
  // The writer has left its run; joining only waits for its return.
  if (memory.writer.joinable()) memory.writer.join();
  // One last attempt at what the file lacks: answers given since the writer's
  // last write, or those of a write that failed.
  memory.writing = true;
  WriteUntilSaved(memory, hold);
  memory.writing = false;
  --memory.stopping;
  memory.done.notify_all();
}

}  // namespace rondel
