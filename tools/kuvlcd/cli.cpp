#include "tools/kuvlcd/cli.h"

#include <algorithm>
#include <charconv>

namespace kuv::cli {

Args::Args(std::vector<std::string> words, const std::vector<std::string>& switches) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w.size() > 2 && w.rfind("--", 0) == 0) {
      std::string name = w.substr(2);
      if (auto eq = name.find('='); eq != std::string::npos) {
        options_[name.substr(0, eq)] = name.substr(eq + 1);
      } else if (std::find(switches.begin(), switches.end(), name) != switches.end()) {
        options_.insert_or_assign(name, std::string(1, '1'));
      } else if (i + 1 < words.size()) {
        options_[name] = words[++i];
      } else {
        throw UsageError("option --" + name + " needs a value");
      }
    } else {
      positional_.push_back(w);
    }
  }
}

bool Args::Has(const std::string& name) const { return options_.count(name) != 0; }

std::optional<std::string> Args::Get(const std::string& name) const {
  auto it = options_.find(name);
  if (it == options_.end()) return std::nullopt;
  return it->second;
}

std::string Args::GetOr(const std::string& name, const std::string& fallback) const {
  return Get(name).value_or(fallback);
}

std::optional<std::int64_t> Args::GetInt(const std::string& name) const {
  auto text = Get(name);
  if (!text) return std::nullopt;
  const std::string& s = *text;
  std::int64_t value = 0;
  int base = 10;
  std::size_t start = 0;
  bool negative = !s.empty() && s[0] == '-';
  if (negative) start = 1;
  if (s.size() > start + 2 && s[start] == '0' && (s[start + 1] == 'x' || s[start + 1] == 'X')) {
    base = 16;
    start += 2;
  }
  auto [ptr, ec] = std::from_chars(s.data() + start, s.data() + s.size(), value, base);
  if (ec != std::errc() || ptr != s.data() + s.size() || start == s.size()) {
    throw UsageError("option --" + name + " wants a number, not '" + s + "'");
  }
  return negative ? -value : value;
}

std::int64_t Args::GetIntOr(const std::string& name, std::int64_t fallback) const {
  return GetInt(name).value_or(fallback);
}

void Args::RejectUnknown(const std::vector<std::string>& known) const {
  for (const auto& [name, value] : options_) {
    if (std::find(known.begin(), known.end(), name) == known.end()) {
      throw UsageError("unknown option --" + name);
    }
  }
}

namespace {
std::vector<Verb>& Table() {
  static std::vector<Verb> table;
  return table;
}
}  // namespace

void Register(Verb verb) { Table().push_back(std::move(verb)); }
const std::vector<Verb>& Verbs() { return Table(); }

}  // namespace kuv::cli
