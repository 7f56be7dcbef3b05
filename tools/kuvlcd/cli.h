#pragma once
// The frame of the kuvlcd command line: each verb lives in its own verb_*.cpp file and registers
// itself here with its table of options, from which both the parser and --help are made, so the
// help never lists an option the parser refuses or leaves out one it takes.

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

// Exit statuses every verb shares; a verb's help names any other it uses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// A usage error: printed with the verb's usage, exit status 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Option {
  std::string name;   // without the leading dashes
  std::string value;  // what the value is, as the help shows it ("N", "FILE"); empty: a switch
  std::string help;   // one line
};

struct OptionGroup {
  std::string heading;  // empty for the verb's own options
  std::vector<Option> options;

  const Option* Find(const std::string& name) const;
};

struct ExitStatus {
  int status;
  std::string meaning;
};

struct Verb {
  std::string name;                 // "render", "sim init", "direct send" ...
  std::string brief;                // one line for the list of commands
  std::string summary;              // what the verb does, a few sentences for its help
  std::vector<std::string> forms;   // what follows "kuvlcd NAME" on each usage line
  std::vector<OptionGroup> groups;  // every option the verb takes
  std::string notes;                // more for --help: values, output, what a choice means
  int (*run)(const class Args& args) = nullptr;
  std::vector<ExitStatus> exits = {};  // the verb's own, beyond 0, 1 and 2
  std::vector<std::string> words =
      {};  // the words it takes besides options, as its usage names them

  const Option* FindOption(const std::string& name) const;
};

// The options and positional words of one verb's command line, parsed against its table:
// "--name value", "--name=value", switches, and "--" before words that start with a dash.
class Args {
 public:
  // Throws UsageError for an option the verb does not take, a switch given a value or an option
  // without its value; sees --help and -h anywhere, and then throws nothing.
  Args(const std::vector<std::string>& words, const Verb& verb);

  bool helpRequested() const { return help_; }
  bool Has(const std::string& name) const;
  std::optional<std::string> Get(const std::string& name) const;
  std::string GetOr(const std::string& name, const std::string& fallback) const;
  std::optional<std::int64_t> GetInt(const std::string& name) const;  // UsageError if not a number
  std::int64_t GetIntOr(const std::string& name, std::int64_t fallback) const;
  const std::vector<std::string>& positional() const { return positional_; }
  // The names of the options given, in name order.
  std::vector<std::string> Given() const;

 private:
  std::map<std::string, std::string> options_;
  std::vector<std::string> positional_;
  bool help_ = false;
};

// Adds a verb to the table; used through a static Registrar in each verb file.
void Register(Verb verb);
// Every verb, in name order.
const std::vector<Verb>& Verbs();

struct Registrar {
  explicit Registrar(Verb verb) { Register(std::move(verb)); }
};

// The texts of --help: the tool's, one verb's, and a group's ("sim", "direct").
std::string ToolHelp();
std::string VerbHelp(const Verb& verb);
std::string GroupHelp(const std::string& group);
std::string UsageLines(const Verb& verb);
std::string VersionText();

// Runs a command line (without the program's name); the exit status.
int RunCommandLine(const std::vector<std::string>& words);

// "kuvlcd VERB", the prefix of the running verb's messages.
const std::string& Program();
// True when the standard output is a terminal, where a picture's bytes do not belong.
bool StdoutIsTerminal();
// A line on stderr that does not change the exit status.
void Warn(const std::string& text);
// The window's message for a service that does not answer, on stderr.
void ReportServiceUnreachable();

// An integer option within low..high (fallback when absent); UsageError otherwise.
std::int64_t IntInRange(const Args& args, const std::string& name, std::int64_t fallback,
                        std::int64_t low, std::int64_t high);
// --drive as a drive number 0 to 31; UsageError when absent or out of range.
std::int32_t RequiredDrive(const Args& args);
// --format as one of choices, fallback when absent; UsageError otherwise.
std::string FormatOption(const Args& args, const std::vector<std::string>& choices,
                         const std::string& fallback);

}  // namespace kuv::cli
