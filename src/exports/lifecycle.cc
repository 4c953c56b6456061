// Start-up, shutdown, settings re-reading and the diagnostic text: the
// host-facing frame. Nothing is thrown across this boundary: each function ends
// in a catch-all.
#include <cstdlib>

#include "catalogue/start_catalogue.h"
#include "frame/diag.h"
#include "frame/session.h"
#include "frame/settings.h"
#include "platform/message_log.h"
#include "playback/fire_alarm.h"
#include "playback/fire_alarm_memory.h"
#include "rondel.h"

RONDEL_API void InitialDatabase() {
  try {
    rondel::platform::MessageLog log;
    // When the client library does not start, start-up goes on: every database
    // call then takes its no-connection path and the catalogue comes from the
    // snapshot files.
    rondel::StartDbLibrary();
    // The log settings are process-wide: they hold for every instance, also the
    // module's. $RONDEL_LOG_FILE puts the log elsewhere than the host's
    // working directory.
    const char* log_file = std::getenv("RONDEL_LOG_FILE");
    log.SetLogFileName(
        log_file != nullptr && log_file[0] != '\0' ? log_file : "rondel.log");
    log.EnableFileOutput(true);
    log.EnableScreenOutput(false);
    rondel::ReadStartupSettings(rondel::SettingsFilePath().c_str());
    const bool database_started = rondel::StartCatalogue();
    // After the start-up's own exchanges, never among them.
    rondel::PrepareFireAlarmAnswers(database_started);
  } catch (...) {
  }
}

RONDEL_API void ExitDatabase() {
  try {
    // The client first: it waits for a lookup still under way, whose answer
    // is then remembered. Then no writer of the fire alarm's answers outlives
    // the library's use, and the newest answers are in the file.
    rondel::StopDbLibrary();
    rondel::FireAlarmMemory::FinishWriting();
    // Repeats still held back are counted before the host goes.
    rondel::platform::MessageLog().FlushRepeats();
  } catch (...) {
  }
}

RONDEL_API bool LoadDBOptions(const char* settingsPath) {
  try {
    rondel::ReadDatabaseSettings(settingsPath);
  } catch (...) {
  }
  return true;
}

RONDEL_API void KvDebugDb(char* text) {
  try {
    rondel::Broadcast(text);
  } catch (...) {
  }
}
