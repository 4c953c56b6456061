#include "platform/message_log.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "platform/message_log_output.h"
#include "platform/message_log_test_hooks.h"
#include "platform/no_destructor.h"

namespace rondel {
namespace platform {

namespace {

// Longest text kept in one entry; longer texts are cut so that an entry stays
// one write.
constexpr size_t kMaxEntryText = 8192;

// The log file is renamed to "<name>.1" before an entry takes it past this.
constexpr unsigned long long kDefaultSizeCap = 16ull << 20;
constexpr char kRotatedSuffix[] = ".1";

// The mutex guards every field, and the file itself: an entry is appended,
// and the file renamed, only while it is held, so the size counted here is
// the file's own and no entry lands in a file already renamed away.
struct LogSettings {
  std::mutex mutex;
  std::string file_name;
  bool file_output = true;
  bool screen_output = false;
  // Bytes in the file named file_name, as far as this process wrote them;
  // negative until the file is first opened under that name.
  long long file_size = -1;
  unsigned long long size_cap = kDefaultSizeCap;
};

// Created on first use and never destroyed, so instances built or destroyed
// during static initialisation and termination of other files still find it.
LogSettings& Shared() {
  static NoDestructor<LogSettings> settings;
  return *settings.get();
}

// True when `entry` would take the file past the cap. An entry longer than
// the cap still goes into a file of its own.
bool Overflows(const LogSettings& settings, size_t entry) {
  return settings.file_size > 0 &&
         static_cast<unsigned long long>(settings.file_size) + entry >
             settings.size_cap;
}

// Starts a new file; the full one replaces the older "<name>.1". When the
// rename fails (the file was removed, the directory refuses) writing simply
// goes on in the file as it is, which is counted afresh from here.
// REQUIRES: settings.mutex held.
void Rotate(LogSettings& settings) {
  (void)RenameLogFile(settings.file_name, settings.file_name + kRotatedSuffix);
  settings.file_size = 0;
}

// Appends one entry to the log file, rotating it first when the entry would
// take it past the cap. The file is opened for each entry, as an operator who
// removes or moves the log expects a new one to appear.
// REQUIRES: settings.mutex held.
void AppendToFile(LogSettings& settings, const std::string& entry) {
  if (Overflows(settings, entry.size())) Rotate(settings);
  std::optional<LogFile> file;
  file.emplace(settings.file_name);
  if (!file->valid()) return;
  if (settings.file_size < 0) {
    settings.file_size = file->Size();
    if (Overflows(settings, entry.size())) {
      file.reset();
      Rotate(settings);
      file.emplace(settings.file_name);
      if (!file->valid()) return;
    }
  }
  settings.file_size +=
      static_cast<long long>(file->Append(entry.data(), entry.size()));
}

// "YYYY-MM-DD HH:MM:SS.mmm text\n" in local time.
std::string FormatEntry(const char* text) {
  std::tm local;
  int milliseconds = 0;
  LocalTimeNow(&local, &milliseconds);
  char stamp[40];
  int stamp_length =
      std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d.%03d ",
                    local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                    local.tm_hour, local.tm_min, local.tm_sec, milliseconds);
  size_t text_length = 0;
  while (text_length < kMaxEntryText && text[text_length] != '\0') {
    ++text_length;
  }
  std::string entry;
  entry.reserve(static_cast<size_t>(stamp_length) + text_length + 1);
  entry.append(stamp, static_cast<size_t>(stamp_length));
  entry.append(text, text_length);
  entry.push_back('\n');
  return entry;
}

}  // namespace

MessageLog::MessageLog() = default;
MessageLog::~MessageLog() = default;

bool MessageLog::SetLogFileName(const char* name) {
  LogSettings& settings = Shared();
  std::lock_guard<std::mutex> hold(settings.mutex);
  settings.file_name = name != nullptr ? name : "";
  settings.file_size = -1;
  return true;
}

bool MessageLog::EnableFileOutput(bool on) {
  LogSettings& settings = Shared();
  std::lock_guard<std::mutex> hold(settings.mutex);
  settings.file_output = on;
  return true;
}

bool MessageLog::EnableScreenOutput(bool on) {
  LogSettings& settings = Shared();
  std::lock_guard<std::mutex> hold(settings.mutex);
  settings.screen_output = on;
  return true;
}

void MessageLog::AddLog(const char* text) {
  if (text == nullptr) return;
  std::string entry;
  bool to_screen;
  {
    LogSettings& settings = Shared();
    std::lock_guard<std::mutex> hold(settings.mutex);
    const bool to_file = settings.file_output && !settings.file_name.empty();
    to_screen = settings.screen_output;
    if (!to_file && !to_screen) return;
    entry = FormatEntry(text);
    if (to_file) AppendToFile(settings, entry);
  }
  if (to_screen) WriteToScreen(entry.data(), entry.size());
}

void SetLogSizeCap(size_t bytes) {
  LogSettings& settings = Shared();
  std::lock_guard<std::mutex> hold(settings.mutex);
  settings.size_cap = bytes > 0 ? bytes : kDefaultSizeCap;
}

}  // namespace platform
}  // namespace rondel
