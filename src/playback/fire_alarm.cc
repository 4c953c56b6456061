#include "playback/fire_alarm.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "catalogue/tables.h"
#include "frame/exchange.h"
#include "frame/session.h"
#include "frame/settings.h"
#include "platform/message_log.h"
#include "playback/fire_alarm_memory.h"
#include "playback/fire_alarm_test_hooks.h"

namespace rondel {

namespace {

using Clock = std::chrono::steady_clock;

// The longest a room of the start-up's pass waits for other threads to take
// the lock before asking the next room.
constexpr std::chrono::milliseconds kRoomYieldLimit{1000};

// The room pass's limit in force: kRoomPassLimit but in tests.
std::atomic<std::chrono::milliseconds::rep> g_room_pass_limit{
    kRoomPassLimit.count()};

// How one step (one exchange) of a fire-alarm call went.
enum class Step {
  kFound,         // the database named a file (a page)
  kNone,          // it answered whole, without one
  kNoConnection,  // below: the database did not answer
  kFailed,
  kLockBusy
};

const char* Why(Step step) {
  switch (step) {
    case Step::kNoConnection:
      return "no connection";
    case Step::kLockBusy:
      return "lock busy";
    default:
      return "failed";
  }
}

bool Answered(Step step) { return step == Step::kFound || step == Step::kNone; }

// Runs `call` in a bounded exchange, when the time left before `deadline`
// still holds one; a step with no time left counts as not getting the lock.
Step RunStep(Clock::time_point deadline,
             const std::function<Step(Exchange&)>& call) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - Clock::now() - kFireAlarmExchangeAllowance);
  if (left.count() < 0) return Step::kLockBusy;
  Exchange exchange(Exchange::Limits{std::min(left, kFireAlarmLockWait),
                                     kFireAlarmTimeoutSeconds});
  if (exchange.lock_busy()) return Step::kLockBusy;
  if (!exchange.connected()) return Step::kNoConnection;
  return call(exchange);
}

// Rows are bound into a scratch name and only a non-empty one is kept: an
// entry list that ends in a row without a file (a disabled zone, a half-edited
// entry) must still play the file found before it, never a URL ending in "/".
// A fetch failing after a named row keeps that row: the exchange answers what
// it gathered.
Step ReadLastFileName(Exchange& exchange, int column,
                      char (&file_name)[kFireAlarmFileNameSize]) {
  char row_name[kFireAlarmFileNameSize] = "";
  bool found = false;
  const bool whole =
      exchange.ReadRows({Column::Text(column, row_name, sizeof row_name)}, [&] {
        if (row_name[0] != '\0') {
          std::memcpy(file_name, row_name, std::strlen(row_name) + 1);
          found = true;
        }
        return true;
      });
  return found ? Step::kFound : whole ? Step::kNone : Step::kFailed;
}

// Each step remembers its answer before its exchange lets the lock go, so
// answers are remembered in the order the database gave them: a lookup that
// ends first can never overwrite a later one's answer. Remembering touches
// memory only (the file is written by FireAlarmMemory's writer), so the lock
// is not held any longer for it.
Step LookupFireAlertFile(const char* address, Clock::time_point deadline,
                         char (&file_name)[kFireAlarmFileNameSize]) {
  return RunStep(deadline, [&](Exchange& exchange) {
    if (!exchange.Call("sp_lookupfirealerts",
                       {address != nullptr ? Param::Text("@ipaddress", address)
                                           : Param::NullText("@ipaddress")})) {
      return Step::kFailed;
    }
    const Step step = ReadLastFileName(exchange, 12, file_name);
    if (step == Step::kFound) {
      FireAlarmMemory::RememberFile(address, file_name);
    } else if (step == Step::kNone) {
      FireAlarmMemory::ForgetFile(address);
    }
    return step;
  });
}

Step GetFireAlertDefaultFile(Clock::time_point deadline,
                             char (&file_name)[kFireAlarmFileNameSize]) {
  return RunStep(deadline, [&](Exchange& exchange) {
    if (!exchange.Call("sp_getfirealertdefaultvideofile", {})) {
      return Step::kFailed;
    }
    const Step step = ReadLastFileName(exchange, 1, file_name);
    if (Answered(step)) {
      FireAlarmMemory::RememberDefault(
          step == Step::kFound ? std::optional<std::string>(file_name)
                               : std::nullopt);
    }
    return step;
  });
}

// Every row's page is kept as it comes, an empty one too: the host shows the
// last one the venue configured.
Step GetFireAlertPage(Clock::time_point deadline,
                      char (&page)[kFireAlarmPageSize]) {
  return RunStep(deadline, [&](Exchange& exchange) {
    if (!exchange.Call("sp_getfirealerthomepage", {})) return Step::kFailed;
    char row_page[kFireAlarmPageSize] = "";
    bool found = false;
    const bool whole =
        exchange.ReadRows({Column::Text(1, row_page, sizeof row_page)}, [&] {
          std::memcpy(page, row_page, std::strlen(row_page) + 1);
          found = true;
          return true;
        });
    const Step step = found   ? Step::kFound
                      : whole ? Step::kNone
                              : Step::kFailed;
    if (Answered(step)) {
      FireAlarmMemory::RememberPage(step == Step::kFound
                                        ? std::optional<std::string>(page)
                                        : std::nullopt);
    }
    return step;
  });
}

void LogAnsweredFromMemory(const char* call, Step step) {
  ModuleLog().AddLog(
      (std::string(call) + " answers from memory (" + Why(step) + ")").c_str());
}

// Copies a remembered text (within its bound) over a step's buffer.
template <size_t N>
void CopyRemembered(const std::string& text, char (&buffer)[N]) {
  const size_t length = std::min(text.size(), N - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

// Asks the lookup of every room in Rooms, so that offline each room still
// gets its own evacuation video, not only those that raised an alarm before.
// Each room is one bounded exchange of its own; threads waiting for the lock
// go first between two rooms. A room the database does not answer ends the
// pass: it has gone, and every further room would wait out its time-out. A
// database that answers each room slowly, but in time, is not waited for
// either: no room is begun once the pass's limit has passed, so the start-up
// is held up by at most about that limit and one room.
void AskEveryRoom() {
  const int32_t count =
      std::clamp(g_catalogue.table_records.RoomCount, 0, kRoomCapacity);
  const std::chrono::milliseconds limit(g_room_pass_limit.load());
  const Clock::time_point pass_deadline = Clock::now() + limit;
  int32_t asked = 0;
  for (int32_t i = 0; i < count; ++i) {
    const char* field = g_catalogue.rooms[i].RoomAddress;
    const std::string address(
        field, strnlen(field, sizeof g_catalogue.rooms[i].RoomAddress));
    if (address.empty()) continue;
    if (Clock::now() >= pass_deadline) {
      ModuleLog().AddLog(("fire alarm start-up pass stopped at its " +
                          std::to_string(limit.count()) +
                          " ms limit: " + std::to_string(asked) + " of " +
                          std::to_string(count) + " rooms asked")
                             .c_str());
      return;
    }
    char file_name[kFireAlarmFileNameSize] = "";
    const Step step = LookupFireAlertFile(
        address.c_str(), Clock::now() + kFireAlarmCallBudget, file_name);
    ++asked;
    if (!Answered(step)) return;
    CatalogueLock().LetWaitersIn(CatalogueLock().holds(), kRoomYieldLimit);
  }
}

}  // namespace

void SetRoomPassLimit(std::chrono::milliseconds limit) {
  g_room_pass_limit.store(limit.count());
}

bool FindFirealarmVideo(const char* address, char* url, char* format1,
                        char* format2) {
  const Clock::time_point deadline = Clock::now() + kFireAlarmCallBudget;
  char file_name[kFireAlarmFileNameSize] = "";
  // Two exchanges, each with its own lock hold: other database calls may run
  // between the lookup and the default.
  const Step lookup = LookupFireAlertFile(address, deadline, file_name);
  std::optional<std::string> remembered;
  if (!Answered(lookup)) remembered = FireAlarmMemory::File(address);
  if (remembered) {
    LogAnsweredFromMemory("GetFirealarmVideo", lookup);
    CopyRemembered(*remembered, file_name);
  } else if (lookup != Step::kFound) {
    const Step fallback = GetFireAlertDefaultFile(deadline, file_name);
    if (fallback == Step::kNone) return false;
    if (fallback != Step::kFound) {
      remembered = FireAlarmMemory::Default();
      if (!remembered) return false;
      LogAnsweredFromMemory("GetFirealarmVideo", fallback);
      CopyRemembered(*remembered, file_name);
    }
  }
  // The file-server registry may replace the address at any time; the copy is
  // whole, never half of an old and half of a new one.
  char file_server[sizeof Settings::file_server_ip];
  CopyFileServerIp(file_server);
  std::snprintf(url, kFireAlarmUrlSize, "%s%s/%s", host::kUrlScheme,
                file_server, file_name);
  std::memcpy(format1, "MPEG1", kFireAlarmFormat1Size);
  std::memcpy(format2, "MPEG", kFireAlarmFormat2Size);
  return true;
}

bool FindFirealarmPage(char* page) {
  char found_page[kFireAlarmPageSize] = "";
  const Step step =
      GetFireAlertPage(Clock::now() + kFireAlarmCallBudget, found_page);
  if (step == Step::kNone) return false;
  if (step != Step::kFound) {
    const std::optional<std::string> remembered = FireAlarmMemory::Page();
    if (!remembered) return false;
    LogAnsweredFromMemory("GetFirealarmPage", step);
    CopyRemembered(*remembered, found_page);
  }
  std::memcpy(page, found_page, std::strlen(found_page) + 1);
  return true;
}

void PrepareFireAlarmAnswers(bool database_started) {
  FireAlarmMemory::Load();
  if (!database_started) return;
  // Each step remembers what the database answered; a step it does not answer
  // leaves what the file held.
  char file_name[kFireAlarmFileNameSize] = "";
  (void)GetFireAlertDefaultFile(Clock::now() + kFireAlarmCallBudget, file_name);
  char page[kFireAlarmPageSize] = "";
  (void)GetFireAlertPage(Clock::now() + kFireAlarmCallBudget, page);
  AskEveryRoom();
}

}  // namespace rondel
