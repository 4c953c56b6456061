// What a venue server for a test is on every platform: its address and the
// settings file pointing at it.
#include "venue_server.h"

#include <gtest/gtest.h>

#include <fstream>

namespace rondel::testing {

std::string VenueServer::address() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::string VenueServer::WriteSettingsFile(
    const std::string& file_server_ip) const {
  std::string path = folder_ + "/settings.ini";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "[MainServer]\r\n"
      << "DataBaseServerIp=127.0.0.1\r\n"
      << "DataBaseServerPort=" << port_ << "\r\n"
      << "UserName=sa\r\n"
      << "PassWord=\r\n"
      << "FileServerIP=" << file_server_ip << "\r\n"
      << "[KTV]\r\n"
      << "DataBaseName=karaok\r\n";
  if (!out) ADD_FAILURE() << "cannot write " << path;
  return path;
}

}  // namespace rondel::testing
