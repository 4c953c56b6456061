#include "frame/settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "frame/session.h"
#include "platform/file_error.h"
#include "platform/message_log.h"
#include "platform/paths.h"
#include "platform/settings_file.h"

namespace rondel {

namespace {

// Addresses are read with length 20 (19 characters kept), the other texts with
// 255.
constexpr size_t kAddressReadLength = 20;
constexpr size_t kTextReadLength = 255;

Settings g_settings;  // constant-initialised: valid before any static
                      // constructor runs
std::mutex g_file_server_ip_mutex;  // constexpr constructor: likewise

// A settings file that cannot be read leaves every value at its default;
// the operator learns why from one line of the log.
void LogIfUnreadable(const char* path) {
  const platform::FileError error = platform::ProbeProfile(path);
  if (error.ok()) return;
  ModuleLog().AddLog(
      ("settings file: " + error.ToString() + "; the defaults are used")
          .c_str(),
      platform::LogLevel::kWarning);
}

void ReadClientCharset(const char* path) {
  platform::ReadProfileString(path, "MainServer", "ClientCharset", "GB18030",
                              g_settings.client_charset,
                              sizeof(g_settings.client_charset));
}

// Server, database, user and password, in the order the start-up read uses.
void ReadConnectionSettings(const char* path) {
  platform::ReadProfileString(path, "MainServer", "DataBaseServerIp",
                              "127.0.0.1", g_settings.database_server_ip,
                              kAddressReadLength);
  const int port =
      platform::ReadProfileInt(path, "MainServer", "DataBaseServerPort", 0);
  g_settings.database_server_port = port > 0 && port <= 65535 ? port : 0;
  platform::ReadProfileString(path, "KTV", "DataBaseName", "karaok",
                              g_settings.database_name, kTextReadLength);
  platform::ReadProfileString(path, "MainServer", "UserName", "sa",
                              g_settings.user_name, kTextReadLength);
  platform::ReadProfileString(path, "MainServer", "PassWord", "",
                              g_settings.password, kTextReadLength);
}

}  // namespace

static_assert(sizeof(Settings::file_server_ip) >= kAddressReadLength,
              "address buffer");
static_assert(sizeof(Settings::database_server_ip) >= kAddressReadLength,
              "address buffer");
static_assert(sizeof(Settings::database_name) >= kTextReadLength,
              "text buffer");
static_assert(sizeof(Settings::user_name) >= kTextReadLength, "text buffer");
static_assert(sizeof(Settings::password) >= kTextReadLength, "text buffer");

Settings& CurrentSettings() { return g_settings; }

std::string DatabaseServerTarget(const char* address, int32_t port) {
  std::string target(address);
  if (port > 0 && target.find(':') == std::string::npos) {
    target += ':' + std::to_string(port);
  }
  return target;
}

std::string SettingsFilePath() {
  const char* path = std::getenv("RONDEL_SETTINGS_FILE");
  if (path != nullptr && path[0] != '\0') return path;
  return platform::DefaultSettingsPath();
}

void CopyFileServerIp(char (&out)[sizeof Settings::file_server_ip]) {
  std::lock_guard<std::mutex> hold(g_file_server_ip_mutex);
  std::memcpy(out, g_settings.file_server_ip, sizeof out);
  out[sizeof out - 1] = '\0';
}

void StoreFileServerIp(const char* address) {
  char value[sizeof Settings::file_server_ip] = {};
  if (address != nullptr) {
    std::memcpy(value, address, strnlen(address, sizeof value - 1));
  }
  std::lock_guard<std::mutex> hold(g_file_server_ip_mutex);
  std::memcpy(g_settings.file_server_ip, value, sizeof value);
}

void ReadStartupSettings(const char* path) {
  LogIfUnreadable(path);
  char file_server_ip[sizeof Settings::file_server_ip];
  platform::ReadProfileString(path, "MainServer", "FileServerIP", "",
                              file_server_ip, kAddressReadLength);
  StoreFileServerIp(file_server_ip);
  ReadConnectionSettings(path);
  ReadClientCharset(path);
  g_settings.keep_unsent_plays =
      platform::ReadProfileInt(path, "VideoServer", "KeepUnsentPlays", 1) != 0;
}

void ReadDatabaseSettings(const char* path) {
  LogIfUnreadable(path);
  ReadConnectionSettings(path);
  ReadClientCharset(path);
}

platform::FileError PersistRandPlayType(int32_t play_type) {
  char text[16];
  std::snprintf(text, sizeof(text), "%d", static_cast<int>(play_type));
  platform::FileError error = platform::WriteProfileString(
      SettingsFilePath().c_str(), "VideoServer", "RandPlayType", text);
  if (!error.ok()) {
    ModuleLog().AddLog(("RandPlayType not saved: " + error.ToString()).c_str(),
                       platform::LogLevel::kWarning);
  }
  return error;
}

int32_t RestoreRandPlayType() {
  return platform::ReadProfileInt(SettingsFilePath().c_str(), "VideoServer",
                                  "RandPlayType", 2);
}

}  // namespace rondel
