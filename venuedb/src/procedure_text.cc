#include "procedure_text.h"

#include <cctype>
#include <cstdlib>

namespace venuedb {

namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string Lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' ||
         c == '#' || c == '$' || (c & 0x80);
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

// Strips a "--" comment that is not inside a quoted text.
std::string StripComment(const std::string& line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\'') quoted = !quoted;
    if (!quoted && line[i] == '-' && i + 1 < line.size() &&
        line[i + 1] == '-') {
      return line.substr(0, i);
    }
  }
  return line;
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
  size_t i = 0;
  std::vector<std::string> words;
  size_t params_begin = 0, body_begin = std::string::npos;
  int depth = 0;
  while (i < chunk.size()) {
    char c = chunk[i];
    if (c == '-' && i + 1 < chunk.size() && chunk[i + 1] == '-') {
      while (i < chunk.size() && chunk[i] != '\n') ++i;
      continue;
    }
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
    *error = "expected CREATE PROCEDURE in: " + chunk.substr(0, 80);
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
  for (const std::string& line : Lines(params)) {
    std::string text = StripComment(line);
    for (char c : text) {
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

bool StartsStatement(const std::string& word) {
  static const char* const kWords[] = {
      "alter", "begin",   "commit", "create", "delete",  "drop",
      "exec",  "execute", "if",     "insert", "replace", "rollback",
      "save",  "select",  "set",    "update", "use",     "with"};
  for (const char* w : kWords) {
    if (word == w) return true;
  }
  return false;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool ParseProcedureFile(const std::string& text,
                        std::vector<ProcedureText>* procedures,
                        std::string* error) {
  std::string chunk;
  auto flush = [&]() {
    // Comment and blank lines before CREATE belong to nobody.
    std::string body;
    bool started = false;
    for (const std::string& line : Lines(chunk)) {
      std::string t = Trim(line);
      if (!started && (t.empty() || t.rfind("--", 0) == 0)) continue;
      started = true;
      body += line + "\n";
    }
    chunk.clear();
    if (Trim(body).empty()) return true;
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

bool ParseParamDecls(const std::string& params, std::vector<ParamDecl>* decls,
                     std::string* error) {
  decls->clear();
  // Split on newlines and on commas outside parentheses and quotes.
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
  for (const std::string& raw : items) {
    std::string item = Trim(StripComment(raw));
    if (item.empty()) continue;
    ParamDecl d;
    size_t i = 0;
    auto skip_space = [&]() {
      while (i < item.size() &&
             std::isspace(static_cast<unsigned char>(item[i])))
        ++i;
    };
    auto word = [&]() {
      skip_space();
      size_t start = i;
      while (i < item.size() && IsWordChar(item[i])) ++i;
      return item.substr(start, i - start);
    };
    d.name = word();
    if (d.name.size() < 2 || d.name[0] != '@') {
      *error = "bad parameter declaration: " + item;
      return false;
    }
    d.type_text = word();
    skip_space();
    if (i < item.size() && item[i] == '(') {
      size_t close = item.find(')', i);
      if (close == std::string::npos) {
        *error = "bad type in: " + item;
        return false;
      }
      d.type_text += item.substr(i, close + 1 - i);
      i = close + 1;
    }
    std::string base = Lower(d.type_text.substr(0, d.type_text.find('(')));
    d.is_int = base == "int" || base == "integer" || base == "smallint" ||
               base == "tinyint" || base == "bigint" || base == "bit";
    skip_space();
    if (i < item.size() && item[i] == '=') {
      ++i;
      skip_space();
      if (i < item.size() &&
          (item[i] == '\'' || ((item[i] == 'N' || item[i] == 'n') &&
                               i + 1 < item.size() && item[i + 1] == '\''))) {
        if (item[i] != '\'') ++i;
        ++i;
        std::string text;
        while (i < item.size()) {
          if (item[i] == '\'') {
            if (i + 1 < item.size() && item[i + 1] == '\'') {
              text.push_back('\'');
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          text.push_back(item[i++]);
        }
        d.default_value = Value::Text(text);
      } else {
        size_t start = i;
        while (i < item.size() &&
               !std::isspace(static_cast<unsigned char>(item[i])))
          ++i;
        std::string literal = item.substr(start, i - start);
        char* end = nullptr;
        long long number = std::strtoll(literal.c_str(), &end, 10);
        if (Lower(literal) == "null") {
          d.default_value = Value::Null();
        } else if (!literal.empty() && end && *end == '\0') {
          d.default_value = Value::Int(number);
        } else {
          d.default_value = Value::Text(literal);
        }
      }
    }
    for (std::string w = word(); !w.empty(); w = word()) {
      std::string lw = Lower(w);
      if (lw == "output" || lw == "out") {
        d.output = true;
      } else if (lw != "readonly") {
        *error = "unexpected '" + w + "' in: " + item;
        return false;
      }
    }
    skip_space();
    if (i != item.size()) {
      *error = "unexpected text in: " + item;
      return false;
    }
    if (d.is_int && d.default_value.kind == Value::kText) {
      d.default_value = Value::Int(d.default_value.AsInt());
    }
    decls->push_back(d);
  }
  return true;
}

}  // namespace venuedb
