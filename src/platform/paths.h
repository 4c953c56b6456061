// Paths of the host process.
#ifndef RONDEL_PLATFORM_PATHS_H_
#define RONDEL_PLATFORM_PATHS_H_

#include <string>

namespace rondel {
namespace platform {

// Directory of the host executable (the program, not this library), with a
// trailing separator ('/' on POSIX, '\' on Windows; a name appended to it
// may use '/' on both). Empty when it cannot be determined.
std::string ExecutableDirectory();

// Creates one directory level; true when it exists afterwards.
bool MakeDirectory(const std::string& path);

// The venue's fixed settings file: "/etc/korvane/Korvane.ini" on POSIX,
// "C:\Korvane\Korvane.ini" on Windows.
const char* DefaultSettingsPath();

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_PATHS_H_
