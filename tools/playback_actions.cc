// The playback actions of the host command: next video, background play and
// the fire alarm. Every output buffer is larger than the size the export
// documents and is read back only up to that size.

#include "host_actions.h"
#include "text_view.h"

namespace rondel {
namespace tools {
namespace {

constexpr size_t kUrlSize = 41;
constexpr size_t kKindSize = 5;
constexpr size_t kFireUrlSize = 282;
constexpr size_t kFormat1Size = 6;
constexpr size_t kFormat2Size = 5;
constexpr size_t kPageSize = 100;
constexpr size_t kMargin = 64;

}  // namespace

std::vector<const char*> PlaybackExportsOf(const std::string& action) {
  if (action == "next") return {kGetNextVideoSymbol};
  if (action == "play") return {kGetRandPlayMediaIDSymbol};
  if (action == "firealarm") return {kGetFirealarmVideoSymbol};
  if (action == "firepage") return {kGetFirealarmPageSymbol};
  return {};
}

int RunNext(HostLibrary& library, const std::string& room,
            DiagListener& listener, std::ostream& out) {
  char name[kNameSize + kMargin] = {};
  char code[kCodeSize + kMargin] = {};
  char url[kUrlSize + kMargin] = {};
  char kind[kKindSize + kMargin] = {};
  char text_a[kTextSize + kMargin] = {};
  char text_b[kTextSize + kMargin] = {};
  int number_a = 0, number_b = 0, number_c = 0;
  // Start-up may have sent texts of its own; only this call's are shown.
  listener.Receive(0);
  int answer = library.GetNextVideo(room.c_str(), name, code, url, kind, text_a,
                                    text_b, &number_a, &number_b, &number_c);
  std::vector<std::string> texts = listener.Receive(100);
  out << "GetNextVideo(" << room << ") = " << answer << "\n"
      << "  url      " << ShowText(FieldText(url, kUrlSize)) << "\n"
      << "  kind     " << ShowText(FieldText(kind, kKindSize)) << "\n"
      << "  name     " << ShowText(FieldText(name, kNameSize)) << "\n"
      << "  code     " << ShowText(FieldText(code, kCodeSize)) << "\n"
      << "  textA    " << ShowText(FieldText(text_a, kTextSize)) << "\n"
      << "  textB    " << ShowText(FieldText(text_b, kTextSize)) << "\n"
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
    char name[kNameSize + kMargin] = {};
    int media_class = 0;
    if (id == -1) {
      out << "  (nothing to play)";
      status = kExitMiss;
    } else if (library.GetMediaInfo(id, name, nullptr, &media_class, nullptr,
                                    nullptr, nullptr, nullptr, nullptr,
                                    nullptr) == 1) {
      out << "  " << ClassName(media_class) << " "
          << ShowText(FieldText(name, kNameSize));
    } else {
      out << "  (not in the catalogue)";
    }
    out << "\n";
  }
  return status;
}

int RunFireAlarm(HostLibrary& library, const std::string& address,
                 std::ostream& out) {
  char url[kFireUrlSize + kMargin] = {};
  char format1[kFormat1Size + kMargin] = {};
  char format2[kFormat2Size + kMargin] = {};
  int answer =
      library.GetFirealarmVideo(address.c_str(), url, format1, format2);
  out << "GetFirealarmVideo(" << address << ") = " << answer << "\n"
      << "  url      " << ShowText(FieldText(url, kFireUrlSize)) << "\n"
      << "  format1  " << ShowText(FieldText(format1, kFormat1Size)) << "\n"
      << "  format2  " << ShowText(FieldText(format2, kFormat2Size)) << "\n";
  return answer == 1 ? kExitOk : kExitMiss;
}

int RunFirePage(HostLibrary& library, std::ostream& out) {
  char page[kPageSize + kMargin] = {};
  // The address plays no part in the answer.
  int answer = library.GetFirealarmPage("", page);
  out << "GetFirealarmPage = " << answer << "\n"
      << "  page     " << ShowText(FieldText(page, kPageSize)) << "\n";
  return answer == 1 ? kExitOk : kExitMiss;
}

}  // namespace tools
}  // namespace rondel
