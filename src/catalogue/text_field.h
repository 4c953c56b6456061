// Copying database texts into the fixed text fields of the catalogue records.
#ifndef RONDEL_CATALOGUE_TEXT_FIELD_H_
#define RONDEL_CATALOGUE_TEXT_FIELD_H_

#include <cassert>
#include <cstddef>
#include <cstring>

namespace rondel {

// Stores `text` into the char[field_size] `field`: at most field_size - 1
// bytes, then the terminator, then zeros to the end of the field. Bytes are
// copied as they are (a cut may fall inside a two-byte character; the field
// still ends in its terminator). REQUIRES: field_size >= 1; `text`
// zero-terminated.
inline void StoreTextField(char* field, size_t field_size, const char* text) {
  assert(field_size >= 1 && text != nullptr);
  size_t length = strnlen(text, field_size - 1);
  memcpy(field, text, length);
  memset(field + length, 0, field_size - length);
}

template <size_t kFieldSize>
inline void StoreTextField(char (&field)[kFieldSize], const char* text) {
  StoreTextField(field, kFieldSize, text);
}

}  // namespace rondel

#endif  // RONDEL_CATALOGUE_TEXT_FIELD_H_
