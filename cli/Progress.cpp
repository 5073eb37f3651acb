#include "cli/Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/RunTexts.h"
#include "cli/CliTexts.h"

namespace klarwell::cli {

namespace {

constexpr int kMinNameColumns = 4;
const char* const kSeparator = " | ";
constexpr int kSeparatorColumns = 3;

// A piece of text that the terminal shows in one cell or two: one UTF-8 sequence, or one byte that
// is none (shown as a single replacement cell).
struct TGlyph {
  std::string Bytes;
  int Columns = 1;
};

std::vector<TGlyph> Glyphs(const std::string& text) {
  std::vector<TGlyph> glyphs;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80                   ? 1
                    : lead >= 0xC2 && lead < 0xE0 ? 2
                    : lead >= 0xE0 && lead < 0xF0 ? 3
                    : lead >= 0xF0 && lead < 0xF5 ? 4
                                                  : 1;
    if (i + length > text.size()) length = 1;
    uint32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        length = 1;
        codePoint = lead;
        break;
      }
      codePoint = codePoint << 6 | (next & 0x3F);
    }
    TGlyph g;
    g.Bytes = text.substr(i, length);
    // A name's bytes must not move the cursor or start an escape sequence.
    if (length == 1 && (lead < 0x20 || lead == 0x7F)) g.Bytes.assign(1, '?');
    // Without the locale's tables, every character from the first wide block on counts as two
    // columns: the line may end a little short, but it never wraps.
    g.Columns = length > 1 && codePoint >= 0x1100 ? 2 : 1;
    glyphs.push_back(std::move(g));
    i += length;
  }
  return glyphs;
}

int Columns(const std::vector<TGlyph>& glyphs) {
  int n = 0;
  for (const TGlyph& g : glyphs) n += g.Columns;
  return n;
}

// The first glyphs of `glyphs` that fill at most `columns`.
std::string Head(const std::vector<TGlyph>& glyphs, int columns) {
  std::string out;
  for (const TGlyph& g : glyphs) {
    if (g.Columns > columns) break;
    columns -= g.Columns;
    out += g.Bytes;
  }
  return out;
}

// The name in at most `columns`, its middle replaced by "~" when it is longer: the start and the
// end (often a track number) tell files apart best.
std::string Shorten(const std::vector<TGlyph>& name, int columns) {
  if (Columns(name) <= columns) {
    std::string out;
    for (const TGlyph& g : name) out += g.Bytes;
    return out;
  }
  if (columns <= 0) return {};
  const int tailColumns = (columns - 1) / 2;
  std::vector<TGlyph> reversed(name.rbegin(), name.rend());
  std::string tail;
  int used = 0;
  for (const TGlyph& g : reversed) {
    if (used + g.Columns > tailColumns) break;
    used += g.Columns;
    tail.insert(0, g.Bytes);
  }
  return Head(name, columns - 1 - used) + "~" + tail;
}

struct TPart {
  std::string Head;  // "[2/5] "
  std::vector<TGlyph> Name;
  std::string Tail;  // "  37%  00:01:12 remaining"
};

// The parts joined in `available` columns with names shortened evenly (a short name gives its
// unused share to the others); false when even the shortest names do not fit.
bool Fit(const std::vector<TPart>& parts, const std::string& more, int available, std::string& line) {
  int fixed = static_cast<int>(more.size()) + kSeparatorColumns * (static_cast<int>(parts.size()) - 1);
  int wanted = 0;
  std::vector<int> need;
  for (const TPart& p : parts) {
    fixed += static_cast<int>(p.Head.size() + p.Tail.size());
    need.push_back(Columns(p.Name));
    wanted += std::min(need.back(), kMinNameColumns);
  }
  int budget = available - fixed;
  if (budget < wanted) return false;
  // Water filling: the shortest names first, each taking at most an even share of what is left.
  std::vector<size_t> order(parts.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return need[a] < need[b]; });
  std::vector<int> grant(parts.size());
  for (size_t k = 0; k < order.size(); ++k) {
    const int share = budget / static_cast<int>(order.size() - k);
    grant[order[k]] = std::min(need[order[k]], share);
    budget -= grant[order[k]];
  }
  line.clear();
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) line += kSeparator;
    line += parts[i].Head + Shorten(parts[i].Name, grant[i]) + parts[i].Tail;
  }
  line += more;
  return true;
}

}  // namespace

std::string ProgressLine(const std::vector<TProgressItem>& items, size_t fileCount, int width,
                         const std::string& remainingWord, const std::string& runRemaining) {
  const int available = width - 1;
  if (items.empty() || available <= 0) return {};
  // Tails from the fullest to the barest, the figures kept longest: level 0 names the time on every
  // file, 1 on the last one shown only, 2 not at all, 3 drops the time. (Texts are built piecewise:
  // g++ 12 warns falsely on "literal" + std::to_string chains.)
  auto tail = [&](const TProgressItem& item, int level, bool lastShown) {
    std::string t = "  ";
    t += std::to_string(item.Percent);
    t += '%';
    if (!item.Remaining.empty() && level < 3) {
      t += "  ";
      t += item.Remaining;
      if (level == 0 || (level == 1 && lastShown)) t += ' ' + remainingWord;
    }
    return t;
  };
  auto parts = [&](size_t count, int level) {
    std::vector<TPart> out;
    for (size_t i = 0; i < count; ++i) {
      TPart part;
      part.Head = '[';
      part.Head += std::to_string(items[i].Number);
      part.Head += '/';
      part.Head += std::to_string(fileCount);
      part.Head += "] ";
      part.Name = Glyphs(items[i].Name);
      part.Tail = tail(items[i], level, i + 1 == count);
      out.push_back(std::move(part));
    }
    return out;
  };
  auto more = [&](size_t count) {
    std::string m;
    if (count < items.size()) {
      m = "  +";
      m += std::to_string(items.size() - count);
    }
    if (!runRemaining.empty()) {
      m += kSeparator;
      m += runRemaining;
    }
    return m;
  };
  std::string line;
  for (size_t count = items.size(); count >= 1; --count)
    for (int level = 0; level <= 1; ++level)
      if (Fit(parts(count, level), more(count), available, line)) return line;
  for (int level = 2; level <= 3; ++level)
    if (Fit(parts(1, level), more(1), available, line)) return line;
  // Narrower than any sensible line: the first file's place and percentage, or the percentage alone;
  // a figure cut short would tell a wrong number.
  const TPart bare = parts(1, 3)[0];
  const std::string percent = bare.Tail.substr(2);
  if (static_cast<int>(bare.Head.size() + percent.size()) <= available) return bare.Head + percent;
  return static_cast<int>(percent.size()) <= available ? percent : std::string();
}

int TerminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) {
    char* end = nullptr;
    const long n = std::strtol(columns, &end, 10);
    if (*columns && !*end && n > 0 && n < 100000) return static_cast<int>(n);
  }
  return 80;
}

void TProgress::Draw(bool clear) {
  std::vector<TProgressItem> items;
  std::string runRemaining;
  if (!clear) {
    std::lock_guard lock(Mutex);
    for (size_t i = 0; i < Entries.size(); ++i) {
      const TEntry& e = Entries[i];
      if (!e.Active) continue;
      const int percent = e.Max ? static_cast<int>(100.0 * e.Pos / e.Max) : 0;
      items.push_back({i + 1, e.Name, percent, e.Remaining});
    }
    // A run of one file would say the same twice.
    const double seconds = Clock.RemainingSeconds();
    if (Entries.size() > 1 && seconds >= 0) {
      runRemaining = CliText(kRunRemaining);
      runRemaining += ' ';
      runRemaining += FormatSeconds(seconds);
    }
  }
  const std::string line =
      ProgressLine(items, Entries.size(), TerminalWidth(), CliText(kRemaining), runRemaining);
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
}

}  // namespace klarwell::cli
