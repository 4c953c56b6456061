// A strict JSON reader for the monitor's tests: the whole grammar of RFC 8259
// (objects, arrays, strings with every escape, numbers, true, false, null),
// and the text must be valid UTF-8. Small on purpose: it checks that what the
// monitor prints is JSON and gives the values back for comparison.
#ifndef RONDEL_TOOLS_MONITOR_TEST_JSON_H_
#define RONDEL_TOOLS_MONITOR_TEST_JSON_H_

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace rondel {
namespace tools {

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string string;  // UTF-8
  std::vector<Json> items;
  std::map<std::string, Json> members;

  // The member `name`, or a null value when there is none.
  const Json& operator[](const std::string& name) const {
    static const Json kMissing;
    auto found = members.find(name);
    return found == members.end() ? kMissing : found->second;
  }
};

class JsonReader {
 public:
  // Parses the whole of `text` into *value; false when it is not one JSON
  // value (with surrounding blanks) in valid UTF-8.
  static bool Parse(const std::string& text, Json* value) {
    JsonReader reader(text);
    return reader.Value(value, 0) &&
           (reader.Blanks(), reader.at_ == text.size());
  }

 private:
  explicit JsonReader(const std::string& text) : text_(text) {}

  void Blanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                  text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }
  bool Take(char c) {
    Blanks();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Word(const char* word) {
    std::string w = word;
    if (text_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }

  bool Value(Json* value, int depth) {
    if (depth > 64) return false;
    Blanks();
    if (at_ >= text_.size()) return false;
    char c = text_[at_];
    if (c == '{') return Object(value, depth);
    if (c == '[') return Array(value, depth);
    if (c == '"') {
      value->kind = Json::kString;
      return String(&value->string);
    }
    if (Word("true")) return value->kind = Json::kBool, value->boolean = true;
    if (Word("false")) return value->kind = Json::kBool, true;
    if (Word("null")) return value->kind = Json::kNull, true;
    return Number(value);
  }

  bool Object(Json* value, int depth) {
    value->kind = Json::kObject;
    ++at_;
    if (Take('}')) return true;
    do {
      std::string name;
      Blanks();
      if (at_ >= text_.size() || text_[at_] != '"' || !String(&name) ||
          !Take(':') || !Value(&value->members[name], depth + 1))
        return false;
    } while (Take(','));
    return Take('}');
  }

  bool Array(Json* value, int depth) {
    value->kind = Json::kArray;
    ++at_;
    if (Take(']')) return true;
    do {
      value->items.emplace_back();
      if (!Value(&value->items.back(), depth + 1)) return false;
    } while (Take(','));
    return Take(']');
  }

  bool Number(Json* value) {
    size_t start = at_;
    auto digits = [&] {
      size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
        ++at_;
      return at_ > from;
    };
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
    } else if (!digits()) {
      return false;
    }
    if (at_ < text_.size() && text_[at_] == '.' && (++at_, !digits()))
      return false;
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!digits()) return false;
    }
    value->kind = Json::kNumber;
    value->number =
        std::strtod(text_.substr(start, at_ - start).c_str(), nullptr);
    return true;
  }

  bool Hex4(unsigned* code) {
    if (at_ + 4 > text_.size()) return false;
    *code = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[at_++];
      *code <<= 4;
      if (c >= '0' && c <= '9')
        *code |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        *code |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        *code |= static_cast<unsigned>(c - 'A' + 10);
      else
        return false;
    }
    return true;
  }

  static void AppendUtf8(unsigned code, std::string* out) {
    if (code < 0x80) {
      *out += static_cast<char>(code);
    } else if (code < 0x800) {
      *out += static_cast<char>(0xc0 | (code >> 6));
      *out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
      *out += static_cast<char>(0xe0 | (code >> 12));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
      *out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
      *out += static_cast<char>(0xf0 | (code >> 18));
      *out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
      *out += static_cast<char>(0x80 | (code & 0x3f));
    }
  }

  // One UTF-8 sequence starting at at_, checked (no overlong forms, no
  // surrogates, nothing above U+10FFFF), copied to *out.
  bool Utf8Sequence(std::string* out) {
    unsigned char lead = static_cast<unsigned char>(text_[at_]);
    size_t length;
    unsigned code, minimum;
    if (lead < 0x80) return *out += text_[at_++], true;
    if ((lead & 0xe0) == 0xc0)
      length = 2, code = lead & 0x1f, minimum = 0x80;
    else if ((lead & 0xf0) == 0xe0)
      length = 3, code = lead & 0x0f, minimum = 0x800;
    else if ((lead & 0xf8) == 0xf0)
      length = 4, code = lead & 0x07, minimum = 0x10000;
    else
      return false;
    if (at_ + length > text_.size()) return false;
    for (size_t i = 1; i < length; ++i) {
      unsigned char next = static_cast<unsigned char>(text_[at_ + i]);
      if ((next & 0xc0) != 0x80) return false;
      code = (code << 6) | (next & 0x3f);
    }
    if (code < minimum || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
      return false;
    out->append(text_, at_, length);
    at_ += length;
    return true;
  }

  bool String(std::string* out) {
    ++at_;  // the opening quote
    while (at_ < text_.size()) {
      unsigned char c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') return ++at_, true;
      if (c < 0x20) return false;
      if (c != '\\') {
        if (!Utf8Sequence(out)) return false;
        continue;
      }
      if (++at_ >= text_.size()) return false;
      char escape = text_[at_++];
      switch (escape) {
        case '"':
          *out += '"';
          break;
        case '\\':
          *out += '\\';
          break;
        case '/':
          *out += '/';
          break;
        case 'b':
          *out += '\b';
          break;
        case 'f':
          *out += '\f';
          break;
        case 'n':
          *out += '\n';
          break;
        case 'r':
          *out += '\r';
          break;
        case 't':
          *out += '\t';
          break;
        case 'u': {
          unsigned code;
          if (!Hex4(&code)) return false;
          if (code >= 0xd800 && code <= 0xdbff) {
            unsigned low;
            if (!Word("\\u") || !Hex4(&low) || low < 0xdc00 || low > 0xdfff)
              return false;
            code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
          } else if (code >= 0xdc00 && code <= 0xdfff) {
            return false;
          }
          AppendUtf8(code, out);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  const std::string& text_;
  size_t at_ = 0;
};

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_MONITOR_TEST_JSON_H_
