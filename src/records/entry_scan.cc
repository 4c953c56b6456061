#include "records/entry_scan.h"

#include <errno.h>

#include "platform/coding.h"

namespace rondel {

namespace {

using outbox::Decoded;

constexpr size_t kReadChunk = 64 * 1024;

// True when `length` suits an entry whose body starts with `kind`: the cheap
// part of DecodeEntry, tried at every offset of a damaged stretch before any
// checksum is computed.
bool Plausible(uint32_t length, unsigned char kind) {
  if (length == 0 || length > outbox::kMaxBodySize) return false;
  switch (kind) {
    case outbox::kPlay:
      return length >= outbox::kPlayFixedSize;
    case outbox::kLongPlay:
      return length >= outbox::kLongPlayFixedSize;
    case outbox::kSentMark:
      return length == outbox::kSentMarkSize;
    default:
      return false;
  }
}

}  // namespace

bool FileLength(platform::File& file, uint64_t guess, uint64_t* length) {
  bool failed = false;
  // Whether the file holds at least `n` bytes.
  const auto holds = [&](uint64_t n) {
    if (n == 0 || failed) return !failed;
    char byte;
    errno = 0;
    if (file.ReadAt(n - 1, &byte, 1) == 1) return true;
    failed = errno != 0;
    return false;
  };
  if (holds(guess) && !holds(guess + 1) && !failed) {
    *length = guess;
    return true;
  }
  uint64_t low = 0, high = 1;  // holds(low), and !holds(high) once found
  while (!failed && holds(high)) {
    low = high;
    high *= 2;
  }
  while (!failed && high - low > 1) {
    const uint64_t middle = low + (high - low) / 2;
    (holds(middle) ? low : high) = middle;
  }
  if (failed) return false;
  *length = low;
  return true;
}

size_t EntryScanner::View(uint64_t offset, size_t want, const char** data) {
  if (offset < buffer_offset_ || offset > buffer_offset_ + buffer_.size()) {
    buffer_.clear();
    buffer_offset_ = offset;
    at_end_ = false;
  }
  size_t skip = static_cast<size_t>(offset - buffer_offset_);
  if (skip > kReadChunk) {  // passed over: dropped now and then, not per byte
    buffer_.erase(0, skip);
    buffer_offset_ = offset;
    skip = 0;
  }
  while (buffer_.size() - skip < want && !at_end_) {
    const size_t kept = buffer_.size();
    const size_t missing = want - (kept - skip);
    const size_t more = missing > kReadChunk ? missing : kReadChunk;
    buffer_.resize(kept + more);
    errno = 0;
    const size_t got =
        file_.ReadAt(buffer_offset_ + kept, &buffer_[kept], more);
    buffer_.resize(kept + got);
    if (got < more) {
      read_failed_ = errno != 0;
      at_end_ = true;
    }
  }
  *data = buffer_.data() + skip;
  return buffer_.size() - skip;
}

bool EntryScanner::Resynchronise(uint64_t from, uint64_t* found) {
  for (uint64_t at = from + 1;; ++at) {
    const char* data;
    size_t available = View(at, outbox::kEntryHeaderSize + 1, &data);
    if (read_failed_) return false;
    if (available <= outbox::kEntryHeaderSize) {
      *found = at + available;  // the end of the file
      return false;
    }
    const uint32_t length = platform::GetUint32(data);
    if (!Plausible(length, static_cast<unsigned char>(data[8]))) continue;
    available = View(at, outbox::kEntryHeaderSize + length, &data);
    if (read_failed_) return false;
    outbox::Entry entry;
    size_t size = 0;
    if (outbox::DecodeEntry(data, available, &entry, &size) ==
        Decoded::kWhole) {
      *found = at;
      return true;
    }
  }
}

EntryScanner::Item EntryScanner::Next(outbox::Entry* entry) {
  if (read_failed_) return kReadFailed;
  start_ = offset_;
  const char* data;
  size_t available = View(offset_, outbox::kEntryHeaderSize, &data);
  if (read_failed_) return kReadFailed;
  if (available == 0) return kEnd;
  Decoded decoded = Decoded::kTruncated;
  size_t size = 0;
  if (available >= outbox::kEntryHeaderSize) {
    const uint32_t length = platform::GetUint32(data);
    if (length <= outbox::kMaxBodySize) {
      available = View(offset_, outbox::kEntryHeaderSize + length, &data);
      if (read_failed_) return kReadFailed;
    }
    decoded = outbox::DecodeEntry(data, available, entry, &size);
  }
  if (decoded == Decoded::kWhole) {
    raw_ = data;
    offset_ += size;
    return kEntry;
  }
  uint64_t next = 0;
  const bool found = Resynchronise(offset_, &next);
  if (read_failed_) return kReadFailed;
  offset_ = next;
  return found ? kDamaged : kTornTail;
}

}  // namespace rondel
