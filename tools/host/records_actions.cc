// The records and registry actions. Command-line shapes are one table; each
// action calls its export once and prints the answer and every output. Output
// buffers are larger than the sizes the exports document and are read back
// only up to those sizes.
#include "records_actions.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "host_actions.h"
#include "text_view.h"

namespace rondel {
namespace tools {
namespace {

// Outputs that are outputs only start here, so that one the export did not
// write shows as such.
constexpr int kUnwritten = -1;

// The words an action takes, one letter each: 'i' an integer, 't' a text, 'r'
// a room address where "-" means none; an upper-case letter is an optional
// last word ('I' an integer, 0 when left out; 'T' a text, none when left out).
struct Shape {
  const char* action;
  const char* words;
  const char* usage;
  std::vector<const char*> exports;
};

const std::vector<Shape>& Shapes() {
  static const std::vector<Shape> shapes = {
      {"playtime",
       "ittti",
       "MEDIA ROOM BEGIN END TYPE",
       {kSaveVideoTimeSymbol}},
      {"addlog", "riT", "ROOM MEDIA [RESERVED]", {kAddLogSymbol}},
      {"modifylog", "iT", "TRADELOG [RESERVED]", {kModifyLogSymbol}},
      {"authorize", "riT", "ROOM MEDIA [RESERVED]", {kGetAuthorizationSymbol}},
      {"dataserver", "", "", {kGetDataServerSymbol}},
      {"group", "i", "SERVER_ID", {kGetServerGroupSymbol}},
      {"conn add",
       "iiiit",
       "GROUP SERVER COUNT TOTAL ADDRESS",
       {kAddVideoServerConnectNumSymbol}},
      {"conn modify",
       "iiiit",
       "GROUP SERVER COUNT TOTAL ADDRESS",
       {kModifyVideoServerConnectNumSymbol}},
      {"conn get", "iI", "GROUP [SERVER]", {kGetVideoServerConnectNumSymbol}},
      {"conn delete",
       "iI",
       "GROUP [SERVER]",
       {kDeleteVideoServerConnectNumSymbol}},
      {"groupstate", "ii", "ISVALID GROUP", {kModifyGroupStateSymbol}},
  };
  return shapes;
}

const Shape* FindShape(const std::string& action) {
  for (const Shape& shape : Shapes()) {
    if (action == shape.action) return &shape;
  }
  return nullptr;
}

bool ParseInt(const std::string& word, int32_t* value) {
  if (word.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(word.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX)
    return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

std::string Shown(const std::optional<std::string>& text) {
  return text ? ShowText(*text) : "(none)";
}

const char* CStr(const std::optional<std::string>& text) {
  return text ? text->c_str() : nullptr;
}

const char* Bool(bool answer) { return answer ? "true" : "false"; }

// Prints the error code and text of a trade-log or authorization call.
void PrintError(int error_code, const char* error_text, std::ostream& out) {
  out << "  errorCode   " << error_code << "\n"
      << "  errorText   "
      << ShowText(FieldText(error_text, host::kErrorTextSize)) << "\n";
}

// FileServerIP as the fire-alarm URL "vsp://ADDRESS/file" shows it: no export
// reads it back, and the URL is built from it. "0.0.0.0" is no room's
// address, so the URL is that of the venue's default video. Nullopt when the
// library or the database gives no URL.
std::optional<std::string> ObservedFileServerIp(HostLibrary& library) {
  if (library.GetFirealarmVideo == nullptr) return std::nullopt;
  char url[host::kFireAlarmUrlSize + kMargin] = {};
  char format1[host::kFireAlarmFormat1Size + kMargin] = {};
  char format2[host::kFireAlarmFormat2Size + kMargin] = {};
  if (library.GetFirealarmVideo("0.0.0.0", url, format1, format2) != 1)
    return std::nullopt;
  const std::string text = FieldText(url, host::kFireAlarmUrlSize);
  const std::string scheme = host::kUrlScheme;
  if (text.compare(0, scheme.size(), scheme) != 0) return std::nullopt;
  size_t slash = text.find('/', scheme.size());
  return text.substr(scheme.size(), slash == std::string::npos
                                        ? std::string::npos
                                        : slash - scheme.size());
}

int RunDataServer(HostLibrary& library, std::ostream& out) {
  std::optional<std::string> before = ObservedFileServerIp(library);
  int answer = library.GetDataServer();
  std::optional<std::string> after = ObservedFileServerIp(library);
  out << "GetDataServer = " << answer << "\n";
  if (before && after) {
    out << "  FileServerIP  " << ShowText(*after)
        << " (before: " << ShowText(*before) << "; from the fire-alarm URL)\n";
  } else {
    out << "  FileServerIP  not observable (no fire-alarm URL answered)\n";
  }
  return answer == 1 ? kExitOk : kExitMiss;
}

int RunConnectionCount(HostLibrary& library, const RecordsCommand& command,
                       DiagListener* listener, std::ostream& out) {
  const int32_t group = command.numbers[0], server = command.numbers[1];
  const int32_t count = command.numbers[2], total = command.numbers[3];
  const std::string& address = *command.texts[0];
  const bool modify = command.action == "conn modify";
  if (modify) listener->Receive(0);  // start-up's texts are not this call's
  bool answer = modify ? library.ModifyVideoServerConnectNum(
                             group, server, count, total, address.c_str())
                       : library.AddVideoServerConnectNum(
                             group, server, count, total, address.c_str());
  out << (modify ? "ModifyVideoServerConnectNum" : "AddVideoServerConnectNum")
      << "(group " << group << ", server " << server << ", connections "
      << count << ", total " << total << ", address " << ShowText(address)
      << ") = " << Bool(answer) << "\n";
  if (modify) {
    std::vector<std::string> texts = listener->Receive(100);
    out << "  diagnostic texts: " << texts.size() << "\n";
    for (const std::string& text : texts)
      out << "    " << ShowText(text) << "\n";
  }
  return answer ? kExitOk : kExitMiss;
}

}  // namespace

bool IsRecordsAction(const std::string& action) {
  return action == "conn" || FindShape(action) != nullptr;
}

bool ParseRecordsCommand(const std::string& action,
                         const std::vector<std::string>& rest,
                         RecordsCommand* command, std::string* error) {
  std::vector<std::string> words = rest;
  command->action = action;
  if (action == "conn") {
    if (words.empty()) {
      *error = "conn needs add, modify, get or delete";
      return false;
    }
    command->action += " " + words[0];
    words.erase(words.begin());
  }
  const Shape* shape = FindShape(command->action);
  if (shape == nullptr) {
    *error = "unknown action " + command->action;
    return false;
  }
  const std::string pattern = shape->words;
  size_t required = 0;
  for (char letter : pattern) required += (letter >= 'a' && letter <= 'z');
  if (words.size() < required || words.size() > pattern.size()) {
    *error = command->action + " takes " +
             (pattern.empty() ? std::string("no argument") : shape->usage);
    return false;
  }
  for (size_t k = 0; k < pattern.size(); ++k) {
    const char letter = pattern[k];
    const bool given = k < words.size();
    if (letter == 'i' || letter == 'I') {
      int32_t value = 0;
      if (given && !ParseInt(words[k], &value)) {
        *error = "bad number " + words[k];
        return false;
      }
      command->numbers.push_back(value);
    } else if (!given || (letter == 'r' && words[k] == "-")) {
      command->texts.push_back(std::nullopt);
    } else {
      command->texts.push_back(words[k]);
    }
  }
  return true;
}

std::vector<const char*> RecordsExportsOf(const RecordsCommand& command) {
  const Shape* shape = FindShape(command.action);
  return shape ? shape->exports : std::vector<const char*>();
}

bool RecordsShowDiagnostics(const RecordsCommand& command) {
  return command.action == "conn modify";
}

int RunRecords(HostLibrary& library, const RecordsCommand& command,
               DiagListener* listener, std::ostream& out) {
  const std::string& action = command.action;
  const std::vector<int32_t>& n = command.numbers;
  const auto& t = command.texts;
  char error_text[host::kErrorTextSize + kMargin] = {};
  int error_code = 0;
  if (action == "playtime") {
    // The export takes writable texts; it is handed copies.
    std::string room = *t[0], begin = *t[1], end = *t[2];
    int answer =
        library.SaveVideoTime(n[0], &room[0], &begin[0], &end[0], n[1]);
    out << "SaveVideoTime(media " << n[0] << ", room " << ShowText(*t[0])
        << ", begin " << ShowText(*t[1]) << ", end " << ShowText(*t[2])
        << ", type " << n[1] << ") = " << answer << "\n";
    return kExitOk;
  }
  if (action == "addlog") {
    int tradelog_id = 0;
    int answer = library.AddLog(CStr(t[0]), n[0], &tradelog_id, &error_code,
                                error_text, CStr(t[1]));
    out << "AddLog(room " << Shown(t[0]) << ", media " << n[0] << ", reserved "
        << Shown(t[1]) << ") = " << answer << "\n"
        << "  tradeLogId  " << tradelog_id << "\n";
    PrintError(error_code, error_text, out);
    return answer == 1 ? kExitOk : kExitMiss;
  }
  if (action == "modifylog") {
    int answer = library.ModifyLog(n[0], &error_code, error_text, CStr(t[0]));
    out << "ModifyLog(" << n[0] << ", reserved " << Shown(t[0])
        << ") = " << answer << "\n";
    PrintError(error_code, error_text, out);
    return answer == 1 ? kExitOk : kExitMiss;
  }
  if (action == "authorize") {
    int answer = library.GetAuthorization(CStr(t[0]), n[0], &error_code,
                                          error_text, CStr(t[1]));
    out << "GetAuthorization(room " << Shown(t[0]) << ", media " << n[0]
        << ", reserved " << Shown(t[1]) << ") = " << answer
        << (answer == 1 ? " (authorized)\n" : " (refused)\n");
    PrintError(error_code, error_text, out);
    return answer == 1 ? kExitOk : kExitMiss;
  }
  if (action == "dataserver") return RunDataServer(library, out);
  if (action == "group") {
    int group = kUnwritten;
    bool answer = library.GetServerGroup(n[0], &group);
    out << "GetServerGroup(" << n[0] << ") = " << Bool(answer) << "\n"
        << "  groupId  " << group << "\n";
    return answer ? kExitOk : kExitMiss;
  }
  if (action == "conn add" || action == "conn modify")
    return RunConnectionCount(library, command, listener, out);
  if (action == "conn get") {
    int connections = kUnwritten;
    char address[host::kAddressSize + kMargin] = {};
    bool answer =
        library.GetVideoServerConnectNum(n[0], n[1], &connections, address);
    out << "GetVideoServerConnectNum(group " << n[0] << ", server " << n[1]
        << ") = " << Bool(answer) << "\n"
        << "  connections  " << connections << "\n"
        << "  address      " << ShowText(FieldText(address, host::kAddressSize))
        << "\n";
    return connections != kUnwritten ? kExitOk : kExitMiss;
  }
  if (action == "conn delete") {
    bool answer = library.DeleteVideoServerConnectNum(n[0], n[1]);
    out << "DeleteVideoServerConnectNum(group " << n[0] << ", server " << n[1]
        << ") = " << Bool(answer) << "\n";
    return kExitOk;
  }
  int answer = library.ModifyGroupState(n[0], n[1]);
  out << "ModifyGroupState(isValid " << n[0] << ", group " << n[1]
      << ") = " << answer << "\n";
  return answer == 1 ? kExitOk : kExitMiss;
}

}  // namespace tools
}  // namespace rondel
