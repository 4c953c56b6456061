#include "records/outbox_format.h"

#include <cstring>

#include "platform/coding.h"

namespace rondel {
namespace outbox {

namespace {

using platform::Crc32;
using platform::GetUint32;
using platform::PutUint32;

// A text behind its length: one byte in a play, four in a long play.
void PutText(const std::string& text, size_t length_bytes, std::string* out) {
  if (length_bytes == 1) {
    out->push_back(static_cast<char>(text.size()));
    out->append(text);
    return;
  }
  const size_t length =
      text.size() < kMaxLongTextBytes ? text.size() : kMaxLongTextBytes;
  PutUint32(static_cast<uint32_t>(length), out);
  out->append(text, 0, length);
}

// Reads one length-prefixed text at body[*at]; false when it runs past `end`.
bool GetText(const char* body, size_t end, size_t length_bytes, size_t* at,
             std::string* text) {
  if (end - *at < length_bytes) return false;
  const size_t length = length_bytes == 1
                            ? static_cast<unsigned char>(body[*at])
                            : GetUint32(body + *at);
  *at += length_bytes;
  if (length > end - *at) return false;
  text->assign(body + *at, length);
  *at += length;
  return true;
}

// Frames a body: its length and checksum in front of it.
void PutEntry(const std::string& body, std::string* out) {
  PutUint32(static_cast<uint32_t>(body.size()), out);
  PutUint32(Crc32(body.data(), body.size()), out);
  out->append(body);
}

}  // namespace

bool KeepsWhole(const PlayRecord& play) {
  for (const std::string* text :
       {&play.room_address, &play.begin_time, &play.end_time}) {
    if (text->size() > kMaxLongTextBytes) return false;
  }
  return true;
}

void EncodePlay(const PlayRecord& play, std::string* out) {
  const bool short_texts = play.room_address.size() <= kMaxTextBytes &&
                           play.begin_time.size() <= kMaxTextBytes &&
                           play.end_time.size() <= kMaxTextBytes;
  const size_t length_bytes = short_texts ? 1 : 4;
  std::string body;
  body.push_back(static_cast<char>(short_texts ? kPlay : kLongPlay));
  PutUint32(static_cast<uint32_t>(play.media_id), &body);
  PutUint32(static_cast<uint32_t>(play.song_type), &body);
  PutText(play.room_address, length_bytes, &body);
  PutText(play.begin_time, length_bytes, &body);
  PutText(play.end_time, length_bytes, &body);
  PutEntry(body, out);
}

void EncodeSentMark(uint32_t sent, std::string* out) {
  std::string body;
  body.push_back(static_cast<char>(kSentMark));
  PutUint32(sent, &body);
  PutEntry(body, out);
}

Decoded DecodeEntry(const char* data, size_t available, Entry* entry,
                    size_t* size) {
  if (available < kEntryHeaderSize) return Decoded::kTruncated;
  const uint32_t length = GetUint32(data);
  if (length == 0 || length > kMaxBodySize) return Decoded::kDamaged;
  if (available - kEntryHeaderSize < length) return Decoded::kTruncated;
  const char* body = data + kEntryHeaderSize;
  if (Crc32(body, length) != GetUint32(data + 4)) return Decoded::kDamaged;
  // The checksum passed; the body must still parse to exactly its length, so
  // a checksum that matches by chance cannot bring in a garbled play.
  switch (static_cast<unsigned char>(body[0])) {
    case kPlay:
    case kLongPlay: {
      const bool long_play = body[0] == kLongPlay;
      if (length < (long_play ? kLongPlayFixedSize : kPlayFixedSize)) {
        return Decoded::kDamaged;
      }
      const size_t length_bytes = long_play ? 4 : 1;
      entry->kind = kPlay;
      entry->play.media_id = static_cast<int32_t>(GetUint32(body + 1));
      entry->play.song_type = static_cast<int32_t>(GetUint32(body + 5));
      size_t at = 9;
      if (!GetText(body, length, length_bytes, &at,
                   &entry->play.room_address) ||
          !GetText(body, length, length_bytes, &at, &entry->play.begin_time) ||
          !GetText(body, length, length_bytes, &at, &entry->play.end_time) ||
          at != length) {
        return Decoded::kDamaged;
      }
      break;
    }
    case kSentMark:
      if (length != kSentMarkSize) return Decoded::kDamaged;
      entry->kind = kSentMark;
      entry->sent = GetUint32(body + 1);
      break;
    default:
      return Decoded::kDamaged;
  }
  *size = kEntryHeaderSize + length;
  return Decoded::kWhole;
}

}  // namespace outbox
}  // namespace rondel
