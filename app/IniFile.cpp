#include "app/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace klarwell {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Trim(const std::string& text) {
  size_t first = 0, last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// The name of a "[name]" line, or false when the line is not a section header.
bool SectionName(const std::string& line, std::string& name) {
  std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  size_t close = t.find(']');
  if (close == std::string::npos) return false;
  name = Trim(t.substr(1, close - 1));
  return true;
}

// Splits a "key=value" line; comments (';' or '#') and lines without '=' are not entries.
bool SplitEntry(const std::string& line, std::string& key, std::string& value) {
  std::string t = Trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '#' || t.front() == '[') return false;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(t.substr(0, eq));
  value = t.substr(eq + 1);
  return true;
}

// A value written into a line must not contain a line break: the rest would become a line of
// its own and could even pose as a section or key of the file.
std::string OneLine(const std::string& text) {
  std::string result = text;
  for (char& c : result)
    if (c == '\r' || c == '\n') c = ' ';
  return result;
}

}  // namespace

bool ParseIniInteger(const std::string& text, int& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  long long magnitude = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    magnitude = magnitude * base + digit;
    // Hexadecimal values may use all 32 bits (0xFFFFFFFF is -1), decimal ones only the signed range.
    if (magnitude > (base == 16 ? 0xFFFFFFFFLL : static_cast<long long>(INT_MAX) + 1)) return false;
  }
  if (base == 16 && !negative) {
    value = static_cast<int>(static_cast<uint32_t>(magnitude));
    return true;
  }
  if (negative) magnitude = -magnitude;
  if (magnitude < INT_MIN || magnitude > INT_MAX) return false;
  value = static_cast<int>(magnitude);
  return true;
}

bool TIniFile::Load(const std::string& path) {
  Lines.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Lines.push_back(line);
  }
  return true;
}

int TIniFile::FindSection(const std::string& section) const {
  std::string name;
  for (size_t i = 0; i < Lines.size(); ++i)
    if (SectionName(Lines[i], name) && SameName(name, section)) return static_cast<int>(i);
  return -1;
}

int TIniFile::SectionEnd(int sectionLine) const {
  std::string name;
  size_t i = static_cast<size_t>(sectionLine) + 1;
  while (i < Lines.size() && !SectionName(Lines[i], name)) ++i;
  return static_cast<int>(i);
}

int TIniFile::FindKey(int sectionLine, const std::string& key) const {
  std::string k, v;
  int end = SectionEnd(sectionLine);
  for (int i = sectionLine + 1; i < end; ++i)
    if (SplitEntry(Lines[i], k, v) && SameName(k, key)) return i;
  return -1;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  int s = FindSection(section);
  if (s < 0) return defaultValue;
  int line = FindKey(s, key);
  if (line < 0) return defaultValue;
  std::string k, value;
  SplitEntry(Lines[line], k, value);
  value = Trim(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  if (value.size() > MaxValueLength) value.resize(MaxValueLength);
  return value;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int defaultValue) const {
  int value;
  return ParseIniInteger(ReadString(section, key, ""), value) ? value : defaultValue;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  std::string line = key + "=" + OneLine(value);
  int s = FindSection(section);
  if (s < 0) {
    // A new section is set off from the one before by a blank line, as editors of such files do.
    if (!Lines.empty() && !Trim(Lines.back()).empty()) Lines.emplace_back();
    Lines.push_back("[" + section + "]");
    Lines.push_back(line);
    return;
  }
  int k = FindKey(s, key);
  if (k >= 0) {
    Lines[k] = line;
    return;
  }
  // Append after the section's last non-blank line, so the blank line before the next section stays.
  int end = SectionEnd(s);
  while (end - 1 > s && Trim(Lines[end - 1]).empty()) --end;
  Lines.insert(Lines.begin() + end, line);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

std::string TIniFile::Text() const {
  std::string text;
  for (const std::string& line : Lines) {
    text += line;
    text += '\n';
  }
  return text;
}

bool TIniFile::Save(const std::string& path, std::string& errorText) const {
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) {
    errorText = std::strerror(errno);
    return false;
  }
  std::string text = Text();
  const char* p = text.data();
  size_t left = text.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  // The data must be on disk before the rename makes it the settings file.
  if (ok && fsync(fd) != 0) ok = false;
  int savedErrno = errno;
  // mkstemp creates the file for its owner only; a settings file is an ordinary file.
  fchmod(fd, 0644);
  if (close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    std::remove(temp.c_str());
    errorText = std::strerror(savedErrno);
  }
  return ok;
}

}  // namespace klarwell
