#include "app/compose/qr_symbol.h"

#include <qrencode.h>

#include <algorithm>
#include <array>
#include <limits>

namespace kuv {
namespace {

// Data codewords by level (L, M, Q, H) and version 1 to 40, from the QR standard.
constexpr std::array<std::array<std::int16_t, 40>, 4> kDataCodewords = {{
    {19,   34,   55,   80,   108,  136,  156,  194,  232,  274,  324,  370,  428,  461,
     523,  589,  647,  721,  795,  861,  932,  1006, 1094, 1174, 1276, 1370, 1468, 1531,
     1631, 1735, 1843, 1955, 2071, 2191, 2306, 2434, 2566, 2702, 2812, 2956},
    {16,   28,   44,   64,   86,   108,  124,  154,  182,  216,  254,  290,  334,  365,
     415,  453,  507,  563,  627,  669,  714,  782,  860,  914,  1000, 1062, 1128, 1193,
     1267, 1373, 1455, 1541, 1631, 1725, 1812, 1914, 1992, 2102, 2216, 2334},
    {13,  22,  34,   48,   62,   76,   88,   110,  132,  154,  180,  206, 244, 261,
     295, 325, 367,  397,  445,  485,  512,  568,  614,  664,  718,  754, 808, 871,
     911, 985, 1033, 1115, 1171, 1231, 1286, 1354, 1426, 1502, 1582, 1666},
    {9,   16,  26,  36,  46,  60,  66,  86,   100,  122,  140,  158, 180, 197,
     223, 253, 283, 313, 341, 385, 406, 442,  464,  514,  538,  596, 628, 661,
     701, 745, 793, 845, 901, 961, 986, 1054, 1096, 1142, 1222, 1276},
}};

constexpr int kModeCount = 4;
// Character-count field lengths by mode and version group (1-9, 10-26, 27-40).
constexpr int kCountBits[kModeCount][3] = {{10, 12, 14}, {9, 11, 13}, {8, 16, 16}, {8, 10, 12}};
constexpr int kGroupFirst[3] = {1, 10, 27};
constexpr int kGroupLast[3] = {9, 26, 40};

bool IsAlphanumeric(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == ' ' || c == '$' || c == '%' ||
         c == '*' || c == '+' || c == '-' || c == '.' || c == '/' || c == ':';
}

bool IsShiftJisLead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// A Shift-JIS pair that Kanji mode can carry.
bool IsKanjiPair(unsigned char lead, unsigned char trail) {
  const int code = (lead << 8) | trail;
  const bool inRange = (code >= 0x8140 && code <= 0x9FFC) || (code >= 0xE040 && code <= 0xEBBF);
  return inRange && trail >= 0x40 && trail <= 0xFC && trail != 0x7F;
}

std::vector<QrUnit> SplitUnits(std::string_view bytes, bool kanji) {
  std::vector<QrUnit> units;
  units.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    QrUnit unit;
    unit.offset = i;
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (kanji && IsShiftJisLead(c) && i + 1 < bytes.size()) {
      unit.length = 2;
      unit.kanji = IsKanjiPair(c, static_cast<unsigned char>(bytes[i + 1]));
    } else {
      unit.numeric = c >= '0' && c <= '9';
      unit.alnum = IsAlphanumeric(c);
    }
    units.push_back(unit);
    i += unit.length;
  }
  return units;
}

int SegmentDataBits(QrMode mode, int characters, std::size_t byteCount) {
  switch (mode) {
    case QrMode::kNumeric:
      return 10 * (characters / 3) + (characters % 3 == 0 ? 0 : characters % 3 == 1 ? 4 : 7);
    case QrMode::kAlphanumeric:
      return 11 * (characters / 2) + 6 * (characters % 2);
    case QrMode::kKanji:
      return 13 * characters;
    case QrMode::kByte:
      break;
  }
  return 8 * static_cast<int>(byteCount);
}

constexpr long kNoCost = std::numeric_limits<long>::max() / 4;
using Costs = std::array<long, kModeCount>;
using Choices = std::array<std::int8_t, kModeCount>;

std::array<long, kModeCount> HeadCosts(int group) {
  std::array<long, kModeCount> head{};
  for (int m = 0; m < kModeCount; ++m) head[m] = (4L + kCountBits[m][group]) * 6;
  return head;
}

// One step of the cheapest-segmentation search, with costs in sixths of a bit (numeric 10/3,
// alphanumeric 11/2 bits a character): the costs of ending in each mode after unit, and the
// mode unit goes in for each.
void StepCosts(const QrUnit& unit, const Costs& head, const Costs& previous, Costs& current,
               Choices& chosen) {
  current.fill(kNoCost);
  chosen.fill(-1);
  auto take = [&](QrMode mode, long cost) {
    const auto m = static_cast<int>(mode);
    current[m] = previous[m] + cost;
    chosen[m] = static_cast<std::int8_t>(m);
  };
  take(QrMode::kByte, 48L * static_cast<long>(unit.length));
  if (unit.alnum) take(QrMode::kAlphanumeric, 33);
  if (unit.numeric) take(QrMode::kNumeric, 20);
  if (unit.kanji) take(QrMode::kKanji, 78);
  for (int to = 0; to < kModeCount; ++to) {
    for (int from = 0; from < kModeCount; ++from) {
      if (chosen[from] < 0 || from == to) continue;
      const long switched = (current[from] + 5) / 6 * 6 + head[to];
      if (chosen[to] < 0 || switched < current[to]) {
        current[to] = switched;
        chosen[to] = chosen[from];
      }
    }
  }
}

std::vector<QrSegment> Backtrack(std::string_view bytes, const std::vector<QrUnit>& units,
                                 const std::vector<Costs>& costs,
                                 const std::vector<Choices>& chosen, int group, int& totalBits) {
  std::vector<QrSegment> segments;
  totalBits = 0;
  if (units.empty()) return segments;
  const Costs& last = costs[units.size() - 1];
  int mode = 0;
  for (int m = 1; m < kModeCount; ++m) {
    if (last[m] < last[mode]) mode = m;
  }
  std::vector<int> modes(units.size());
  for (std::size_t i = units.size(); i-- > 0;) {
    mode = chosen[i][mode];
    modes[i] = mode;
  }
  for (std::size_t i = 0; i < units.size();) {
    std::size_t end = i;
    QrSegment segment;
    segment.mode = static_cast<QrMode>(modes[i]);
    while (end < units.size() && modes[end] == modes[i]) {
      segment.bytes.append(bytes.substr(units[end].offset, units[end].length));
      ++segment.characters;
      ++end;
    }
    totalBits += 4 + kCountBits[modes[i]][group] +
                 SegmentDataBits(segment.mode, segment.characters, segment.bytes.size());
    segments.push_back(std::move(segment));
    i = end;
  }
  return segments;
}

QRencodeMode LibraryMode(QrMode mode) {
  switch (mode) {
    case QrMode::kNumeric:
      return QR_MODE_NUM;
    case QrMode::kAlphanumeric:
      return QR_MODE_AN;
    case QrMode::kKanji:
      return QR_MODE_KANJI;
    case QrMode::kByte:
      break;
  }
  return QR_MODE_8;
}

bool IsBright(std::uint32_t rgb) {
  const std::uint32_t sum = ((rgb >> 16) & 0xFF) + ((rgb >> 8) & 0xFF) + (rgb & 0xFF);
  return sum >= 3 * 128;
}

}  // namespace

int QrDataCodewords(int version, int level) {
  if (version < 1 || version > 40 || level < 0 || level > 3) return 0;
  return kDataCodewords[static_cast<std::size_t>(level)][static_cast<std::size_t>(version - 1)];
}

QrLayout QrPlanner::Plan(std::string_view bytes, int level, bool kanji) {
  QrLayout layout;
  if (kanji != kanji_) {
    kanji_ = kanji;
    bytes_.clear();
    units_.clear();
  }
  std::size_t same = 0;
  while (same < bytes.size() && same < bytes_.size() && bytes[same] == bytes_[same]) ++same;
  std::vector<QrUnit> units = SplitUnits(bytes, kanji);
  // The search runs left to right, so the steps of units inside the unchanged start are kept:
  // a keystroke at the end, or a character trimmed off, costs only the changed tail.
  std::size_t keep = 0;
  while (keep < units.size() && keep < units_.size() &&
         units[keep].offset + units[keep].length <= same &&
         units[keep].length == units_[keep].length) {
    ++keep;
  }
  bytes_.assign(bytes);
  units_ = std::move(units);
  // Steps are valid for the units shared with the last text, in every group, searched or not.
  for (std::size_t& valid : valid_) valid = std::min(valid, keep);
  if (bytes_.empty()) return layout;
  for (int group = 0; group < 3; ++group) {
    std::vector<Costs>& costs = costs_[static_cast<std::size_t>(group)];
    std::vector<Choices>& chosen = chosen_[static_cast<std::size_t>(group)];
    const Costs head = HeadCosts(group);
    const std::size_t from = valid_[static_cast<std::size_t>(group)];
    costs.resize(units_.size());
    chosen.resize(units_.size());
    for (std::size_t i = from; i < units_.size(); ++i) {
      StepCosts(units_[i], head, i == 0 ? head : costs[i - 1], costs[i], chosen[i]);
    }
    valid_[static_cast<std::size_t>(group)] = units_.size();
    int bits = 0;
    // The cheapest path never costs less than a version of the group can hold when the
    // smallest sum of its costs is already too large; skip building it then.
    const Costs& last = costs[units_.size() - 1];
    const long cheapest = *std::min_element(last.begin(), last.end());
    if ((cheapest + 5) / 6 > 8L * QrDataCodewords(kGroupLast[group], level)) continue;
    std::vector<QrSegment> segments = Backtrack(bytes_, units_, costs, chosen, group, bits);
    for (int version = kGroupFirst[group]; version <= kGroupLast[group]; ++version) {
      if (8 * QrDataCodewords(version, level) >= bits) {
        layout.version = version;
        layout.bits = bits;
        layout.segments = std::move(segments);
        return layout;
      }
    }
  }
  return layout;
}

QrLayout PlanQrSymbol(std::string_view bytes, int level, bool kanji) {
  QrPlanner planner;
  return planner.Plan(bytes, level, kanji);
}

QrSymbol::QrSymbol(CodePage codePage) : codePage_(codePage) {}

QrSymbol::~QrSymbol() = default;

void QrSymbol::SetText(std::u16string_view text) {
  planned_ = false;
  encoded_ = false;
  bytes_.clear();
  readBack_.clear();
  bytes_.reserve(text.size() * 2);
  readBack_.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    // Both code pages hold ASCII as itself.
    if (c < 0x80) {
      bytes_ += static_cast<char>(c);
      readBack_ += c;
      continue;
    }
    std::size_t units = 1;
    if ((c & 0xFC00) == 0xD800 && i + 1 < text.size() && (text[i + 1] & 0xFC00) == 0xDC00) {
      units = 2;
    }
    const std::u16string_view character = text.substr(i, units);
    const Conversion& conversion = Convert(character);
    bytes_ += conversion.bytes;
    readBack_ += conversion.readBack;
    i += units - 1;
  }
}

// Characters the code page cannot hold become one "?"; the read-back is the code-page bytes
// turned back, so a character the code page maps to a neighbour shows as changed too.
const QrSymbol::Conversion& QrSymbol::Convert(std::u16string_view character) {
  std::u16string key(character);
  auto found = conversions_.find(key);
  if (found != conversions_.end()) return found->second;
  Conversion conversion;
  conversion.bytes = ToCodePage(character, codePage_);
  conversion.readBack = FromCodePage(conversion.bytes, codePage_);
  // A text holds few distinct characters; the memo stays small.
  return conversions_.emplace(std::move(key), std::move(conversion)).first->second;
}

void QrSymbol::SetDotsPerModule(int dots) {
  dotsPerModule_ = dots == 1 ? 1 : 2;
}

void QrSymbol::SetLevel(int level) {
  const int clamped = std::clamp(level, 0, 3);
  if (clamped == level_) return;
  level_ = clamped;
  planned_ = false;
  encoded_ = false;
}

void QrSymbol::Plan() {
  if (planned_) return;
  layout_ = planner_.Plan(bytes_, level_, codePage_ == CodePage::kCp932);
  planned_ = true;
}

int QrSymbol::Width() {
  if (bytes_.empty()) return 0;
  Plan();
  return layout_.version == 0 ? kQrTooLargeWidth : 17 + 4 * layout_.version;
}

const std::vector<bool>& QrSymbol::Modules() {
  if (encoded_) return modules_;
  encoded_ = true;
  modules_.clear();
  Plan();
  if (layout_.version == 0) return modules_;
  QRinput* input = QRinput_new2(layout_.version, static_cast<QRecLevel>(level_));
  if (!input) return modules_;
  bool ok = true;
  for (const QrSegment& segment : layout_.segments) {
    // Kanji segments are given as their Shift-JIS bytes, two a character.
    ok = ok &&
         QRinput_append(input, LibraryMode(segment.mode), static_cast<int>(segment.bytes.size()),
                        reinterpret_cast<const unsigned char*>(segment.bytes.data())) == 0;
  }
  QRcode* code = ok ? QRcode_encodeInput(input) : nullptr;
  QRinput_free(input);
  if (!code) return modules_;
  // The planned version is the one the width promised; a symbol of any other size is not drawn.
  if (code->version == layout_.version) {
    const auto side = static_cast<std::size_t>(code->width);
    modules_.resize(side * side);
    for (std::size_t i = 0; i < side * side; ++i) modules_[i] = (code->data[i] & 1) != 0;
  }
  QRcode_free(code);
  return modules_;
}

void QrSymbol::Paint(Picture& canvas, int x, int y) {
  const int width = Width();
  if (width == 0 || width == kQrTooLargeWidth) return;
  const std::vector<bool>& modules = Modules();
  if (modules.empty()) return;
  const std::uint8_t dark = IsBright(darkColor_) ? kWhite : kBlack;
  const std::uint8_t light = IsBright(lightColor_) ? kWhite : kBlack;
  const int side = (width + 2 * kQrMarginModules) * dotsPerModule_;
  for (int dy = 0; dy < side; ++dy) {
    const int row = dy / dotsPerModule_ - kQrMarginModules;
    for (int dx = 0; dx < side; ++dx) {
      const int column = dx / dotsPerModule_ - kQrMarginModules;
      const bool isDark = row >= 0 && row < width && column >= 0 && column < width &&
                          modules[static_cast<std::size_t>(row * width + column)];
      canvas.Set(x + dx, y + dy, isDark ? dark : light);
    }
  }
}

}  // namespace kuv
