#include "sql_types.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "charset.h"
#include "sql_words.h"

namespace venuedb {

namespace {

struct Spelling {
  const char* name;
  SqlType::Base base;
};

// Names compared without case, blanks removed.
const Spelling kSpellings[] = {
    {"tinyint", SqlType::kTinyInt},
    {"smallint", SqlType::kSmallInt},
    {"int", SqlType::kInt},
    {"integer", SqlType::kInt},
    {"bigint", SqlType::kBigInt},
    {"bit", SqlType::kBit},
    {"float", SqlType::kFloat},
    {"double", SqlType::kFloat},
    {"doubleprecision", SqlType::kFloat},
    {"real", SqlType::kReal},
    {"numeric", SqlType::kNumeric},
    {"decimal", SqlType::kDecimal},
    {"dec", SqlType::kDecimal},
    {"money", SqlType::kMoney},
    {"smallmoney", SqlType::kSmallMoney},
    {"datetime", SqlType::kDateTime},
    {"smalldatetime", SqlType::kSmallDateTime},
    {"char", SqlType::kChar},
    {"character", SqlType::kChar},
    {"varchar", SqlType::kVarchar},
    {"text", SqlType::kStoredText},
    {"nchar", SqlType::kNChar},
    {"nationalchar", SqlType::kNChar},
    {"nvarchar", SqlType::kNVarchar},
    {"ntext", SqlType::kNText},
};

bool IsCharKind(SqlType::Base base) {
  return base == SqlType::kChar || base == SqlType::kVarchar ||
         base == SqlType::kNChar || base == SqlType::kNVarchar;
}

// Days from 1970-01-01 of a civil date (Howard Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

constexpr int64_t kDays1900 = -25567;  // 1900-01-01 from 1970-01-01

// Reads exactly `count` digits at text[*at].
bool Digits(std::string_view text, size_t* at, size_t count, int* out) {
  int v = 0;
  for (size_t i = 0; i < count; ++i, ++*at) {
    if (*at >= text.size() ||
        !std::isdigit(static_cast<unsigned char>(text[*at])))
      return false;
    v = v * 10 + (text[*at] - '0');
  }
  *out = v;
  return true;
}

// The number of GB18030 characters' bytes in the first `chars` characters.
size_t Gb18030CharsPrefix(const std::string& text, size_t chars) {
  size_t at = 0;
  for (size_t n = 0; n < chars && at < text.size(); ++n) {
    const auto b = static_cast<unsigned char>(text[at]);
    size_t width = 1;
    if (b >= 0x81 && at + 1 < text.size()) {
      const auto next = static_cast<unsigned char>(text[at + 1]);
      width = next >= 0x30 && next <= 0x39 ? 4 : 2;
    }
    at += width;
  }
  return at < text.size() ? at : text.size();
}

unsigned __int128 PowerOfTen(int n) {
  unsigned __int128 v = 1;
  for (int i = 0; i < n; ++i) v *= 10;
  return v;
}

std::string Int128Text(unsigned __int128 v) {
  std::string out;
  do {
    out.insert(out.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  return out;
}

// A scaled magnitude back to a value: an integer when it has no fraction
// and fits, else a real.
Value ScaledValue(unsigned __int128 magnitude, bool negative, int scale) {
  const unsigned __int128 unit = PowerOfTen(scale);
  if (magnitude % unit == 0 && magnitude / unit <= INT64_MAX) {
    const auto whole = static_cast<int64_t>(magnitude / unit);
    return Value::Int(negative ? -whole : whole);
  }
  std::string text = Int128Text(magnitude);
  if (text.size() <= static_cast<size_t>(scale))
    text.insert(0, static_cast<size_t>(scale) + 1 - text.size(), '0');
  text.insert(text.size() - static_cast<size_t>(scale), ".");
  Value out;
  out.kind = Value::kReal;
  out.real = std::strtod(text.c_str(), nullptr) * (negative ? -1 : 1);
  return out;
}

}  // namespace

SqlType ParseSqlType(std::string_view declared) {
  SqlType out;
  std::string name, args;
  bool in_args = false;
  for (char c : declared) {
    if (c == '"' || c == '[' || c == ']' || c == '`' || c == '\'') continue;
    if (c == '(') {
      in_args = true;
      continue;
    }
    if (c == ')') break;
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    if (in_args) {
      args.push_back(
          static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    } else {
      name.push_back(
          static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
  }
  for (const Spelling& s : kSpellings) {
    if (name == s.name) out.base = s.base;
  }
  if (out.base == SqlType::kUnknown) return out;
  // The arguments: "n", "max", "p" or "p,s".
  const bool numeric =
      out.base == SqlType::kNumeric || out.base == SqlType::kDecimal;
  if (args.empty()) {
    // Bare varchar and nvarchar keep the old rule: they follow their values.
    if (out.base == SqlType::kVarchar || out.base == SqlType::kNVarchar)
      out.base = SqlType::kUnknown;
    if (out.base == SqlType::kChar || out.base == SqlType::kNChar)
      out.length = 1;
    if (numeric) out.precision = 18;
    return out;
  }
  if ((args == "max" || args == "-1") &&
      (out.base == SqlType::kVarchar || out.base == SqlType::kNVarchar)) {
    out.max = true;
    return out;
  }
  char* tail = nullptr;
  const long first = std::strtol(args.c_str(), &tail, 10);
  long second = 0;
  if (*tail == ',' && numeric) second = std::strtol(tail + 1, &tail, 10);
  const long limit =
      out.base == SqlType::kNChar || out.base == SqlType::kNVarchar ? 4000
                                                                    : 8000;
  if (*tail != '\0' || tail == args.c_str()) {
    out.base = SqlType::kUnknown;
  } else if (IsCharKind(out.base) && first >= 1 && first <= limit) {
    out.length = static_cast<uint32_t>(first);
  } else if (numeric && first >= 1 && first <= 38 && second >= 0 &&
             second <= first) {
    out.precision = static_cast<uint8_t>(first);
    out.scale = static_cast<uint8_t>(second);
  } else {
    out.base = SqlType::kUnknown;  // int(11) and the like
  }
  return out;
}

void WriteMaxLengths(std::string* sql) {
  const std::string_view text(*sql);
  std::string previous;  // the last word before this one
  for (size_t i = 0; i < text.size();) {
    if (const size_t end = SkipQuotedOrComment(text, i); end != i) {
      // A bracketed name counts as its word: [nvarchar](max).
      previous = text[i] == '[' && end >= i + 2
                     ? Lower(text.substr(i + 1, end - i - 2))
                     : std::string();
      i = end;
      continue;
    }
    if (text[i] == '(' && (previous == "varchar" || previous == "nvarchar" ||
                           previous == "varbinary")) {
      size_t at = i + 1;
      while (at < text.size() && text[at] == ' ') ++at;
      size_t end = at;
      if (LowerWordAt(text, at, &end) == "max") {
        // "max" becomes "-1" and a blank: the same length.
        (*sql)[at] = '-';
        (*sql)[at + 1] = '1';
        (*sql)[at + 2] = ' ';
      }
    }
    size_t end = i;
    const std::string word = LowerWordAt(text, i, &end);
    if (!word.empty()) {
      previous = word;
      i = end;
      continue;
    }
    // Blanks and closing brackets or quotes of a name keep the word before.
    if (!std::isspace(static_cast<unsigned char>(text[i])) && text[i] != ']') {
      previous.clear();
    }
    ++i;
  }
}

ColumnInfo ColumnFor(const SqlType& type, bool nullable, uint32_t tds_version) {
  ColumnInfo c;
  c.nullable = nullable;
  const bool plp = tds_version >= 0x72000000;
  switch (type.base) {
    case SqlType::kTinyInt:
      c.type = WireType::kInt1;
      break;
    case SqlType::kSmallInt:
      c.type = WireType::kInt2;
      break;
    case SqlType::kInt:
      c.type = WireType::kInt4;
      break;
    case SqlType::kBigInt:
      c.type = WireType::kInt8;
      break;
    case SqlType::kBit:
      c.type = WireType::kBit;
      break;
    case SqlType::kFloat:
      c.type = WireType::kFloat8;
      break;
    case SqlType::kReal:
      c.type = WireType::kFloat4;
      break;
    case SqlType::kNumeric:
    case SqlType::kDecimal:
      c.type = type.base == SqlType::kNumeric ? WireType::kNumeric
                                              : WireType::kDecimal;
      c.precision = type.precision;
      c.scale = type.scale;
      break;
    case SqlType::kMoney:
      c.type = WireType::kMoney;
      break;
    case SqlType::kSmallMoney:
      c.type = WireType::kMoney4;
      break;
    case SqlType::kDateTime:
      c.type = WireType::kDateTime;
      break;
    case SqlType::kSmallDateTime:
      c.type = WireType::kDateTime4;
      break;
    case SqlType::kChar:
      c.type = WireType::kChar;
      c.max_length = static_cast<uint16_t>(type.length);
      break;
    case SqlType::kVarchar:
      c.type = !type.max ? WireType::kVarchar
               : plp     ? WireType::kVarcharMax
                         : WireType::kText;
      c.max_length = static_cast<uint16_t>(type.max ? 8000 : type.length);
      break;
    case SqlType::kUnknown:
    case SqlType::kStoredText:
      c.type = WireType::kVarchar;
      c.max_length = 8000;
      break;
    case SqlType::kNChar:
      c.type = WireType::kNChar;
      c.max_length = static_cast<uint16_t>(2 * type.length);
      break;
    case SqlType::kNVarchar:
      c.type = !type.max ? WireType::kNVarchar
               : plp     ? WireType::kNVarcharMax
                         : WireType::kNText;
      c.max_length = static_cast<uint16_t>(type.max ? 8000 : 2 * type.length);
      break;
    case SqlType::kText:
      c.type = WireType::kText;
      break;
    case SqlType::kNText:
      c.type = WireType::kNText;
      break;
  }
  return c;
}

bool IsWide(WireType type) {
  return type == WireType::kNVarchar || type == WireType::kNChar ||
         type == WireType::kNText || type == WireType::kNVarcharMax;
}

bool IsTextual(WireType type) {
  return IsWide(type) || type == WireType::kVarchar ||
         type == WireType::kChar || type == WireType::kText ||
         type == WireType::kVarcharMax;
}

bool ScaledDecimal(const Value& v, int scale, unsigned __int128* magnitude,
                   bool* negative) {
  *magnitude = 0;
  *negative = false;
  std::string text;
  switch (v.kind) {
    case Value::kNull:
      return false;
    case Value::kInt:
      text = std::to_string(v.integer);
      break;
    case Value::kReal: {
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%.15g", v.real);
      text = buffer;
      break;
    }
    case Value::kText:
      text = v.text;
      break;
  }
  // [blanks][sign]digits[.digits][e[sign]digits][blanks]
  size_t at = 0;
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
    ++at;
  bool minus = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+'))
    minus = text[at++] == '-';
  std::string digits;
  long point = -1;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digits.push_back(c);
    } else if (c == '.' && point < 0) {
      point = static_cast<long>(digits.size());
    } else {
      break;
    }
  }
  if (digits.empty()) return false;
  if (point < 0) point = static_cast<long>(digits.size());
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    char* tail = nullptr;
    point += std::strtol(text.c_str() + at + 1, &tail, 10);
    at = static_cast<size_t>(tail - text.c_str());
  }
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
    ++at;
  if (at != text.size()) return false;
  // The digits before the scaled point, then the one that rounds.
  const long whole = point + scale;
  unsigned __int128 m = 0;
  int significant = 0;
  for (long i = 0; i < whole; ++i) {
    const int d = i < static_cast<long>(digits.size()) ? digits[i] - '0' : 0;
    if (significant > 0 || d != 0) ++significant;
    if (significant > 38) return false;
    m = m * 10 + static_cast<unsigned>(d);
  }
  if (whole >= 0 && whole < static_cast<long>(digits.size()) &&
      digits[static_cast<size_t>(whole)] >= '5') {
    ++m;
  }
  if (m >= PowerOfTen(38)) return false;
  *magnitude = m;
  *negative = minus && m != 0;
  return true;
}

// "Feb 27 2001 10:24:35:056AM", SQL Server's own text of a datetime (style
// 0 and 109): the month's name, the day and year, then optionally the time
// (milliseconds after ':' or '.') and AM or PM. Leaves `at` after the date.
bool MonthNameDate(std::string_view text, size_t* at, int* y, int* mo, int* d) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr",
                                        "may", "jun", "jul", "aug",
                                        "sep", "oct", "nov", "dec"};
  if (text.size() < 3) return false;
  const std::string month = Lower(text.substr(0, 3));
  for (int i = 0; i < 12; ++i) {
    if (month == kMonths[i]) *mo = i + 1;
  }
  if (*mo == 0) return false;
  *at = 3;
  while (*at < text.size() && text[*at] == ' ') ++*at;
  const size_t day = *at;
  while (*at < text.size() && *at - day < 2 &&
         std::isdigit(static_cast<unsigned char>(text[*at]))) {
    *d = *d * 10 + (text[(*at)++] - '0');
  }
  if (*at == day || *at >= text.size() || text[(*at)++] != ' ') return false;
  return Digits(text, at, 4, y) && *d >= 1 && *d <= 31;
}

bool ParseDateTime(std::string_view text, int32_t* days, uint32_t* ms) {
  *days = 0;
  *ms = 0;
  size_t at = 0;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  const bool named =
      !text.empty() && std::isalpha(static_cast<unsigned char>(text[0]));
  if (named ? !MonthNameDate(text, &at, &y, &mo, &d)
            : !Digits(text, &at, 4, &y) || at >= text.size() ||
                  text[at++] != '-' || !Digits(text, &at, 2, &mo) ||
                  at >= text.size() || text[at++] != '-' ||
                  !Digits(text, &at, 2, &d) || mo < 1 || mo > 12 || d < 1 ||
                  d > 31) {
    return false;
  }
  uint32_t millis = 0;
  if (named) {
    // One or more blanks before the time; none after a date alone.
    const size_t year_end = at;
    while (at < text.size() && text[at] == ' ') ++at;
    if (at < text.size()) {
      if (at == year_end) return false;
      --at;
    }
  }
  if (at < text.size()) {
    if (text[at] != ' ' && text[at] != 'T') return false;
    ++at;
    // The hour has one digit or two in the named form ("7:30PM").
    const bool one_digit_hour =
        named && at + 1 < text.size() && text[at + 1] == ':';
    if (!Digits(text, &at, one_digit_hour ? 1 : 2, &h) || at >= text.size() ||
        text[at++] != ':' || !Digits(text, &at, 2, &mi) || h > 23 || mi > 59) {
      return false;
    }
    if (at < text.size() && text[at] == ':' && at + 2 < text.size() &&
        std::isdigit(static_cast<unsigned char>(text[at + 1]))) {
      ++at;
      if (!Digits(text, &at, 2, &s) || s > 59) return false;
    }
    if (at < text.size() && (text[at] == '.' || (named && text[at] == ':'))) {
      ++at;
      // Milliseconds from up to three digits; further ones are ignored.
      uint32_t unit = 100;
      for (; at < text.size() &&
             std::isdigit(static_cast<unsigned char>(text[at]));
           ++at) {
        millis += unit * static_cast<uint32_t>(text[at] - '0');
        unit /= 10;
      }
    }
    if (named && at < text.size()) {
      const std::string half = Lower(text.substr(at));
      if ((half != "am" && half != "pm") || h < 1 || h > 12) return false;
      h = h % 12 + (half == "pm" ? 12 : 0);
      at = text.size();
    }
    if (at != text.size()) return false;
  }
  *days = static_cast<int32_t>(DaysFromCivil(y, mo, d) - kDays1900);
  *ms = ((static_cast<uint32_t>(h) * 60 + static_cast<uint32_t>(mi)) * 60 +
         static_cast<uint32_t>(s)) *
            1000 +
        millis;
  return true;
}

bool ParseDateTimeValue(const Value& v, int32_t* days, uint32_t* ms) {
  return ParseDateTime(v.AsText(), days, ms);
}

std::string DateTimeText(int32_t days, uint32_t ms) {
  // Civil-from-days on the 1970 epoch (Howard Hinnant's algorithm).
  const int64_t z = static_cast<int64_t>(days) + kDays1900 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char buffer[160];
  std::snprintf(buffer, sizeof buffer,
                "%04lld-%02lld-%02lld %02u:%02u:%02u.%03u",
                static_cast<long long>(y), static_cast<long long>(m),
                static_cast<long long>(d), ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  return buffer;
}

bool ConvertTo(const SqlType& type, const Value& in, Value* out) {
  *out = in;
  if (in.is_null()) return true;
  switch (type.base) {
    case SqlType::kTinyInt:
    case SqlType::kSmallInt:
    case SqlType::kInt:
    case SqlType::kBigInt: {
      int64_t v = in.AsInt();
      if (in.kind == Value::kText) {
        unsigned __int128 m = 0;
        bool negative = false;
        if (ScaledDecimal(in, 0, &m, &negative)) {
          if (m > static_cast<unsigned __int128>(INT64_MAX)) return false;
          v = negative ? -static_cast<int64_t>(m) : static_cast<int64_t>(m);
        }
      }
      const int64_t low = type.base == SqlType::kTinyInt    ? 0
                          : type.base == SqlType::kSmallInt ? -32768
                          : type.base == SqlType::kInt      ? INT32_MIN
                                                            : INT64_MIN;
      const int64_t high = type.base == SqlType::kTinyInt    ? 255
                           : type.base == SqlType::kSmallInt ? 32767
                           : type.base == SqlType::kInt      ? INT32_MAX
                                                             : INT64_MAX;
      if (in.kind == Value::kReal &&
          (in.real < static_cast<double>(low) - 1 ||
           in.real > static_cast<double>(high) + 1)) {
        return false;
      }
      if (v < low || v > high) return false;
      *out = Value::Int(v);
      return true;
    }
    case SqlType::kBit:
      *out =
          Value::Int(in.kind == Value::kReal ? in.real != 0 : in.AsInt() != 0);
      return true;
    case SqlType::kFloat:
    case SqlType::kReal:
      if (in.kind != Value::kReal) {
        out->kind = Value::kReal;
        out->real = in.kind == Value::kText
                        ? std::strtod(in.text.c_str(), nullptr)
                        : static_cast<double>(in.integer);
        out->text.clear();
      }
      return true;
    case SqlType::kNumeric:
    case SqlType::kDecimal:
    case SqlType::kMoney:
    case SqlType::kSmallMoney: {
      const bool money =
          type.base == SqlType::kMoney || type.base == SqlType::kSmallMoney;
      const int scale = money ? 4 : type.scale;
      unsigned __int128 m = 0;
      bool negative = false;
      if (!ScaledDecimal(in, scale, &m, &negative)) return false;
      const unsigned __int128 limit = type.base == SqlType::kMoney
                                          ? (negative ? 1ull << 63 : INT64_MAX)
                                      : type.base == SqlType::kSmallMoney
                                          ? (negative ? 1ull << 31 : INT32_MAX)
                                          : PowerOfTen(type.precision) - 1;
      if (m > limit) return false;
      *out = ScaledValue(m, negative, scale);
      return true;
    }
    case SqlType::kChar:
    case SqlType::kVarchar: {
      if (type.max) return true;
      std::string text = in.AsText();
      if (text.size() > type.length) {
        text.resize(Gb18030PrefixLength(text.data(), text.size(), type.length));
      }
      *out = Value::Text(text);
      return true;
    }
    case SqlType::kNChar:
    case SqlType::kNVarchar: {
      if (type.max) return true;
      std::string text = in.AsText();
      text.resize(Gb18030CharsPrefix(text, type.length));
      *out = Value::Text(text);
      return true;
    }
    default:
      return true;
  }
}

const char* SqlTypeName(SqlType::Base base) {
  for (const Spelling& s : kSpellings) {
    if (s.base == base) return s.name;
  }
  return "sql_variant";
}

SqlError WriteOverflow(const SqlType& type, const Value& value) {
  const std::string name = SqlTypeName(type.base);
  if (type.base == SqlType::kTinyInt || type.base == SqlType::kSmallInt) {
    return {220, "Arithmetic overflow error for data type " + name +
                     ", value = " + value.AsText() + "."};
  }
  if (type.base == SqlType::kNumeric || type.base == SqlType::kDecimal) {
    return {8115, "Arithmetic overflow error converting numeric to data type " +
                      name + "."};
  }
  return {8115,
          "Arithmetic overflow error converting expression to data type " +
              name + "."};
}

SqlError ParamOverflow(const SqlType& type, const std::string& from) {
  return {8114, "Error converting data type " + from + " to " +
                    SqlTypeName(type.base) + "."};
}

}  // namespace venuedb
