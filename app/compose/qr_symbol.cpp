#include "app/compose/qr_symbol.h"

#include <iconv.h>
#include <qrencode.h>

#include <algorithm>
#include <array>
#include <cerrno>
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

// One character of the byte text: its bytes and the modes it may go in.
struct Unit {
  std::size_t offset = 0;
  std::size_t length = 1;
  bool numeric = false;
  bool alnum = false;
  bool kanji = false;
};

std::vector<Unit> SplitUnits(std::string_view bytes, bool kanji) {
  std::vector<Unit> units;
  units.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    Unit unit;
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

// The cheapest segmentation for one version group, by dynamic programming over the characters
// with costs in sixths of a bit (numeric 10/3, alphanumeric 11/2 bits a character).
std::vector<QrSegment> Segment(std::string_view bytes, const std::vector<Unit>& units, int group,
                               int& totalBits) {
  constexpr long kNone = std::numeric_limits<long>::max() / 4;
  std::array<long, kModeCount> head{};
  for (int m = 0; m < kModeCount; ++m) head[m] = (4L + kCountBits[m][group]) * 6;
  std::array<long, kModeCount> previous = head;
  // chosen[i][m]: the mode unit i goes in when the path ends in mode m after unit i.
  std::vector<std::array<std::int8_t, kModeCount>> chosen(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const Unit& unit = units[i];
    std::array<long, kModeCount> current;
    current.fill(kNone);
    chosen[i].fill(-1);
    auto take = [&](QrMode mode, long cost) {
      const auto m = static_cast<int>(mode);
      current[m] = previous[m] + cost;
      chosen[i][m] = static_cast<std::int8_t>(m);
    };
    take(QrMode::kByte, 48L * static_cast<long>(unit.length));
    if (unit.alnum) take(QrMode::kAlphanumeric, 33);
    if (unit.numeric) take(QrMode::kNumeric, 20);
    if (unit.kanji) take(QrMode::kKanji, 78);
    for (int to = 0; to < kModeCount; ++to) {
      for (int from = 0; from < kModeCount; ++from) {
        if (chosen[i][from] < 0 || from == to) continue;
        const long switched = (current[from] + 5) / 6 * 6 + head[to];
        if (chosen[i][to] < 0 || switched < current[to]) {
          current[to] = switched;
          chosen[i][to] = chosen[i][from];
        }
      }
    }
    previous = current;
  }
  int mode = 0;
  for (int m = 1; m < kModeCount; ++m) {
    if (previous[m] < previous[mode]) mode = m;
  }
  std::vector<int> modes(units.size());
  for (std::size_t i = units.size(); i-- > 0;) {
    mode = chosen[i][mode];
    modes[i] = mode;
  }
  std::vector<QrSegment> segments;
  totalBits = 0;
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

const char* IconvName(CodePage codePage) {
  return codePage == CodePage::kCp932 ? "CP932" : "WINDOWS-1252";
}

}  // namespace

int QrDataCodewords(int version, int level) {
  if (version < 1 || version > 40 || level < 0 || level > 3) return 0;
  return kDataCodewords[static_cast<std::size_t>(level)][static_cast<std::size_t>(version - 1)];
}

QrLayout PlanQrSymbol(std::string_view bytes, int level, bool kanji) {
  QrLayout layout;
  if (bytes.empty()) return layout;
  const std::vector<Unit> units = SplitUnits(bytes, kanji);
  for (int group = 0; group < 3; ++group) {
    int bits = 0;
    std::vector<QrSegment> segments = Segment(bytes, units, group, bits);
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

// Two iconv handles kept open, since every keystroke converts the text several times.
struct QrSymbol::Converters {
  iconv_t toCodePage = reinterpret_cast<iconv_t>(-1);
  iconv_t fromCodePage = reinterpret_cast<iconv_t>(-1);
  ~Converters() {
    if (toCodePage != reinterpret_cast<iconv_t>(-1)) iconv_close(toCodePage);
    if (fromCodePage != reinterpret_cast<iconv_t>(-1)) iconv_close(fromCodePage);
  }
};

QrSymbol::QrSymbol(CodePage codePage)
    : codePage_(codePage), converters_(std::make_unique<Converters>()) {
  converters_->toCodePage = iconv_open(IconvName(codePage), "UTF-16LE");
  converters_->fromCodePage = iconv_open("UTF-16LE", IconvName(codePage));
}

QrSymbol::~QrSymbol() = default;

void QrSymbol::SetText(std::u16string_view text) {
  planned_ = false;
  encoded_ = false;
  bytes_.clear();
  readBack_.clear();
  iconv_t to = converters_->toCodePage;
  iconv_t from = converters_->fromCodePage;
  if (to == reinterpret_cast<iconv_t>(-1) || from == reinterpret_cast<iconv_t>(-1)) {
    // Without converters only ASCII can be carried; the rest reads back as "?".
    for (char16_t c : text) {
      bytes_ += c < 0x80 ? static_cast<char>(c) : '?';
      readBack_ += c < 0x80 ? c : u'?';
    }
    return;
  }
  // Character by character, so that each one the code page cannot hold becomes one "?".
  iconv(to, nullptr, nullptr, nullptr, nullptr);
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::size_t units = 1;
    if ((text[i] & 0xFC00) == 0xD800 && i + 1 < text.size() && (text[i + 1] & 0xFC00) == 0xDC00) {
      units = 2;
    }
    char in[4];
    for (std::size_t k = 0; k < units; ++k) {
      in[2 * k] = static_cast<char>(text[i + k] & 0xFF);
      in[2 * k + 1] = static_cast<char>(text[i + k] >> 8);
    }
    char out[8];
    char* inPtr = in;
    std::size_t inLeft = 2 * units;
    char* outPtr = out;
    std::size_t outLeft = sizeof out;
    if (iconv(to, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        inLeft != 0) {
      iconv(to, nullptr, nullptr, nullptr, nullptr);
      bytes_ += '?';
    } else {
      bytes_.append(out, static_cast<std::size_t>(outPtr - out));
    }
    i += units - 1;
  }
  // The read-back is the code-page text turned back, so a character the code page maps to a
  // neighbour shows as changed too.
  iconv(from, nullptr, nullptr, nullptr, nullptr);
  std::string wide(bytes_.size() * 4 + 4, '\0');
  char* inPtr = bytes_.data();
  std::size_t inLeft = bytes_.size();
  char* outPtr = wide.data();
  std::size_t outLeft = wide.size();
  while (inLeft > 0) {
    if (iconv(from, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
      iconv(from, nullptr, nullptr, nullptr, nullptr);
      if (outLeft < 2) break;
      *outPtr++ = '\xFD';
      *outPtr++ = '\xFF';
      outLeft -= 2;
      ++inPtr;
      --inLeft;
    }
  }
  const auto produced = static_cast<std::size_t>(outPtr - wide.data());
  readBack_.reserve(produced / 2);
  for (std::size_t i = 0; i + 1 < produced; i += 2) {
    readBack_ += static_cast<char16_t>(static_cast<unsigned char>(wide[i]) |
                                       (static_cast<unsigned char>(wide[i + 1]) << 8));
  }
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
  layout_ = PlanQrSymbol(bytes_, level_, codePage_ == CodePage::kCp932);
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
