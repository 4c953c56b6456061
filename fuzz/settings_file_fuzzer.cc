// The settings reader and writer over any file.
//
// Input: optional queries, a zero byte, then the file's bytes (an input with
// no zero byte is all file). Each query line is "section<TAB>key".
//
// Readers: ReadProfileString (into buffers of several sizes, each exactly as
// large as said) and ReadProfileInt for every query, for the settings the
// library reads, and for each section and key name the file itself shows.
// Writer: WriteProfileString into a copy of the file, for names and values
// the format can hold (letters, digits, '_'): the write succeeds, reads back
// as written, and leaves every other such setting reading as before.
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_target.h"
#include "platform/settings_file.h"
#include "scratch_dir.h"

namespace {

using rondel::platform::ReadProfileInt;
using rondel::platform::ReadProfileString;
using rondel::platform::WriteProfileString;

constexpr size_t kMaxNames = 16;
constexpr size_t kMaxQueries = 8;
constexpr size_t kMaxWrites = 3;

using Name = std::pair<std::string, std::string>;  // section, key

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

bool Plain(const std::string& name) {
  if (name.empty() || name.size() > 40) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

std::string Folded(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return folded;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// Section and key names as they show in the file: only plain ones, each
// paired with the plain section above it.
std::vector<Name> NamesShown(const std::string& file) {
  std::vector<Name> names;
  std::string section;
  for (const std::string& raw : Lines(file)) {
    const std::string line = Trim(raw);
    if (line.size() >= 2 && line[0] == '[') {
      const size_t close = line.find(']');
      section = close == std::string::npos ? "" : Trim(line.substr(1, close - 1));
      if (!Plain(section)) section.clear();
      continue;
    }
    const size_t equals = line.find('=');
    if (section.empty() || equals == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, equals));
    if (Plain(key)) names.emplace_back(section, key);
    if (names.size() == kMaxNames) break;
  }
  return names;
}

std::string Read(const std::string& path, const Name& name, size_t out_size) {
  std::unique_ptr<char[]> out(new char[out_size]);
  const size_t stored = ReadProfileString(path.c_str(), name.first.c_str(),
                                          name.second.c_str(), "\x01", out.get(),
                                          out_size);
  FUZZ_CHECK(stored < out_size);
  FUZZ_CHECK(out[stored] == '\0');
  return std::string(out.get(), stored);
}

void ReadAll(const std::string& path, const Name& name) {
  for (size_t out_size : {1, 2, 9, 300}) Read(path, name, out_size);
  ReadProfileInt(path.c_str(), name.first.c_str(), name.second.c_str(), -7);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t zero = input.find('\0');
  const std::string queries = zero == std::string::npos ? "" : input.substr(0, zero);
  const std::string file = zero == std::string::npos ? input : input.substr(zero + 1);

  rondel::fuzz::WriteScratchFile("settings.ini", file.data(), file.size());
  const std::string path = rondel::fuzz::ScratchDirectory() + "settings.ini";

  std::vector<Name> asked = {{"MainServer", "DataBaseServerIp"},
                             {"MainServer", "DataBaseServerPort"},
                             {"KTV", "DataBaseName"},
                             {"VideoServer", "RandPlayType"}};
  for (const std::string& line : Lines(queries)) {
    if (asked.size() == 4 + kMaxQueries) break;
    const size_t tab = line.find('\t');
    asked.emplace_back(line.substr(0, tab),
                       tab == std::string::npos ? "" : line.substr(tab + 1));
  }
  const std::vector<Name> shown = NamesShown(file);
  for (const Name& name : asked) ReadAll(path, name);
  for (const Name& name : shown) ReadAll(path, name);

  // The writer, on a copy: each write must read back, and the plain settings
  // it did not name must read as they did.
  std::vector<Name> plain;
  for (const Name& name : asked) {
    if (Plain(name.first) && Plain(name.second)) plain.push_back(name);
  }
  plain.insert(plain.end(), shown.begin(), shown.end());
  plain.emplace_back("Added", "NewKey");
  rondel::fuzz::WriteScratchFile("copy.ini", file.data(), file.size());
  const std::string copy = rondel::fuzz::ScratchDirectory() + "copy.ini";
  std::map<Name, std::string> before;
  for (const Name& name : plain) {
    before[Name(Folded(name.first), Folded(name.second))] =
        Read(copy, name, 300);
  }
  for (size_t w = 0; w < kMaxWrites && w < plain.size(); ++w) {
    const Name& target = plain[(w * 7 + size) % plain.size()];
    const std::string value = "v" + std::to_string(w) + "_" + std::to_string(size);
    FUZZ_CHECK(WriteProfileString(copy.c_str(), target.first.c_str(),
                                  target.second.c_str(), value.c_str())
                   .ok());
    before[Name(Folded(target.first), Folded(target.second))] = value;
    for (const Name& name : plain) {
      const std::string& expected =
          before[Name(Folded(name.first), Folded(name.second))];
      FUZZ_CHECK(Read(copy, name, 300) == expected);
    }
  }
  // Names the format cannot hold, or any at all: answered, never a crash.
  for (const Name& name : asked) {
    WriteProfileString(copy.c_str(), name.first.c_str(), name.second.c_str(),
                       name.second.c_str());
  }
  return 0;
}
