#pragma once
// The frame of the kuvlcd command line: each verb lives in its own verb_*.cpp file and registers
// itself here, so verbs can be added without touching the dispatcher.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kuv::cli {

// Prints rows of text cells as columns two blanks apart, each as wide as its widest cell.
template <typename Row>
void PrintColumns(const std::vector<Row>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), std::size(row)));
    for (std::size_t c = 0; c < std::size(row); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < std::size(row); ++c) {
      line += row[c];
      if (c + 1 < std::size(row)) line += std::string(widths[c] - row[c].size() + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
}

// A usage error: printed with the verb's usage line, exit code 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Parsed "--name value" options, bare "--flag" switches and positional words.
class Args {
 public:
  Args(std::vector<std::string> words, const std::vector<std::string>& switches);

  bool Has(const std::string& name) const;
  std::optional<std::string> Get(const std::string& name) const;
  std::string GetOr(const std::string& name, const std::string& fallback) const;
  std::optional<std::int64_t> GetInt(const std::string& name) const;  // UsageError if not a number
  std::int64_t GetIntOr(const std::string& name, std::int64_t fallback) const;
  const std::vector<std::string>& positional() const { return positional_; }
  // Throws UsageError naming any option not in known.
  void RejectUnknown(const std::vector<std::string>& known) const;

 private:
  std::map<std::string, std::string> options_;
  std::vector<std::string> positional_;
};

struct Verb {
  std::string name;                   // "render", "sim init", "direct send" ...
  std::string usage;                  // one line, without the leading "kuvlcd "
  std::vector<std::string> switches;  // options that take no value
  int (*run)(const Args& args);
};

// Adds a verb to the table; used through a static Registrar in each verb file.
void Register(Verb verb);
const std::vector<Verb>& Verbs();

struct Registrar {
  explicit Registrar(Verb verb) { Register(std::move(verb)); }
};

}  // namespace kuv::cli
