// Private-profile settings files.
//
// The whole file is read into memory (at most kMaxSettingsFileBytes; a reader
// ignores the rest, a writer refuses such a file) and cut into lines. A line
// keeps its own terminator ("\n", "\r\n" or none for the last line), so a
// writer can copy every line it does not change exactly as it found it; a
// UTF-8 byte-order mark in front of the first line is kept the same way and
// never read as part of it.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "platform/file.h"
#include "platform/file_error.h"
#include "platform/settings_file.h"
#include "platform/syscall.h"

namespace rondel {
namespace platform {

namespace {

constexpr size_t kMaxSettingsFileBytes = 4u << 20;

// The integer reader looks at no more of a value than this, as the Windows one
// does.
constexpr size_t kIntegerTextSize = 30;

// What editors that save UTF-8 often put in front of the first line.
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr size_t kByteOrderMarkSize = sizeof(kByteOrderMark) - 1;

struct Line {
  size_t begin;        // first byte
  size_t content_end;  // one past the last byte before the terminator
  size_t end;          // one past the terminator
};

enum class LineKind { kOther, kSection, kKey };

struct ParsedLine {
  LineKind kind = LineKind::kOther;
  // For a section, its name; for a key line, the key and the value.
  const char* name = nullptr;
  size_t name_length = 0;
  const char* value = nullptr;
  size_t value_length = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

void Trim(const char** text, size_t* length) {
  while (*length > 0 && IsBlank((*text)[0])) {
    ++*text;
    --*length;
  }
  while (*length > 0 && IsBlank((*text)[*length - 1])) --*length;
}

// Case-insensitive for ASCII letters only; other bytes (GBK and the like) must
// match exactly.
bool NameEquals(const char* a, size_t a_length, const char* b) {
  size_t b_length = std::strlen(b);
  const char* trimmed_b = b;
  Trim(&trimmed_b, &b_length);
  if (a_length != b_length) return false;
  for (size_t i = 0; i < a_length; ++i) {
    if (AsciiLower(a[i]) != AsciiLower(trimmed_b[i])) return false;
  }
  return true;
}

// Where the first line begins: after a byte-order mark, if there is one.
size_t FirstLineBegin(const std::string& text) {
  return text.compare(0, kByteOrderMarkSize, kByteOrderMark) == 0
             ? kByteOrderMarkSize
             : 0;
}

// Reads the file into `text`. `complete` tells whether the whole file fitted.
FileError LoadFile(const char* path, std::string* text, bool* complete) {
  File file = File::OpenForRead(path);
  if (!file.valid()) return FileError::Now("open", path);
  text->clear();
  char chunk[16384];
  *complete = false;
  while (text->size() < kMaxSettingsFileBytes) {
    size_t wanted = kMaxSettingsFileBytes - text->size();
    if (wanted > sizeof(chunk)) wanted = sizeof(chunk);
    // A read that fails is not the end of the file: a writer that took it
    // for one would replace every line it did not read.
    errno = 0;
    size_t got = file.Read(chunk, wanted);
    text->append(chunk, got);
    if (got < wanted) {
      *complete = true;
      return errno == 0 ? FileError() : FileError::Now("read", path);
    }
  }
  // Exactly at the limit: complete only when nothing follows.
  char probe;
  errno = 0;
  *complete = file.Read(&probe, 1) == 0;
  return errno == 0 ? FileError() : FileError::Now("read", path);
}

// The line starting at `begin`; REQUIRES: begin < text.size().
Line LineAt(const std::string& text, size_t begin) {
  Line line;
  line.begin = begin;
  size_t newline = text.find('\n', begin);
  if (newline == std::string::npos) {
    line.content_end = text.size();
    line.end = text.size();
  } else {
    line.end = newline + 1;
    line.content_end = newline;
  }
  // A last line cut after the '\r' of its "\r\n" reads as if the '\n'
  // followed: a writer that adds a line after it completes the pair, and the
  // value must not change when it does.
  if (line.content_end > begin && text[line.content_end - 1] == '\r')
    --line.content_end;
  return line;
}

ParsedLine Parse(const std::string& text, const Line& line) {
  ParsedLine parsed;
  const char* p = text.data() + line.begin;
  size_t length = line.content_end - line.begin;
  Trim(&p, &length);
  if (length == 0 || p[0] == ';' || p[0] == '#') return parsed;
  if (p[0] == '[') {
    const char* name = p + 1;
    const char* close =
        static_cast<const char*>(std::memchr(name, ']', length - 1));
    size_t name_length = close ? static_cast<size_t>(close - name) : length - 1;
    Trim(&name, &name_length);
    parsed.kind = LineKind::kSection;
    parsed.name = name;
    parsed.name_length = name_length;
    return parsed;
  }
  const char* equals = static_cast<const char*>(std::memchr(p, '=', length));
  if (equals == nullptr) return parsed;
  const char* key = p;
  size_t key_length = static_cast<size_t>(equals - p);
  Trim(&key, &key_length);
  const char* value = equals + 1;
  size_t value_length = static_cast<size_t>(p + length - value);
  Trim(&value, &value_length);
  if (value_length >= 2 && (value[0] == '"' || value[0] == '\'') &&
      value[value_length - 1] == value[0]) {
    ++value;
    value_length -= 2;
  }
  parsed.kind = LineKind::kKey;
  parsed.name = key;
  parsed.name_length = key_length;
  parsed.value = value;
  parsed.value_length = value_length;
  return parsed;
}

// Where a section and a key were found. Positions are npos when absent.
struct Location {
  size_t section_line =
      std::string::npos;  // begin of the section's header line
  Line key_line{std::string::npos, std::string::npos, std::string::npos};
  ParsedLine key;
  Line last_filled_line{std::string::npos, std::string::npos,
                        std::string::npos};
};

// Looks for `key` inside the first section named `section`.
Location Find(const std::string& text, const char* section, const char* key) {
  Location found;
  bool inside = false;
  for (size_t at = FirstLineBegin(text); at < text.size();) {
    Line line = LineAt(text, at);
    at = line.end;
    ParsedLine parsed = Parse(text, line);
    if (parsed.kind == LineKind::kSection) {
      if (inside) break;  // the first matching section ended without the key
      if (NameEquals(parsed.name, parsed.name_length, section)) {
        inside = true;
        found.section_line = line.begin;
        found.last_filled_line = line;
      }
      continue;
    }
    if (!inside) continue;
    if (line.content_end > line.begin) {
      const char* p = text.data() + line.begin;
      size_t length = line.content_end - line.begin;
      Trim(&p, &length);
      if (length > 0) found.last_filled_line = line;
    }
    if (parsed.kind == LineKind::kKey &&
        NameEquals(parsed.name, parsed.name_length, key)) {
      found.key_line = line;
      found.key = parsed;
      break;
    }
  }
  return found;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Root passes access() on everything, yet an operator who cleared every write
// bit of a file or folder meant that it be left alone: without a write bit it
// is not writable, whoever asks.
bool Writable(const std::string& path, mode_t mode, int how) {
  return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
         access(path.c_str(), how) == 0;
}

bool FolderWritable(const std::string& path) {
  struct stat info;
  return sys::Stat(path.c_str(), &info) == 0 &&
         Writable(path, info.st_mode, W_OK | X_OK);
}

enum class Replacement { kDone, kFailed, kNotPossible };

// Writes `text` beside `path`, flushes it and renames it over `path`. The new
// file takes the old one's place, so it takes its owner, group and mode
// (`original`, null for a file that did not exist) too: when the owner cannot
// be given, nothing is replaced and kNotPossible tells the caller to write in
// place rather than take the file away from the operators who own it.
// `error` says what failed, for kFailed and kNotPossible alike.
Replacement ReplaceFile(const std::string& path, const std::string& text,
                        const struct stat* original, FileError* error) {
  static std::atomic<unsigned> sequence{0};
  std::string temporary = path + ".new." + std::to_string(getpid()) + "." +
                          std::to_string(sequence.fetch_add(1));
  File file = File::CreateForWrite(temporary);
  if (!file.valid()) {
    *error = FileError::Now("create", temporary);
    // Only a folder that refuses new files sends the write in place; a full
    // disk must not have the old file rewritten half-way.
    return errno == EACCES || errno == EPERM ? Replacement::kNotPossible
                                             : Replacement::kFailed;
  }
  // fchmod after fchown: a change of owner clears the set-id bits. Only a
  // refusal sends the write in place; any other failure (an I/O error) fails
  // the persist and leaves the file as it was.
  if (original != nullptr) {
    if (!file.ChangeOwner(original->st_uid, original->st_gid)) {
      *error = FileError::Now("change owner of", temporary);
    } else if (!file.ChangeMode(original->st_mode & 07777)) {
      *error = FileError::Now("change mode of", temporary);
    }
    if (!error->ok()) {
      file.Close();
      RemoveFile(temporary);
      return error->error_number == EPERM || error->error_number == EACCES
                 ? Replacement::kNotPossible
                 : Replacement::kFailed;
    }
  }
  if (file.Write(text.data(), text.size()) != text.size()) {
    *error = FileError::Now("write", temporary);
  } else if (!file.Sync()) {
    *error = FileError::Now("flush", temporary);
  }
  file.Close();
  if (error->ok() && !RenameFile(temporary, path)) {
    *error = FileError::Now("rename", temporary);
  }
  if (!error->ok()) {
    RemoveFile(temporary);
    return Replacement::kFailed;
  }
  SyncDirectory(DirectoryOf(path));
  return Replacement::kDone;
}

// Rewrites the file's own bytes: not crash-safe, but the only way left when no
// new file may take its place.
FileError WriteInPlace(const std::string& path, const std::string& text) {
  File file = File::OpenExistingForWrite(path);
  if (!file.valid()) return FileError::Now("open", path);
  if (file.Write(text.data(), text.size()) != text.size()) {
    return FileError::Now("write", path);
  }
  if (!file.Truncate(text.size())) return FileError::Now("truncate", path);
  if (!file.Sync()) return FileError::Now("flush", path);
  return FileError();
}

// The file a settings path names: the path itself when nothing is there yet,
// the file a symbolic link leads to. Fails for a link that leads nowhere and
// for anything but a regular file.
FileError ResolveTarget(const char* path, std::string* target, bool* exists,
                        struct stat* info) {
  struct stat link_info;
  *exists = sys::Lstat(path, &link_info) == 0;
  if (!*exists) {
    *target = path;
    return errno == ENOENT ? FileError() : FileError::Now("examine", path);
  }
  std::unique_ptr<char, void (*)(void*)> resolved(realpath(path, nullptr),
                                                  std::free);
  if (resolved == nullptr) return FileError::Now("resolve", path);
  *target = resolved.get();
  if (sys::Stat(target->c_str(), info) != 0) {
    return FileError::Now("examine", *target);
  }
  if (!S_ISREG(info->st_mode)) {
    return FileError::Of("examine", *target,
                         S_ISDIR(info->st_mode) ? EISDIR : EINVAL);
  }
  return FileError();
}

}  // namespace

size_t ReadProfileString(const char* path, const char* section, const char* key,
                         const char* default_value, char* out,
                         size_t out_size) {
  if (out == nullptr || out_size == 0) return 0;
  const char* value = default_value != nullptr ? default_value : "";
  size_t value_length = std::strlen(value);
  std::string text;
  bool complete = false;
  Location found;
  if (path != nullptr && section != nullptr && key != nullptr &&
      LoadFile(path, &text, &complete).ok()) {
    found = Find(text, section, key);
    if (found.key_line.begin != std::string::npos) {
      value = found.key.value;
      value_length = found.key.value_length;
    }
  }
  if (value_length > out_size - 1) value_length = out_size - 1;
  std::memcpy(out, value, value_length);
  out[value_length] = '\0';
  return value_length;
}

int ReadProfileInt(const char* path, const char* section, const char* key,
                   int default_value) {
  // The Windows reader answers the default whenever the text it reads is empty:
  // for a missing key and for a key with an empty value alike.
  char text[kIntegerTextSize];
  if (ReadProfileString(path, section, key, "", text, sizeof(text)) == 0) {
    return default_value;
  }

  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Overflow wraps modulo 2^32, as the Windows reader's does.
  uint32_t magnitude = 0;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    for (p += 2;; ++p) {
      char c = AsciiLower(*p);
      uint32_t digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<uint32_t>(c - 'a' + 10);
      } else {
        break;
      }
      magnitude = magnitude * 16u + digit;
    }
  } else {
    for (; *p >= '0' && *p <= '9'; ++p) {
      magnitude = magnitude * 10u + static_cast<uint32_t>(*p - '0');
    }
  }
  if (negative) magnitude = 0u - magnitude;
  return static_cast<int>(static_cast<int32_t>(magnitude));
}

FileError ProbeProfile(const char* path) {
  if (path == nullptr || path[0] == '\0')
    return FileError::Of("open", "", ENOENT);
  std::string text;
  bool complete = false;
  return LoadFile(path, &text, &complete);
}

FileError WriteProfileString(const char* path, const char* section,
                             const char* key, const char* value) {
  FileError refused = RefuseUnwritableEntry(path, section, key, value);
  if (!refused.ok()) return refused;
  std::string target;
  bool exists = false;
  struct stat original;
  FileError error = ResolveTarget(path, &target, &exists, &original);
  if (!error.ok()) return error;
  if (exists && !Writable(target, original.st_mode, W_OK)) {
    return FileError::Of("write", target, EACCES);
  }
  std::string text;
  bool complete = true;
  // A file that exists but cannot be read must not be replaced by a new one.
  if (exists) error = LoadFile(target.c_str(), &text, &complete);
  if (!error.ok()) return error;
  if (!complete) return FileError::Of("read", target, EFBIG);

  size_t first_newline = text.find('\n');
  const char* eol = (first_newline != std::string::npos && first_newline > 0 &&
                     text[first_newline - 1] == '\r')
                        ? "\r\n"
                        : "\n";
  std::string key_line = std::string(key) + "=" + value;
  // What ends the file's last line before a line is added after it: a lone
  // '\r' there is the first half of a "\r\n" and only needs its '\n'.
  const char* last_eol = !text.empty() && text.back() == '\r' ? "\n" : eol;

  Location found = Find(text, section, key);
  if (found.key_line.begin != std::string::npos) {
    text.replace(found.key_line.begin,
                 found.key_line.content_end - found.key_line.begin, key_line);
  } else if (found.section_line != std::string::npos) {
    const Line& after = found.last_filled_line;
    if (after.end > after.content_end && text[after.end - 1] == '\n') {
      text.insert(after.end, key_line + eol);
    } else {
      // The section ends the file without a final line break; keep it that way.
      text.insert(after.end, last_eol + key_line);
    }
  } else {
    std::string added = "[" + std::string(section) + "]" + eol + key_line;
    if (text.size() == FirstLineBegin(text)) {
      text += added + eol;
    } else if (text.back() == '\n') {
      text += added + eol;
    } else {
      text += last_eol + added;
    }
  }
  if (!exists) {
    (void)ReplaceFile(target, text, nullptr, &error);
    return error;
  }
  if (FolderWritable(DirectoryOf(target))) {
    if (ReplaceFile(target, text, &original, &error) !=
        Replacement::kNotPossible) {
      return error;
    }
  }
  return WriteInPlace(target, text);
}

}  // namespace platform
}  // namespace rondel
