// The database check: one login as the library makes it (same server, port,
// user, password, character set and protocol version), with the database named
// in the login so that the server says itself whether it can open it. The
// handlers only collect what they are told and always answer INT_CANCEL: the
// client library ends the process on INT_EXIT.
#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

// clang-format off
#include <sybfront.h>  // declares the types sybdb.h uses: keep it first
#include <sybdb.h>
// clang-format on

#include "frame/settings.h"
#include "platform/os_error_text.h"
#include "status_model.h"

namespace rondel {
namespace tools {

namespace {

// What the handlers were told during the one login of this process's check.
struct Heard {
  std::vector<ServerMessage> messages;
  std::string error;     // the client library's text
  std::string os_error;  // the system's, when there was one
  int error_number = 0;
};
Heard g_heard;
std::mutex g_heard_mutex;
// The client library's start, handlers and time-outs are process-wide: one
// check at a time, however many threads ask (a console serving several pages).
std::mutex g_check_mutex;

std::string OneLine(const char* text) {
  std::string line = text != nullptr ? text : "";
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

int OnError(DBPROCESS*, int, int error_number, int os_error, char* error_text,
            char* os_error_text) {
  std::lock_guard<std::mutex> hold(g_heard_mutex);
  // The first error is the cause; later ones follow from it.
  if (g_heard.error_number == 0) {
    g_heard.error_number = error_number;
    g_heard.error = OneLine(error_text);
    // The library's own text is the C library's, which on Windows has none
    // for a Winsock error.
    g_heard.os_error =
        os_error > 0 ? platform::OsErrorText(os_error) : OneLine(os_error_text);
  }
  return INT_CANCEL;
}

int OnMessage(DBPROCESS*, DBINT number, int state, int severity, char* text,
              char*, char*, int) {
  if (severity <= 10) return 0;  // a changed context, a language: every login
  std::lock_guard<std::mutex> hold(g_heard_mutex);
  g_heard.messages.push_back(ServerMessage{static_cast<int32_t>(number),
                                           severity, state, OneLine(text)});
  return 0;
}

}  // namespace

DatabaseStatus CheckDatabase(const SettingsStatus& settings,
                             int timeout_seconds) {
  DatabaseStatus status;
  status.target = DatabaseServerTarget(settings.server_address.c_str(),
                                       settings.server_port);
  status.database = settings.database;
  status.user = settings.user;
  if (settings.server_address.empty()) {
    status.connect_error = "no server named (DataBaseServerIp is empty)";
    return status;
  }
  std::lock_guard<std::mutex> one_check(g_check_mutex);
  if (dbinit() == FAIL) {
    status.connect_error = "the client library does not start";
    return status;
  }
  dberrhandle(OnError);
  dbmsghandle(OnMessage);
  {
    std::lock_guard<std::mutex> hold(g_heard_mutex);
    g_heard = Heard();
  }
  LOGINREC* login = dblogin();
  if (login == nullptr) {
    status.connect_error = "the client library gives no login record";
    dbexit();
    return status;
  }
  DBSETLUSER(login, settings.user.c_str());
  DBSETLPWD(login, settings.password.c_str());
  DBSETLAPP(login, "rondel-status");
  DBSETLVERSION(login, DBVERSION_74);
  // ClientCharset=server is learned by the library after its login; only the
  // login is tried here, which any character set does.
  std::string charset = settings.client_charset;
  for (char& c : charset) c = static_cast<char>(std::tolower(c));
  if (!charset.empty() && charset != "server") {
    DBSETLCHARSET(login, settings.client_charset.c_str());
  }
  DBSETLDBNAME(login, settings.database.c_str());
  dbsetlogintime(timeout_seconds);
  dbsettime(timeout_seconds);

  const auto begin = std::chrono::steady_clock::now();
  DBPROCESS* connection = dbopen(login, status.target.c_str());
  const auto took = std::chrono::steady_clock::now() - begin;
  dbloginfree(login);

  std::lock_guard<std::mutex> hold(g_heard_mutex);
  status.messages = g_heard.messages;
  status.logged_in = connection != nullptr;
  status.reached = status.logged_in || !status.messages.empty();
  if (status.reached) {
    status.login_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
  } else {
    status.connect_error = !g_heard.os_error.empty() ? g_heard.os_error
                           : !g_heard.error.empty()  ? g_heard.error
                                                     : "no answer";
  }
  if (connection != nullptr) dbclose(connection);
  dbexit();
  return status;
}

}  // namespace tools
}  // namespace rondel
