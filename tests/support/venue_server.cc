// What a venue server for a test is on every platform: its address and the
// settings file pointing at it.
#include "venue_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace rondel::testing {

std::string TestVenue() {
  const char* venue = std::getenv("RONDEL_TEST_VENUE");
  return venue != nullptr && *venue != '\0' ? venue : "gbk";
}

bool TestVenueHolds(const std::string& text) {
  if (TestVenue() != "unicode") return true;
  // GBK: ASCII, or a lead byte 0x81-0xFE with a trail byte 0x40-0xFE but 0x7F.
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) continue;
    if (byte == 0x80 || byte == 0xFF || i + 1 == text.size()) return false;
    const auto trail = static_cast<unsigned char>(text[++i]);
    if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
  }
  return true;
}

std::string VenueServer::address() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::string VenueServer::WriteSettingsFile(
    const std::string& file_server_ip,
    const std::string& client_charset) const {
  std::string path = folder_ + "/settings.ini";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "[MainServer]\r\n"
      << "DataBaseServerIp=127.0.0.1\r\n"
      << "DataBaseServerPort=" << port_ << "\r\n"
      << "UserName=sa\r\n"
      << "PassWord=\r\n"
      << "FileServerIP=" << file_server_ip << "\r\n";
  // A Latin-1 venue's texts are read and sent as its own single bytes.
  if (!client_charset.empty()) {
    out << "ClientCharset=" << client_charset << "\r\n";
  } else if (venue_ == "latin1") {
    out << "ClientCharset=CP1252\r\n";
  }
  out << "[KTV]\r\n"
      << "DataBaseName=karaok\r\n";
  if (!out) ADD_FAILURE() << "cannot write " << path;
  return path;
}

}  // namespace rondel::testing
