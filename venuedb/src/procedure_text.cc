#include "procedure_text.h"

#include <cctype>
#include <cstdlib>

#include "sql_words.h"

namespace venuedb {

namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// Splits text into lines, keeping them without their end-of-line characters.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// Removes [brackets] and an owner prefix ("dbo.").
std::string BareName(std::string name) {
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name = name.substr(dot + 1);
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  }
  return name;
}

bool ParseDefinition(const std::string& chunk, ProcedureText* out,
                     std::string* error) {
  // The header runs from CREATE to the first "AS" word outside quotes and
  // parentheses.
  const size_t first = SkipBlanks(chunk, 0, /*semicolons=*/false);
  size_t i = first;
  std::vector<std::string> words;
  size_t params_begin = 0, body_begin = std::string::npos;
  int depth = 0;
  while (i < chunk.size()) {
    const size_t next = SkipBlanks(chunk, i, /*semicolons=*/false);
    if (next != i) {
      i = next;
      continue;
    }
    const char c = chunk[i];
    if (c == '\'') {
      ++i;
      while (i < chunk.size() && chunk[i] != '\'') ++i;
      ++i;
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (IsWordChar(c) || c == '[') {
      size_t start = i;
      if (c == '[') {
        while (i < chunk.size() && chunk[i] != ']') ++i;
        ++i;
      }
      while (i < chunk.size() && (IsWordChar(chunk[i]) || chunk[i] == '.' ||
                                  chunk[i] == '[' || chunk[i] == ']')) {
        ++i;
      }
      std::string word = chunk.substr(start, i - start);
      words.push_back(word);
      if (words.size() == 3) params_begin = i;
      if (words.size() > 3 && depth == 0 && Lower(word) == "as") {
        out->params = chunk.substr(params_begin, start - params_begin);
        body_begin = i;
        break;
      }
      continue;
    }
    ++i;
  }
  if (words.size() < 3 || Lower(words[0]) != "create" ||
      (Lower(words[1]) != "procedure" && Lower(words[1]) != "proc")) {
    *error = "expected CREATE PROCEDURE in: " + chunk.substr(first, 80);
    return false;
  }
  out->name = BareName(words[2]);
  if (body_begin == std::string::npos) {
    *error = "procedure " + out->name + " has no AS";
    return false;
  }
  out->body = Trim(chunk.substr(body_begin));
  // Parameters: drop enclosing parentheses, then one declaration per line.
  std::string params = Trim(out->params);
  if (!params.empty() && params.front() == '(' && params.back() == ')') {
    params = params.substr(1, params.size() - 2);
  }
  std::vector<ParamDecl> decls;
  if (!ParseParamDecls(params, &decls, error)) {
    *error = "procedure " + out->name + ": " + *error;
    return false;
  }
  std::string normalized;
  depth = 0;
  std::string current;
  for (const std::string& line : Lines(WithoutComments(params))) {
    for (char c : line) {
      if (c == '(') ++depth;
      if (c == ')') --depth;
      if (c == ',' && depth == 0) {
        if (!Trim(current).empty()) normalized += Trim(current) + "\n";
        current.clear();
      } else {
        current.push_back(c);
      }
    }
    current.push_back(' ');
  }
  if (!Trim(current).empty()) normalized += Trim(current) + "\n";
  out->params = normalized;
  return true;
}

}  // namespace

bool ParseProcedureFile(const std::string& text,
                        std::vector<ProcedureText>* procedures,
                        std::string* error) {
  std::string chunk;
  auto flush = [&]() {
    const std::string body = std::move(chunk);
    chunk.clear();
    // Comments and blank lines between definitions belong to nobody.
    if (SkipBlanks(body, 0, /*semicolons=*/false) == body.size()) return true;
    ProcedureText p;
    if (!ParseDefinition(body, &p, error)) return false;
    procedures->push_back(p);
    return true;
  };
  for (const std::string& line : Lines(text)) {
    if (Lower(Trim(line)) == "go") {
      if (!flush()) return false;
    } else {
      chunk += line + "\n";
    }
  }
  return flush();
}

namespace {

// The declarations of a params column: split on newlines and on commas
// outside parentheses and quotes.
std::vector<std::string> SplitDeclarations(const std::string& params) {
  std::vector<std::string> items;
  std::string current;
  int depth = 0;
  bool quoted = false;
  for (char c : params) {
    if (c == '\'') quoted = !quoted;
    if (!quoted && c == '(') ++depth;
    if (!quoted && c == ')') --depth;
    if (!quoted && depth == 0 && (c == ',' || c == '\n')) {
      items.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  items.push_back(current);
  return items;
}

bool IsIntegerType(const std::string& type_text) {
  const std::string base = Lower(type_text.substr(0, type_text.find('(')));
  return base == "int" || base == "integer" || base == "smallint" ||
         base == "tinyint" || base == "bigint" || base == "bit";
}

// One declaration, read left to right: "@name type[(size)] [= default]
// [OUTPUT|OUT] [READONLY]".
class DeclarationReader {
 public:
  explicit DeclarationReader(const std::string& item) : item_(item) {}

  bool Read(ParamDecl* d, std::string* error) {
    d->name = Word();
    if (d->name.size() < 2 || d->name[0] != '@')
      return Fail("bad parameter declaration: ", error);
    if (!TypeText(&d->type_text)) return Fail("bad type in: ", error);
    d->is_int = IsIntegerType(d->type_text);
    SkipSpace();
    if (At('=')) {
      ++i_;
      SkipSpace();
      d->default_value = QuotedTextAhead() ? QuotedText() : Literal();
    }
    for (std::string w = Word(); !w.empty(); w = Word()) {
      const std::string lw = Lower(w);
      if (lw == "output" || lw == "out") {
        d->output = true;
      } else if (lw != "readonly") {
        *error = "unexpected '" + w + "' in: " + item_;
        return false;
      }
    }
    SkipSpace();
    if (i_ != item_.size()) return Fail("unexpected text in: ", error);
    if (d->is_int && d->default_value.kind == Value::kText)
      d->default_value = Value::Int(d->default_value.AsInt());
    return true;
  }

 private:
  bool At(char c) const { return i_ < item_.size() && item_[i_] == c; }

  void SkipSpace() {
    while (i_ < item_.size() &&
           std::isspace(static_cast<unsigned char>(item_[i_])))
      ++i_;
  }

  std::string Word() {
    SkipSpace();
    const size_t start = i_;
    while (i_ < item_.size() && IsWordChar(item_[i_])) ++i_;
    return item_.substr(start, i_ - start);
  }

  // The type's name and its parenthesised size, if any.
  bool TypeText(std::string* type_text) {
    *type_text = Word();
    SkipSpace();
    if (!At('(')) return true;
    const size_t close = item_.find(')', i_);
    if (close == std::string::npos) return false;
    *type_text += item_.substr(i_, close + 1 - i_);
    i_ = close + 1;
    return true;
  }

  // 'text' or N'text'.
  bool QuotedTextAhead() const {
    return At('\'') || ((At('N') || At('n')) && i_ + 1 < item_.size() &&
                        item_[i_ + 1] == '\'');
  }

  // A quoted default; '' inside stands for one quote.
  Value QuotedText() {
    if (!At('\'')) ++i_;  // the N
    ++i_;
    std::string text;
    while (i_ < item_.size()) {
      if (item_[i_] == '\'') {
        if (i_ + 1 < item_.size() && item_[i_ + 1] == '\'') {
          text.push_back('\'');
          i_ += 2;
          continue;
        }
        ++i_;
        break;
      }
      text.push_back(item_[i_++]);
    }
    return Value::Text(text);
  }

  // An unquoted default: NULL, an integer, or a word kept as text.
  Value Literal() {
    const size_t start = i_;
    while (i_ < item_.size() &&
           !std::isspace(static_cast<unsigned char>(item_[i_])))
      ++i_;
    const std::string literal = item_.substr(start, i_ - start);
    char* end = nullptr;
    const long long number = std::strtoll(literal.c_str(), &end, 10);
    if (Lower(literal) == "null") return Value::Null();
    if (!literal.empty() && end && *end == '\0') return Value::Int(number);
    return Value::Text(literal);
  }

  bool Fail(const char* what, std::string* error) const {
    *error = what + item_;
    return false;
  }

  const std::string& item_;
  size_t i_ = 0;
};

}  // namespace

bool ParseParamDecls(const std::string& params, std::vector<ParamDecl>* decls,
                     std::string* error) {
  decls->clear();
  for (const std::string& raw : SplitDeclarations(WithoutComments(params))) {
    const std::string item = Trim(raw);
    if (item.empty()) continue;
    ParamDecl d;
    if (!DeclarationReader(item).Read(&d, error)) return false;
    decls->push_back(d);
  }
  return true;
}

}  // namespace venuedb
