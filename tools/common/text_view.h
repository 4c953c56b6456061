// How the host command shows the library's texts: the bytes as they are, plus
// their hex form when they are not plain ASCII (names in code page 936 arrive
// as raw GBK bytes).
#ifndef RONDEL_TOOLS_TEXT_VIEW_H_
#define RONDEL_TOOLS_TEXT_VIEW_H_

#include <cstddef>
#include <string>

namespace rondel {
namespace tools {

// The text held in a field of `field_size` bytes: up to its terminator, or the
// whole field when it has none. Never reads past the field.
std::string FieldText(const char* field, size_t field_size);

// The bytes in quotes, unconverted except that control bytes show as '?'. When
// any byte is outside printable ASCII, " [hex xx xx ...]" follows with every
// byte of the text, and then, for valid code page 936 text without control
// bytes, ' [GBK "..."]' with the text converted to UTF-8.
std::string ShowText(const std::string& text);

// `text` read as GB18030 and written as UTF-8; empty when it is not valid.
std::string Gb18030ToUtf8(const std::string& text);

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_TEXT_VIEW_H_
