#include "panelsvc/service_log.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace kuv::svc {

namespace {

constexpr std::string_view kCut = "...";

// Length of the UTF-8 sequence at text[i] and its code point; 0 when the bytes are not UTF-8.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t* code) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return length;
}

// Characters that move the cursor, end a line or reorder what a reader sees.
bool Disguises(char32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029 ||
         (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069) ||
         code == 0x200E || code == 0x200F || code == 0x061C;
}

}  // namespace

std::string EscapeForLog(std::string_view text, std::size_t maxBytes) {
  std::string out;
  out.reserve(std::min(text.size(), maxBytes));
  const std::size_t room = maxBytes > kCut.size() ? maxBytes - kCut.size() : 0;
  // The last place a character ends with room for the mark, should the text not fit.
  std::optional<std::size_t> cutAt;
  for (std::size_t i = 0; i < text.size();) {
    char32_t code = 0;
    std::size_t length = DecodeUtf8(text, i, &code);
    char piece[16];
    std::string_view add;
    if (length == 0) {
      std::snprintf(piece, sizeof piece, "\\x%02X", static_cast<unsigned char>(text[i]));
      add = piece;
      length = 1;
    } else if (code == U'\\') {
      add = "\\\\";
    } else if (Disguises(code)) {
      if (code < 0x100) {
        std::snprintf(piece, sizeof piece, "\\x%02X", static_cast<unsigned>(code));
      } else {
        std::snprintf(piece, sizeof piece, "\\u{%04X}", static_cast<unsigned>(code));
      }
      add = piece;
    } else {
      add = text.substr(i, length);
    }
    if (!cutAt && out.size() + add.size() > room) cutAt = out.size();
    out += add;
    i += length;
    if (out.size() > maxBytes) {
      out.resize(*cutAt);
      out += kCut;
      return out;
    }
  }
  return out;
}

RateLimitedLog::RateLimitedLog(Sink sink, std::function<Clock::time_point()> now,
                               int linesPerWindow, Clock::duration window)
    : sink_(std::move(sink)),
      now_(std::move(now)),
      linesPerWindow_(linesPerWindow),
      window_(window) {}

void RateLimitedLog::Summarise(UserId uid, Share& share) {
  const auto count = [](std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  std::string what;
  if (share.refusals > 0) what = count(share.refusals, "refusal", "refusals");
  if (share.errors > 0) {
    what += (what.empty() ? "" : " and ") + count(share.errors, "client error", "client errors");
  }
  if (what.empty()) return;
  sink_("suppressed " + what + " from uid " + std::to_string(uid));
  share.refusals = share.errors = 0;
}

void RateLimitedLog::Write(UserId uid, LogKind kind, std::string_view line) {
  if (kind == LogKind::kChange) {
    sink_(EscapeForLog(line));
    return;
  }
  const auto now = now_();
  auto [it, added] = shares_.try_emplace(uid, Share{now});
  Share& share = it->second;
  if (!added && now - share.windowStart >= window_) {
    Summarise(uid, share);
    share = Share{now};
  }
  if (share.written >= linesPerWindow_) {
    ++(kind == LogKind::kRefusal ? share.refusals : share.errors);
    return;
  }
  ++share.written;
  sink_(EscapeForLog(line));
}

void RateLimitedLog::Flush() {
  const auto now = now_();
  for (auto it = shares_.begin(); it != shares_.end();) {
    if (now - it->second.windowStart >= window_) {
      Summarise(it->first, it->second);
      it = shares_.erase(it);
    } else {
      ++it;
    }
  }
}

std::optional<RateLimitedLog::Clock::time_point> RateLimitedLog::NextFlush() const {
  std::optional<Clock::time_point> next;
  for (const auto& [uid, share] : shares_) {
    if (share.refusals == 0 && share.errors == 0) continue;
    const auto end = share.windowStart + window_;
    if (!next || end < *next) next = end;
  }
  return next;
}

}  // namespace kuv::svc
