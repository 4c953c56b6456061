#include "platform/message_log.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_error.h"
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

// While the full log can be neither renamed nor cut down, entries are not
// written to it, and room is sought again after this long.
constexpr uint32_t kRetryMilliseconds = 10000;

// An entry written less than this long ago is held back when it comes again.
constexpr uint32_t kRepeatWindowMilliseconds = 60000;
constexpr size_t kHeldTexts = 64;

// A text written within the repeat window, and how often it came again since
// its count last went out.
struct HeldText {
  std::string text;
  LogLevel level;
  uint32_t first_tick;
  unsigned long long repeats;
};

// The mutex guards every field, and the file itself: an entry is appended,
// and the file renamed or cut down, only while it is held, so the size counted
// here is the file's own and no entry lands in a file already renamed away.
struct LogSettings {
  std::mutex mutex;
  std::string file_name;
  bool file_output = true;
  bool screen_output = false;
  // Bytes in the file named file_name, as far as this process wrote them;
  // negative until the file is first opened under that name.
  long long file_size = -1;
  unsigned long long size_cap = kDefaultSizeCap;
  // While the full file cannot be renamed: the entry that said why, kept at
  // the head of the file each time it is cut down; empty otherwise.
  std::string refusal_entry;
  // While the full file can be neither renamed nor cut down: entries go to
  // the screen only, counted here, until room is sought again at retry_tick.
  bool paused = false;
  uint32_t retry_tick = 0;
  unsigned long long entries_not_written = 0;
  int refused_cut = 0;  // test hook: the error every cut fails with
  // Texts written within the repeat window, oldest first.
  std::vector<HeldText> held;
};

// Created on first use and never destroyed, so instances built or destroyed
// during static initialisation and termination of other files still find it.
LogSettings& Shared() {
  static NoDestructor<LogSettings> settings;
  return *settings.get();
}

const char* LevelName(LogLevel level) {
  switch (level) {
    case LogLevel::kError:
      return "error";
    case LogLevel::kWarning:
      return "warning";
    case LogLevel::kNotice:
      return "notice";
    case LogLevel::kInfo:
      return "info";
  }
  return "error";
}

// The text as an entry holds it: cut at kMaxEntryText bytes.
std::string EntryText(const char* text) {
  size_t text_length = 0;
  while (text_length < kMaxEntryText && text[text_length] != '\0') {
    ++text_length;
  }
  return std::string(text, text_length);
}

// "YYYY-MM-DD HH:MM:SS.mmm rondel[PID]: LEVEL: text\n" in local time.
std::string FormatEntry(const std::string& text,
                        LogLevel level = LogLevel::kWarning) {
  std::tm local;
  int milliseconds = 0;
  LocalTimeNow(&local, &milliseconds);
  char stamp[96];
  int stamp_length = std::snprintf(
      stamp, sizeof(stamp),
      "%04d-%02d-%02d %02d:%02d:%02d.%03d rondel[%lu]: %s: ",
      local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
      local.tm_min, local.tm_sec, milliseconds, ProcessId(), LevelName(level));
  std::string entry;
  entry.reserve(static_cast<size_t>(stamp_length) + text.size() + 1);
  entry.append(stamp, static_cast<size_t>(stamp_length));
  entry.append(text);
  entry.push_back('\n');
  return entry;
}

std::string RepeatEntry(const HeldText& held) {
  return FormatEntry(
      held.text + " (repeated " + std::to_string(held.repeats) + " times)",
      held.level);
}

// The counts of every held text that came again, as entries; the texts stay
// held.
// REQUIRES: settings.mutex held.
void TakeRepeats(LogSettings& settings, std::vector<std::string>* entries) {
  for (HeldText& held : settings.held) {
    if (held.repeats == 0) continue;
    entries->push_back(RepeatEntry(held));
    held.repeats = 0;
  }
}

// The entries that `text` at `level` brings: the counts of texts whose window
// has passed, then, unless it is held back as a repeat, the counts of every
// other held text and its own entry.
// REQUIRES: settings.mutex held.
void FoldRepeats(LogSettings& settings, const std::string& text, LogLevel level,
                 std::vector<std::string>* entries) {
  const uint32_t now = TickCount();
  std::vector<HeldText>& held = settings.held;
  for (size_t i = 0; i < held.size();) {
    if (now - held[i].first_tick < kRepeatWindowMilliseconds) {
      ++i;
      continue;
    }
    if (held[i].repeats > 0) entries->push_back(RepeatEntry(held[i]));
    held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
  }
  for (HeldText& one : held) {
    if (one.level == level && one.text == text) {
      ++one.repeats;
      return;
    }
  }
  TakeRepeats(settings, entries);
  if (held.size() >= kHeldTexts) held.erase(held.begin());
  held.push_back(HeldText{text, level, now, 0});
  entries->push_back(FormatEntry(text, level));
}

// True when `entry` would take the file past the cap. An entry longer than
// the cap still goes into a file of its own.
bool Overflows(const LogSettings& settings, size_t entry) {
  return settings.file_size > 0 &&
         static_cast<unsigned long long>(settings.file_size) + entry >
             settings.size_cap;
}

// Appends an entry of the log's own about itself, to the file and the screen.
// REQUIRES: settings.mutex held.
void WriteNotice(LogSettings& settings, const std::string& entry) {
  LogFile file(settings.file_name);
  if (file.valid() && settings.file_size >= 0) {
    settings.file_size +=
        static_cast<long long>(file.Append(entry.data(), entry.size()));
  }
  if (settings.screen_output) WriteToScreen(entry.data(), entry.size());
}

// Cuts the file down in place to its newest whole lines, behind the refusal
// entry when there is one, leaving room for `entry` bytes and, when the cap
// allows, for half the cap more before the next cut.
// REQUIRES: settings.mutex held.
bool CutToNewestLines(LogSettings& settings, size_t entry,
                      std::string* reason) {
  if (settings.refused_cut != 0) {
    *reason = ErrorText(settings.refused_cut);
    return false;
  }
  const unsigned long long cap = settings.size_cap;
  unsigned long long room = cap > entry ? cap - entry : 0;
  if (room > cap / 2) room = cap / 2;
  const std::string& head = settings.refusal_entry;
  room = room > head.size() ? room - head.size() : 0;
  // One byte more than fits: when it is a line end, the line after it is
  // kept whole.
  std::string tail;
  if (!ReadLogTail(settings.file_name, static_cast<size_t>(room) + 1, &tail,
                   reason)) {
    return false;
  }
  if (tail.size() > room) {
    const size_t line_end = tail.find('\n');
    tail.erase(0, line_end == std::string::npos ? tail.size() : line_end + 1);
  }
  if (!head.empty() && tail.find(head) == std::string::npos) {
    tail.insert(0, head);
  }
  settings.file_size = -1;  // unknown should the rewrite fail half way
  if (!RewriteLogFile(settings.file_name, tail, reason)) return false;
  settings.file_size = static_cast<long long>(tail.size());
  return true;
}

// Makes room for `entry` bytes in the full log. The full file replaces the
// older "<name>.1" and a new one is started. When the system refuses the
// rename (another program has the log open on Windows, "<name>.1" is a
// directory), the file is cut down in place to its newest lines instead,
// which are the ones a technician reads first, so the cap holds all the same;
// the first refusal is logged with the system's reason, and that line stays
// at the head of each cut-down file until a rename works again. When the file
// cannot be cut down either, file output pauses (one line says why, past the
// cap) and room is sought again after kRetryMilliseconds. Answers whether
// the entry may be written now.
// REQUIRES: settings.mutex held.
bool MakeRoom(LogSettings& settings, size_t entry) {
  const std::string& name = settings.file_name;
  const std::string rotated = name + kRotatedSuffix;
  std::string rename_reason;
  if (RenameLogFile(name, rotated, &rename_reason)) {
    settings.file_size = 0;
    settings.refusal_entry.clear();
    return true;
  }
  const std::string refusal = "log: cannot rename \"" + name + "\" to \"" +
                              rotated + "\": " + rename_reason;
  std::string cut_reason;
  if (CutToNewestLines(settings, entry, &cut_reason)) {
    if (settings.refusal_entry.empty()) {
      settings.refusal_entry =
          FormatEntry(refusal + "; cut down to its newest lines instead");
      WriteNotice(settings, settings.refusal_entry);
    }
    return true;
  }
  // Neither works when the file is gone (an operator moved it away): then
  // there is room in the new one.
  {
    LogFile file(name);
    settings.file_size = file.valid() ? file.Size() : -1;
  }
  if (!Overflows(settings, entry)) return true;
  if (!settings.paused) {
    WriteNotice(settings,
                FormatEntry(refusal + ", nor cut it down: " + cut_reason +
                            "; file output paused, tried again every " +
                            std::to_string(kRetryMilliseconds / 1000) + " s"));
    settings.paused = true;
    settings.entries_not_written = 0;
  }
  settings.retry_tick = TickCount() + kRetryMilliseconds;
  return false;
}

// Appends one entry to the log file, making room first when the entry would
// take it past the cap. The file is opened for each entry, as an operator who
// removes or moves the log expects a new one to appear.
// REQUIRES: settings.mutex held.
void AppendToFile(LogSettings& settings, const std::string& entry) {
  if (settings.paused) {
    if (static_cast<int32_t>(TickCount() - settings.retry_tick) < 0) {
      ++settings.entries_not_written;
      return;
    }
    settings.file_size = -1;  // the file may have been moved meanwhile
  }
  std::optional<LogFile> file;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (Overflows(settings, entry.size()) &&
        !MakeRoom(settings, entry.size())) {
      ++settings.entries_not_written;
      return;
    }
    file.emplace(settings.file_name);
    if (!file->valid()) return;
    if (settings.file_size >= 0) break;
    settings.file_size = file->Size();
    file.reset();
  }
  if (settings.paused) {
    settings.paused = false;
    file.reset();
    WriteNotice(settings,
                FormatEntry("log: file output resumed; " +
                                std::to_string(settings.entries_not_written) +
                                " entries were not written to the file",
                            LogLevel::kNotice));
    file.emplace(settings.file_name);
    if (!file->valid()) return;
  }
  settings.file_size +=
      static_cast<long long>(file->Append(entry.data(), entry.size()));
}

}  // namespace

MessageLog::MessageLog() = default;
MessageLog::~MessageLog() = default;

bool MessageLog::SetLogFileName(const char* name) {
  FlushRepeats();
  LogSettings& settings = Shared();
  std::lock_guard<std::mutex> hold(settings.mutex);
  settings.held.clear();
  settings.file_name = name != nullptr ? name : "";
  settings.file_size = -1;
  settings.refusal_entry.clear();
  settings.paused = false;
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

namespace {

// Writes the entries to the file and, after the mutex is released, to the
// screen. `fold` takes the entries to write while the mutex is held.
template <typename Fold>
void WriteEntries(Fold fold) {
  std::vector<std::string> entries;
  bool to_screen;
  {
    LogSettings& settings = Shared();
    std::lock_guard<std::mutex> hold(settings.mutex);
    const bool to_file = settings.file_output && !settings.file_name.empty();
    to_screen = settings.screen_output;
    if (!to_file && !to_screen) return;
    fold(settings, &entries);
    if (to_file) {
      for (const std::string& entry : entries) AppendToFile(settings, entry);
    }
  }
  if (to_screen) {
    for (const std::string& entry : entries) {
      WriteToScreen(entry.data(), entry.size());
    }
  }
}

}  // namespace

void MessageLog::AddLog(const char* text, LogLevel level) {
  if (text == nullptr) return;
  const std::string body = EntryText(text);
  WriteEntries([&](LogSettings& settings, std::vector<std::string>* entries) {
    FoldRepeats(settings, body, level, entries);
  });
}

void MessageLog::FlushRepeats() {
  WriteEntries([](LogSettings& settings, std::vector<std::string>* entries) {
    TakeRepeats(settings, entries);
  });
}

std::string FileWrittenStamp(const std::string& path) {
  std::tm local;
  if (!FileWrittenTime(path, &local)) return "";
  char stamp[80];
  std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec);
  return stamp;
}

void SetLogSizeCap(size_t bytes) {
  LogSettings& settings = Shared();
  std::lock_guard<std::mutex> hold(settings.mutex);
  settings.size_cap = bytes > 0 ? bytes : kDefaultSizeCap;
}

void RefuseLogCut(int error_number) {
  LogSettings& settings = Shared();
  std::lock_guard<std::mutex> hold(settings.mutex);
  settings.refused_cut = error_number;
}

}  // namespace platform
}  // namespace rondel
