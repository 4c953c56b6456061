// The file-server registry as the host calls it. Nothing is thrown across:
// each export turns anything unexpected into its failure result. A null output
// is refused before any database call, so the answer is the failure result
// with nothing written rather than a crash part-way.
#include "records/file_server_registry.h"

#include "rondel.h"

int GetDataServer() {
  try {
    return rondel::IdentifyFileServer();
  } catch (...) {
    return 0;
  }
}

bool GetServerGroup(int serverId, int* groupId) {
  if (groupId == nullptr) return false;
  try {
    return rondel::ReadServerGroup(serverId, groupId);
  } catch (...) {
    return false;
  }
}

bool AddVideoServerConnectNum(int groupId, int fileServerId, int connections,
                              int totalConnections,
                              const char* fileServerAddress) {
  try {
    return rondel::AddConnectionCount({groupId, fileServerId, connections,
                                       totalConnections, fileServerAddress});
  } catch (...) {
    return false;
  }
}

bool ModifyVideoServerConnectNum(int groupId, int fileServerId, int connections,
                                 int totalConnections,
                                 const char* fileServerAddress) {
  try {
    return rondel::ModifyConnectionCount({groupId, fileServerId, connections,
                                          totalConnections, fileServerAddress});
  } catch (...) {
    return false;
  }
}

// The answer is in the outputs; the result is false whatever happened.
bool GetVideoServerConnectNum(int groupId, int fileServerId, int* connections,
                              char* fileServerAddress) {
  if (connections == nullptr || fileServerAddress == nullptr) return false;
  try {
    rondel::ReadConnectionCount(groupId, fileServerId, connections,
                                fileServerAddress);
  } catch (...) {
  }
  return false;
}

bool DeleteVideoServerConnectNum(int groupId, int fileServerId) {
  try {
    rondel::DeleteConnectionCount(groupId, fileServerId);
  } catch (...) {
  }
  return false;
}

int ModifyGroupState(int isValid, int groupId) {
  try {
    return rondel::SetGroupState(isValid, groupId) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
