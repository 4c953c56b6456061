// Play times, trade logs and authorization as the host calls them. Nothing is
// thrown across: each export turns anything unexpected into its failure
// answer. A null that must not be null is refused before any database call,
// with nothing written, rather than a crash part-way.
#include "records/play_records.h"

#include "rondel.h"

int SaveVideoTime(int mediaId, char* roomAddress, char* beginTime,
                  char* endTime, int songType) {
  if (roomAddress == nullptr || beginTime == nullptr || endTime == nullptr) {
    return 0;
  }
  try {
    rondel::RecordPlay(mediaId, roomAddress, beginTime, endTime, songType);
  } catch (...) {
  }
  return 0;
}

int AddLog(const char* roomAddress, int mediaId, int* tradeLogId,
           int* errorCode, char* errorText, const char* reserved) {
  if (tradeLogId == nullptr || errorCode == nullptr || errorText == nullptr) {
    return 0;
  }
  try {
    return rondel::AddTradeLog(roomAddress, mediaId, tradeLogId, errorCode,
                               errorText, reserved);
  } catch (...) {
    return 0;
  }
}

int ModifyLog(int tradeLogId, int* errorCode, char* errorText,
              const char* reserved) {
  if (errorCode == nullptr || errorText == nullptr) return 0;
  try {
    return rondel::ModifyTradeLog(tradeLogId, errorCode, errorText, reserved);
  } catch (...) {
    return 0;
  }
}

int GetAuthorization(const char* roomAddress, int mediaId, int* errorCode,
                     char* errorText, const char* reserved) {
  if (errorCode == nullptr || errorText == nullptr) return 0;
  try {
    return rondel::AskAuthorization(roomAddress, mediaId, errorCode, errorText,
                                    reserved);
  } catch (...) {
    return 0;
  }
}
