// The one reader of SQL words and statements, used by batches, transaction
// statements and procedure texts alike: what separates words (blanks, "--"
// comments to the end of the line, "/* */" comments, an unclosed one running
// to the end), which characters make a word, and, between statements, ';'.
#ifndef VENUEDB_SRC_SQL_WORDS_H_
#define VENUEDB_SRC_SQL_WORDS_H_

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace venuedb {

// Where the next word or sign after sql[i] starts: past blanks and comments,
// and past ';' when `semicolons` (between statements; inside one, ';' ends
// it). sql.size() when nothing follows.
size_t SkipBlanks(std::string_view sql, size_t i, bool semicolons = true);

// Whether c belongs to a word: letters, digits, '_', '@', '#', '$' and every
// byte of a multi-byte (GBK) character.
bool IsWordChar(char c);

// Where the word starting at sql[i] ends (i when none starts there).
size_t WordEnd(std::string_view sql, size_t i);

// s in lower case (ASCII letters only; other bytes stay).
std::string Lower(std::string_view s);

// The word at sql[i] in lower case (empty when none starts there); *end, when
// given, is set just past it.
std::string LowerWordAt(std::string_view sql, size_t i, size_t* end = nullptr);

// Where the quoted text ('...', "...", [...]) or comment opening at sql[i]
// ends: just past it (a "--" comment ends before its line break), or i when
// none opens there. One left open runs to the end.
size_t SkipQuotedOrComment(std::string_view sql, size_t i);

// sql with each comment outside quoted text ('...', "...", [...]) replaced by
// its line breaks, or by one blank when it has none: words on either side stay
// apart and lines stay lines.
std::string WithoutComments(std::string_view sql);

// Case-insensitive ASCII comparison, as names of procedures, parameters and
// types are matched.
bool SameName(std::string_view a, std::string_view b);

// Whether a word (in lower case) starts a statement: T-SQL needs no ';'
// between statements, so such a word ends the one before it.
bool StartsStatement(std::string_view word);

// Reads the words and single signs of one statement from sql[pos].
class SqlWords {
 public:
  SqlWords(std::string_view sql, size_t pos) : sql_(sql), pos_(pos) {}

  // The next word in lower case (or one sign), without taking it; empty at a
  // ';' or the end. *original, when given, is the word as written.
  std::string Peek(std::string* original = nullptr);
  std::string Take(std::string* original = nullptr);
  bool TakeIf(const char* expected);
  bool TakeIfAny(std::initializer_list<const char*> expected);
  // An optional name, as written: taken unless it starts the next statement.
  std::string TakeName();
  size_t pos() const { return pos_; }

 private:
  std::string_view sql_;
  size_t pos_;
  size_t next_ = 0;
};

}  // namespace venuedb

#endif  // VENUEDB_SRC_SQL_WORDS_H_
