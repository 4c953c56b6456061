#include "playback/fire_alarm.h"

#include <cstdio>
#include <cstring>

#include "frame/exchange.h"
#include "frame/settings.h"

namespace rondel {

namespace {

// Rows are bound into a scratch name and only a non-empty one is kept: an
// entry list that ends in a row without a file (a disabled zone, a half-edited
// entry) must still play the file found before it, never a URL ending in "/".
// A fetch failing after a named row keeps that row: the exchange answers what
// it gathered.
bool ReadLastFileName(Exchange& exchange, int column,
                      char (&file_name)[kFireAlarmFileNameSize]) {
  char row_name[kFireAlarmFileNameSize] = "";
  bool found = false;
  exchange.ReadRows({Column::Text(column, row_name, sizeof row_name)}, [&] {
    if (row_name[0] != '\0') {
      std::memcpy(file_name, row_name, std::strlen(row_name) + 1);
      found = true;
    }
    return true;
  });
  return found;
}

}  // namespace

bool LookupFireAlertFile(const char* address,
                         char (&file_name)[kFireAlarmFileNameSize]) {
  Exchange exchange;
  if (!exchange.connected()) return false;
  if (!exchange.Call("sp_lookupfirealerts",
                     {address != nullptr ? Param::Text("@ipaddress", address)
                                         : Param::NullText("@ipaddress")})) {
    return false;
  }
  return ReadLastFileName(exchange, 12, file_name);
}

bool GetFireAlertDefaultFile(char (&file_name)[kFireAlarmFileNameSize]) {
  Exchange exchange;
  if (!exchange.connected()) return false;
  if (!exchange.Call("sp_getfirealertdefaultvideofile", {})) return false;
  return ReadLastFileName(exchange, 1, file_name);
}

bool FindFirealarmVideo(const char* address, char* url, char* format1,
                        char* format2) {
  char file_name[kFireAlarmFileNameSize] = "";
  // Two exchanges, each with its own lock hold: other database calls may run
  // between the lookup and the default.
  if (!LookupFireAlertFile(address, file_name) &&
      !GetFireAlertDefaultFile(file_name)) {
    return false;
  }
  // The file-server registry may replace the address at any time; the copy is
  // whole, never half of an old and half of a new one.
  char file_server[sizeof Settings::file_server_ip];
  CopyFileServerIp(file_server);
  std::snprintf(url, kFireAlarmUrlSize, "vsp://%s/%s", file_server, file_name);
  std::memcpy(format1, "MPEG1", kFireAlarmFormat1Size);
  std::memcpy(format2, "MPEG", kFireAlarmFormat2Size);
  return true;
}

bool FindFirealarmPage(char* page) {
  Exchange exchange;
  if (!exchange.connected()) return false;
  if (!exchange.Call("sp_getfirealerthomepage", {})) return false;
  char row_page[kFireAlarmPageSize] = "";
  bool found = false;
  // Every row is handed on as it comes, an empty page too: the host shows the
  // last one the venue configured.
  exchange.ReadRows({Column::Text(1, row_page, sizeof row_page)}, [&] {
    std::memcpy(page, row_page, std::strlen(row_page) + 1);
    found = true;
    return true;
  });
  return found;
}

}  // namespace rondel
