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

// The directory part of a program's path `path`: everything up to and
// including its last separator; empty when it has none. On POSIX the last '/'.
// On Windows the last '\' or '/' as code page `code_page` reads the path (0:
// the process's ANSI code page), so the second byte of a double-byte character
// is never taken for a separator, even where its value is that of '\'
// (0x5C, as in the code page 936 character B9 5C).
std::string DirectoryOf(const std::string& path, unsigned code_page = 0);

// Creates one directory level; true when it exists afterwards.
bool MakeDirectory(const std::string& path);

// The venue's fixed settings file: "/etc/korvane/Korvane.ini" on POSIX,
// "C:\Korvane\Korvane.ini" on Windows.
const char* DefaultSettingsPath();

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_PATHS_H_
