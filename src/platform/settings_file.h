// Settings file with Windows private-profile (INI) semantics. On Windows the
// system's own private-profile calls do the reading and writing
// (settings_file_windows.cc): the values read are theirs, and of what follows
// only the refusals of WriteProfileString for names and values that could not
// be read back hold there. On POSIX (settings_file_posix.cc) this file states
// what the implementation does.
//
// A file is a sequence of lines; "[name]" opens a section; "key=value" sets a
// key inside the current section. Section and key names are matched
// case-insensitively, ignoring blanks around them; the first matching section
// and the first matching key in it win. Values have blanks around them removed,
// and one pair of enclosing double or single quotes is stripped. Lines of other
// shapes (comments, blank lines) are ignored by readers and kept by writers; a
// line whose first non-blank character is ';' or '#' is a comment even when it
// holds '='. Names are compared as bytes, with only the ASCII letters folded,
// so GBK names stay exact. A UTF-8 byte-order mark at the start of the file is
// not part of its first line (a writer keeps it). Files are read up to 4 MiB:
// a reader ignores anything beyond, a writer refuses the file.
#ifndef RONDEL_PLATFORM_SETTINGS_FILE_H_
#define RONDEL_PLATFORM_SETTINGS_FILE_H_

#include <cstddef>

#include "platform/file_error.h"

namespace rondel {
namespace platform {

// Copies the value of `key` in `section` of the file at `path` into `out`, or
// `default_value` (null counts as "") when the file, section or key is missing.
// At most `out_size` - 1 bytes are kept and the text is always terminated.
// Returns the number of bytes stored, without the terminator. REQUIRES:
// out_size >= 1.
size_t ReadProfileString(const char* path, const char* section, const char* key,
                         const char* default_value, char* out, size_t out_size);

// The value read as the Windows integer reader does: optional leading blanks
// and sign, decimal digits (or "0x" hex) up to the first other character, 0
// when there are none; `default_value` when the file, section or key is
// missing or its value is empty. Only the first 29 characters
// of the value are looked at; overflow wraps modulo 2^32.
int ReadProfileInt(const char* path, const char* section, const char* key,
                   int default_value);

// Reads the file at `path` as the readers above do: ok, or what kept it from
// being read ("open" or "read", with the system's error: a missing file, a
// directory, no permission), in which case every reader answers its
// defaults. A null or empty path is a missing file.
FileError ProbeProfile(const char* path);

// Sets `key` in `section` to `value`: replaces the first matching key line, or
// adds the key after the last non-blank line of the section, or adds the
// section at the end of the file (creating the file when needed). Every other
// line of the file stays byte-for-byte as it was. Added lines use the file's
// line ends ("\r\n" when its first line has one); a file that had no final
// line break still has none.
//
// To whoever looks at the file, the write is an edit in place, made crash-safe
// where the folder allows it:
// - a symbolic link is followed: the file it leads to is written, the link
//   stays a link (a link that leads nowhere is refused);
// - the new contents are written beside that file with its owner, group and
//   mode, flushed and renamed over it (the folder is flushed too);
// - when its folder is not writable, or the new file cannot be given the
//   owner (a writer without privilege, a file owned by another group), the
//   file's own bytes are rewritten, cut to the new length and flushed instead;
// - a file that is not writable is left untouched and the answer is false;
// - an absent file is created (mode 0644 less the umask).
// A file or folder is writable when it has at least one write permission bit
// and access() allows writing: root passes access() on anything, so a file an
// operator made read-only by clearing its write bits stays read-only for root.
//
// Returns ok, or the step that failed on which file with the system's error
// (the file itself or the new file beside it; a short write in place may
// leave the file partly rewritten). Refused without touching anything, with
// a step and an error number but no system call behind them: a file without
// write permission ("write", EACCES), one past the size limit ("read",
// EFBIG), anything but a regular file ("examine", EISDIR or EINVAL), and a
// name or value holding a line break, a section name holding ']' or a key
// holding '=' ("write", EINVAL: they could not be read back as written).
FileError WriteProfileString(const char* path, const char* section,
                             const char* key, const char* value);

// The first of WriteProfileString's refusals, shared by both platforms: a
// null or empty path, a null name or value, or one that could not be read
// back as written ("write", EINVAL); ok otherwise.
FileError RefuseUnwritableEntry(const char* path, const char* section,
                                const char* key, const char* value);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_SETTINGS_FILE_H_
