// What a failed file operation reports: the step, the file and the system's
// error number, as a value the caller can log, test or hand to a tool.
//
//   FileError error = WriteTheThing(path);
//   if (!error.ok()) ModuleLog().AddLog(("snapshot save: " +
//   error.ToString()).c_str());
//     -> "snapshot save: write \"/v/Medias.tbl\": No space left on device"
#ifndef RONDEL_PLATFORM_FILE_ERROR_H_
#define RONDEL_PLATFORM_FILE_ERROR_H_

#include <string>

namespace rondel {
namespace platform {

struct FileError {
  std::string step;      // "open", "write", "flush", "rename", ...; empty: ok
  std::string file;      // the path the step worked on
  int error_number = 0;  // errno of the step; 0 when the system reported none
  // The system's own code behind error_number where it has one of its own
  // (Windows: GetLastError's, which the errno mapping folds: a sharing
  // violation and a refusal are both EACCES); 0 on POSIX and where none.
  unsigned long system_code = 0;

  bool ok() const { return step.empty(); }
  // A failure of `step` on `file`, with errno as it is now (and on Windows
  // the system's code the platform layer turned into that errno).
  static FileError Now(std::string step, std::string file);
  // A failure no system call reported: `error_number` says what it amounts
  // to (EINVAL for a value refused, EFBIG for a file too large, ...).
  static FileError Of(std::string step, std::string file, int error_number);
  // `step "file": the system's text` (or "failed" without an errno); with a
  // system code, the system's text for that code and the code itself:
  // `rename "C:\v\a.tbl.new": The process cannot access the file because it
  // is being used by another process. (Windows error 32)`.
  std::string ToString() const;
};

// The system's text for an error number ("No space left on device").
std::string ErrorText(int error_number);

// The system's code behind the errno value `error_number` the calling thread's
// last failed platform call set, or 0 (always 0 on POSIX).
unsigned long LastSystemCode(int error_number);
// The system's text for its own code, with the code:
// "Access is denied. (Windows error 5)". Empty on POSIX.
std::string SystemCodeText(unsigned long system_code);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_FILE_ERROR_H_
