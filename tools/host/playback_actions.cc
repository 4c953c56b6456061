// The playback actions of the host command: next video, background play and
// the fire alarm. Every output buffer is larger than the size the export
// documents and is read back only up to that size.

#include "host_actions.h"
#include "text_view.h"

namespace rondel {
namespace tools {
std::vector<const char*> PlaybackExportsOf(const std::string& action) {
  if (action == "next") return {kGetNextVideoSymbol};
  if (action == "play") return {kGetRandPlayMediaIDSymbol};
  if (action == "firealarm") return {kGetFirealarmVideoSymbol};
  if (action == "firepage") return {kGetFirealarmPageSymbol};
  return {};
}

int RunNext(HostLibrary& library, const std::string& room,
            DiagListener& listener, std::ostream& out) {
  char name[host::kMediaNameSize + kMargin] = {};
  char code[host::kMediaCodeSize + kMargin] = {};
  char url[host::kPlayUrlSize + kMargin] = {};
  char kind[host::kKindSize + kMargin] = {};
  char text_a[host::kMediaTextSize + kMargin] = {};
  char text_b[host::kMediaTextSize + kMargin] = {};
  int number_a = 0, number_b = 0, number_c = 0;
  // Start-up may have sent texts of its own; only this call's are shown.
  listener.Receive(0);
  int answer = library.GetNextVideo(room.c_str(), name, code, url, kind, text_a,
                                    text_b, &number_a, &number_b, &number_c);
  std::vector<std::string> texts = listener.Receive(100);
  out << "GetNextVideo(" << room << ") = " << answer << "\n"
      << "  url      " << ShowText(FieldText(url, host::kPlayUrlSize)) << "\n"
      << "  kind     " << ShowText(FieldText(kind, host::kKindSize)) << "\n"
      << "  name     " << ShowText(FieldText(name, host::kMediaNameSize))
      << "\n"
      << "  code     " << ShowText(FieldText(code, host::kMediaCodeSize))
      << "\n"
      << "  textA    " << ShowText(FieldText(text_a, host::kMediaTextSize))
      << "\n"
      << "  textB    " << ShowText(FieldText(text_b, host::kMediaTextSize))
      << "\n"
      << "  numberA  " << number_a << "\n"
      << "  numberB  " << number_b << "\n"
      << "  numberC  " << number_c << "\n"
      << "  diagnostic texts: " << texts.size() << "\n";
  for (const std::string& text : texts) out << "    " << ShowText(text) << "\n";
  return answer == 1 ? kExitOk : kExitMiss;
}

int RunPlay(HostLibrary& library, const std::string& room, int calls,
            std::ostream& out) {
  out << "GetRandPlayMediaID(" << room << "), " << calls
      << (calls == 1 ? " call\n" : " calls\n");
  int status = kExitOk;
  for (int call = 1; call <= calls; ++call) {
    int id = library.GetRandPlayMediaID(room.c_str());
    out << "  " << call << ": " << id;
    char name[host::kMediaNameSize + kMargin] = {};
    int media_class = 0;
    if (id == -1) {
      out << "  (nothing to play)";
      status = kExitMiss;
    } else if (library.GetMediaInfo(id, name, nullptr, &media_class, nullptr,
                                    nullptr, nullptr, nullptr, nullptr,
                                    nullptr) == 1) {
      out << "  " << ClassName(media_class) << " "
          << ShowText(FieldText(name, host::kMediaNameSize));
    } else {
      out << "  (not in the catalogue)";
    }
    out << "\n";
  }
  return status;
}

int RunFireAlarm(HostLibrary& library, const std::string& address,
                 std::ostream& out) {
  char url[host::kFireAlarmUrlSize + kMargin] = {};
  char format1[host::kFireAlarmFormat1Size + kMargin] = {};
  char format2[host::kFireAlarmFormat2Size + kMargin] = {};
  int answer =
      library.GetFirealarmVideo(address.c_str(), url, format1, format2);
  out << "GetFirealarmVideo(" << address << ") = " << answer << "\n"
      << "  url      " << ShowText(FieldText(url, host::kFireAlarmUrlSize))
      << "\n"
      << "  format1  "
      << ShowText(FieldText(format1, host::kFireAlarmFormat1Size)) << "\n"
      << "  format2  "
      << ShowText(FieldText(format2, host::kFireAlarmFormat2Size)) << "\n";
  return answer == 1 ? kExitOk : kExitMiss;
}

int RunFirePage(HostLibrary& library, std::ostream& out) {
  char page[host::kFireAlarmPageSize + kMargin] = {};
  // The address plays no part in the answer.
  int answer = library.GetFirealarmPage("", page);
  out << "GetFirealarmPage = " << answer << "\n"
      << "  page     " << ShowText(FieldText(page, host::kFireAlarmPageSize))
      << "\n";
  return answer == 1 ? kExitOk : kExitMiss;
}

}  // namespace tools
}  // namespace rondel
