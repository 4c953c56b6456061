// Test hooks for playback/fire_alarm.h. Only tests include this header (and
// fire_alarm.cc, which defines them); the library never calls them itself.
#ifndef RONDEL_PLAYBACK_FIRE_ALARM_TEST_HOOKS_H_
#define RONDEL_PLAYBACK_FIRE_ALARM_TEST_HOOKS_H_

#include <chrono>

#include "playback/fire_alarm.h"

namespace rondel {

// The start-up's room pass stops asking rooms once `limit` has passed since
// it began (kRoomPassLimit until set again).
void SetRoomPassLimit(std::chrono::milliseconds limit);

}  // namespace rondel

#endif  // RONDEL_PLAYBACK_FIRE_ALARM_TEST_HOOKS_H_
