#include "platform/message_log.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/no_destructor.h"

namespace rondel {
namespace platform {

namespace {

// Longest text kept in one entry; longer texts are cut so that an entry stays
// one write.
constexpr size_t kMaxEntryText = 8192;

struct LogSettings {
  std::mutex mutex;
  std::string file_name;
  bool file_output = true;
  bool screen_output = false;
};

// Created on first use and never destroyed, so instances built or destroyed
// during static initialisation and termination of other files still find it.
LogSettings& Shared() {
  static NoDestructor<LogSettings> settings;
  return *settings.get();
}

// One complete write or nothing more to try; O_APPEND keeps entries whole and
// in place.
void WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t put = write(fd, data, length);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    data += put;
    length -= static_cast<size_t>(put);
  }
}

// "YYYY-MM-DD HH:MM:SS.mmm text\n" in local time.
std::string FormatEntry(const char* text) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  time_t seconds = now.tv_sec;
  tm local;
  localtime_r(&seconds, &local);
  char stamp[40];
  int stamp_length = std::snprintf(
      stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d.%03d ",
      local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
      local.tm_min, local.tm_sec, static_cast<int>(now.tv_nsec / 1000000));
  size_t text_length = strnlen(text, kMaxEntryText);
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
  std::string file_name;
  bool to_file;
  bool to_screen;
  {
    LogSettings& settings = Shared();
    std::lock_guard<std::mutex> hold(settings.mutex);
    file_name = settings.file_name;
    to_file = settings.file_output && !file_name.empty();
    to_screen = settings.screen_output;
  }
  if (!to_file && !to_screen) return;
  std::string entry = FormatEntry(text);
  if (to_file) {
    int fd = open(file_name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                  0644);
    if (fd >= 0) {
      WriteAll(fd, entry.data(), entry.size());
      close(fd);
    }
  }
  if (to_screen) WriteAll(STDERR_FILENO, entry.data(), entry.size());
}

}  // namespace platform
}  // namespace rondel
