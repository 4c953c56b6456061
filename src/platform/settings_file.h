// Settings file with Windows private-profile (INI) semantics.
//
// A file is a sequence of lines; "[name]" opens a section; "key=value" sets a
// key inside the current section. Section and key names are matched
// case-insensitively, ignoring blanks around them; the first matching section
// and the first matching key in it win. Values have blanks around them removed,
// and one pair of enclosing double or single quotes is stripped. Lines of other
// shapes (comments, blank lines) are ignored by readers and kept by writers; a
// line whose first non-blank character is ';' or '#' is a comment even when it
// holds '='. Names are compared as bytes, with only the ASCII letters folded,
// so GBK names stay exact. Files are read up to 4 MiB: a reader ignores
// anything beyond, a writer refuses the file.
#ifndef RONDEL_PLATFORM_SETTINGS_FILE_H_
#define RONDEL_PLATFORM_SETTINGS_FILE_H_

#include <cstddef>

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

// Sets `key` in `section` to `value`: replaces the first matching key line, or
// adds the key after the last non-blank line of the section, or adds the
// section at the end of the file (creating the file when needed). Every other
// line of the file stays byte-for-byte as it was. The file is replaced
// atomically (written beside it, flushed, then renamed; the directory is
// flushed too). Added lines use the file's line ends ("\r\n" when its first
// line has one); a file that had no final line break still has none. Returns
// false when it cannot be written, and when a name or the value holds a line
// break, the section name holds ']' or the key holds '=' (they could not be
// read back as written).
bool WriteProfileString(const char* path, const char* section, const char* key,
                        const char* value);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_SETTINGS_FILE_H_
