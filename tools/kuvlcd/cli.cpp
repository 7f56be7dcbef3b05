#include "tools/kuvlcd/cli.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <exception>

#include "app/model/service_hint.h"
#include "common/service_client.h"
#include "common/utf16.h"

#ifndef KUVLCD_VERSION
#define KUVLCD_VERSION "unknown"
#endif

namespace kuv::cli {
namespace {

std::vector<Verb>& Table() {
  static std::vector<Verb> table;
  return table;
}

std::string& ProgramName() {
  static std::string name = "kuvlcd";
  return name;
}

bool IsHelpWord(const std::string& word) {
  return word == "--help" || word == "-h";
}

// A word that starts with one dash and is not a number is an option the tool does not have; a
// negative number or a lone "-" is a positional word.
bool LooksLikeShortOption(const std::string& word) {
  return word.size() > 1 && word[0] == '-' && word[1] != '-' && !(word[1] >= '0' && word[1] <= '9');
}

std::vector<std::string> SplitWords(const std::string& name) {
  std::vector<std::string> parts;
  std::size_t pos = 0;
  while (pos <= name.size()) {
    std::size_t next = name.find(' ', pos);
    if (next == std::string::npos) next = name.size();
    parts.push_back(name.substr(pos, next - pos));
    pos = next + 1;
  }
  return parts;
}

// The verb whose words open the command line; the longest match wins ("sim init" over "sim").
const Verb* FindVerb(const std::vector<std::string>& words, std::size_t& used) {
  const Verb* best = nullptr;
  for (const Verb& verb : Verbs()) {
    const std::vector<std::string> parts = SplitWords(verb.name);
    if (parts.size() > words.size() || (best && parts.size() <= used)) continue;
    if (std::equal(parts.begin(), parts.end(), words.begin())) {
      best = &verb;
      used = parts.size();
    }
  }
  return best;
}

// True when word is the first word of verbs of several words ("sim", "direct").
bool IsGroup(const std::string& word) {
  return std::any_of(Verbs().begin(), Verbs().end(), [&](const Verb& verb) {
    return verb.name.size() > word.size() && verb.name.compare(0, word.size(), word) == 0 &&
           verb.name[word.size()] == ' ';
  });
}

std::string OptionLabel(const Option& option) {
  return "--" + option.name + (option.value.empty() ? "" : " " + option.value);
}

constexpr std::size_t kHelpWidth = 79;

// The text broken at blanks into lines that fit the help's width, every line after the first
// indented to `indent` columns; a word longer than a line stays whole.
std::string Wrapped(const std::string& text, std::size_t firstColumn = 0, std::size_t indent = 0) {
  std::string out;
  std::string line;
  std::size_t column = firstColumn;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(pos, end - pos);
    if (!line.empty() && column + line.size() + 1 + word.size() > kHelpWidth) {
      out += line + "\n" + std::string(indent, ' ');
      line.clear();
      column = indent;
    }
    line += (line.empty() ? "" : " ") + word;
    pos = end + 1;
  }
  return out + line + "\n";
}

// Each line of text a paragraph wrapped to the help's width; indented lines (lists, tables) are
// kept as they are.
std::string WrappedParagraphs(const std::string& text) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    out += line.empty() || line[0] == ' ' ? line + "\n" : Wrapped(line);
    pos = end + 1;
  }
  return out;
}

// Labels wider than this get their text on a line of its own, so one long label does not squeeze
// every text of its list.
constexpr std::size_t kMaxLabelWidth = 22;

// The width of the label column of a list of labels.
std::size_t LabelWidth(std::size_t widest) {
  return std::min(widest, kMaxLabelWidth);
}

// "  left  right", right in a column `width` wide labels leave free, wrapped beneath itself.
void AppendPadded(std::string& out, const std::string& left, std::size_t width,
                  const std::string& right) {
  out += "  " + left;
  if (right.empty()) {
    out += '\n';
    return;
  }
  if (left.size() > width) {
    out += "\n" + std::string(width + 4, ' ');
  } else {
    out += std::string(width - left.size() + 2, ' ');
  }
  out += Wrapped(right, width + 4, width + 4);
}

// The statuses every verb shares, then those of the verbs given, each named by its verb when
// the list is the tool's.
std::string ExitStatuses(const std::vector<const Verb*>& verbs) {
  std::vector<ExitStatus> statuses = {
      {kExitOk, "done"},
      {kExitFailed,
       "failed; the message on stderr says why (no service, no panel on the drive, a file that "
       "cannot be read or written ...)"},
      {kExitUsage, "usage error: an unknown command or option, a missing or out-of-range value"}};
  for (const Verb* verb : verbs) {
    for (const ExitStatus& status : verb->exits) {
      const std::string who = verbs.size() > 1 ? verb->name + ": " : "";
      auto same = std::find_if(statuses.begin(), statuses.end(),
                               [&](const ExitStatus& s) { return s.status == status.status; });
      if (same == statuses.end()) {
        statuses.push_back({status.status, who + status.meaning});
      } else {
        same->meaning += "; " + who + status.meaning;
      }
    }
  }
  std::string out = "Exit status:\n";
  for (const ExitStatus& status : statuses) {
    AppendPadded(out, std::to_string(status.status), 1, status.meaning);
  }
  return out;
}

int Usage(const std::string& message, const std::string& usage) {
  std::fprintf(stderr, "%s: %s\n%s", Program().c_str(), message.c_str(), usage.c_str());
  return kExitUsage;
}

int PrintHelp(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return kExitOk;
}

// A verb takes exactly the words its table names, so a stray word is never silently ignored.
void CheckWords(const Args& args, const Verb& verb) {
  const std::vector<std::string>& given = args.positional();
  if (given.size() > verb.words.size()) {
    throw UsageError("unexpected '" + given[verb.words.size()] + "'");
  }
  if (given.size() < verb.words.size()) {
    std::string names;
    for (std::size_t i = 0; i < verb.words.size(); ++i) {
      names += (i == 0 ? "" : i + 1 == verb.words.size() ? " and " : ", ") + verb.words[i];
    }
    throw UsageError(names + (verb.words.size() == 1 ? " is" : " are") + " needed");
  }
}

// `kuvlcd help [COMMAND...]`.
int RunHelp(const std::vector<std::string>& words) {
  if (words.empty()) return PrintHelp(ToolHelp());
  std::size_t used = 0;
  if (const Verb* verb = FindVerb(words, used); verb && used == words.size()) {
    return PrintHelp(VerbHelp(*verb));
  }
  if (words.size() == 1 && IsGroup(words[0])) return PrintHelp(GroupHelp(words[0]));
  return Usage("unknown command '" + words[0] + "'", "Run 'kuvlcd --help' for the commands.\n");
}

}  // namespace

const Option* OptionGroup::Find(const std::string& name) const {
  for (const Option& option : options) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

const Option* Verb::FindOption(const std::string& optionName) const {
  for (const OptionGroup& group : groups) {
    if (const Option* option = group.Find(optionName)) return option;
  }
  return nullptr;
}

Args::Args(const std::vector<std::string>& words, const Verb& verb) {
  // Help wins over any mistake on the same line, so the first one found waits for the end.
  std::optional<std::string> mistake;
  auto note = [&mistake](std::string text) {
    if (!mistake) mistake = std::move(text);
  };
  bool optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (optionsEnded) {
      positional_.push_back(w);
    } else if (w == "--") {
      optionsEnded = true;
    } else if (IsHelpWord(w)) {
      help_ = true;
    } else if (w.size() > 2 && w.rfind("--", 0) == 0) {
      std::string name = w.substr(2);
      std::optional<std::string> value;
      if (auto eq = name.find('='); eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
      }
      const Option* option = verb.FindOption(name);
      if (!option) {
        note("unknown option --" + name);
      } else if (option->value.empty()) {
        // "--reverse=0" must not turn reversing on.
        if (value) note("--" + name + " takes no value");
        options_.insert_or_assign(name, std::string(1, '1'));
      } else if (value) {
        options_.insert_or_assign(name, *value);
      } else if (i + 1 < words.size()) {
        options_.insert_or_assign(name, words[++i]);
      } else {
        note("--" + name + " needs a value: " + OptionLabel(*option));
      }
    } else if (LooksLikeShortOption(w)) {
      note("unknown option " + w);
    } else {
      positional_.push_back(w);
    }
  }
  if (mistake && !help_) throw UsageError(*mistake);
}

bool Args::Has(const std::string& name) const {
  return options_.count(name) != 0;
}

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

std::vector<std::string> Args::Given() const {
  std::vector<std::string> names;
  for (const auto& [name, value] : options_) names.push_back(name);
  return names;
}

void Register(Verb verb) {
  std::vector<Verb>& table = Table();
  auto at = std::lower_bound(table.begin(), table.end(), verb.name,
                             [](const Verb& v, const std::string& name) { return v.name < name; });
  table.insert(at, std::move(verb));
}

const std::vector<Verb>& Verbs() {
  return Table();
}

std::string UsageLines(const Verb& verb) {
  std::string out;
  std::vector<std::string> forms = verb.forms;
  if (forms.empty()) forms.push_back(verb.groups.empty() ? "" : "[options]");
  for (std::size_t i = 0; i < forms.size(); ++i) {
    const std::string head = (i == 0 ? "usage: kuvlcd " : "       kuvlcd ") + verb.name;
    out += forms[i].empty() ? head + "\n"
                            : head + " " + Wrapped(forms[i], head.size() + 1, head.size() + 1);
  }
  return out;
}

std::string VerbHelp(const Verb& verb) {
  std::string out = UsageLines(verb) + "\n" + Wrapped(verb.summary);
  std::size_t width = OptionLabel({"help", "", ""}).size();
  for (const OptionGroup& group : verb.groups) {
    for (const Option& option : group.options) width = std::max(width, OptionLabel(option).size());
  }
  width = LabelWidth(width);
  const std::vector<OptionGroup> none = {{}};
  bool first = true;
  for (const OptionGroup& group : verb.groups.empty() ? none : verb.groups) {
    out += "\n" + (group.heading.empty() ? std::string("Options") : group.heading) + ":\n";
    for (const Option& option : group.options) {
      AppendPadded(out, OptionLabel(option), width, option.help);
    }
    if (first) AppendPadded(out, "--help", width, "what the command does and its options");
    first = false;
  }
  if (!verb.notes.empty()) out += "\n" + WrappedParagraphs(verb.notes);
  return out + "\n" + ExitStatuses({&verb});
}

std::string GroupHelp(const std::string& group) {
  std::string out = "usage: kuvlcd " + group + " COMMAND [options]\n\nCommands:\n";
  std::size_t width = 0;
  for (const Verb& verb : Verbs()) {
    if (verb.name.rfind(group + " ", 0) == 0) width = std::max(width, verb.name.size());
  }
  for (const Verb& verb : Verbs()) {
    if (verb.name.rfind(group + " ", 0) == 0) AppendPadded(out, verb.name, width, verb.brief);
  }
  out += "\nRun 'kuvlcd " + group + " COMMAND --help' for a command's options.\n";
  return out;
}

std::string ToolHelp() {
  std::string out =
      "usage: kuvlcd COMMAND [options]\n"
      "       kuvlcd COMMAND --help\n"
      "       kuvlcd --version\n\n" +
      Wrapped(
          "Composes, sends and inspects the pictures of the memory LCDs of drive trays and "
          "USB drive enclosures, through the panel service (panelsvc) or on a simulated "
          "world.") +
      "\nCommands:\n";
  std::size_t width = 0;
  for (const Verb& verb : Verbs()) width = std::max(width, verb.name.size());
  for (const Verb& verb : Verbs()) AppendPadded(out, verb.name, width, verb.brief);
  out +=
      "\nRun 'kuvlcd COMMAND --help' for what a command does and every option it takes.\n\n"
      "Environment:\n";
  AppendPadded(out, "KUVLCD_SOCKET", 16,
               "the panel service's socket (default " + std::string(kDefaultServiceSocket) + ")");
  AppendPadded(out, "KUVLCD_SIM_WORLD", 16,
               "a simulated world's folder, used instead of the devices");
  AppendPadded(out, "LANG, LC_ALL", 16,
               "ja_* for Japanese texts and the Japanese code page's line lengths");
  out += "\n";
  std::vector<const Verb*> all;
  for (const Verb& verb : Verbs()) all.push_back(&verb);
  return out + ExitStatuses(all);
}

std::string VersionText() {
  return std::string("kuvlcd ") + KUVLCD_VERSION + "\n";
}

int RunCommandLine(const std::vector<std::string>& words) {
  ProgramName() = "kuvlcd";
  if (words.empty()) {
    return Usage("a command is needed",
                 "usage: kuvlcd COMMAND [options]\nRun 'kuvlcd --help' for the commands.\n");
  }
  const std::string& first = words[0];
  if (IsHelpWord(first)) return PrintHelp(ToolHelp());
  if (first == "--version") return PrintHelp(VersionText());
  if (first == "help") return RunHelp(std::vector<std::string>(words.begin() + 1, words.end()));
  if (first.rfind("-", 0) == 0) {
    return Usage("unknown option " + first, "Run 'kuvlcd --help' for the commands.\n");
  }

  std::size_t used = 0;
  const Verb* verb = FindVerb(words, used);
  if (!verb) {
    if (!IsGroup(first)) {
      return Usage("unknown command '" + first + "'", "Run 'kuvlcd --help' for the commands.\n");
    }
    ProgramName() = "kuvlcd " + first;
    if (words.size() > 1 && IsHelpWord(words[1])) return PrintHelp(GroupHelp(first));
    return Usage(words.size() > 1 ? "unknown command '" + words[1] + "'" : "a command is needed",
                 GroupHelp(first));
  }
  ProgramName() = "kuvlcd " + verb->name;
  const std::string more = "Run 'kuvlcd " + verb->name + " --help' for every option.\n";
  try {
    Args args(std::vector<std::string>(words.begin() + static_cast<long>(used), words.end()),
              *verb);
    if (args.helpRequested()) return PrintHelp(VerbHelp(*verb));
    CheckWords(args, *verb);
    return verb->run(args);
  } catch (const UsageError& e) {
    return Usage(e.what(), UsageLines(*verb) + more);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", Program().c_str(), e.what());
    return kExitFailed;
  }
}

const std::string& Program() {
  return ProgramName();
}

bool StdoutIsTerminal() {
  return ::isatty(STDOUT_FILENO) == 1;
}

void Warn(const std::string& text) {
  std::fprintf(stderr, "%s: warning: %s\n", Program().c_str(), text.c_str());
}

void ReportServiceUnreachable() {
  const ServiceUnreachableText text = UnreachableServiceText(SystemLanguage());
  std::fprintf(stderr, "%s: %s\n%s\n", Program().c_str(), Utf16ToUtf8(text.message).c_str(),
               Utf16ToUtf8(text.detail).c_str());
}

std::int64_t IntInRange(const Args& args, const std::string& name, std::int64_t fallback,
                        std::int64_t low, std::int64_t high) {
  const std::int64_t value = args.GetIntOr(name, fallback);
  if (value < low || value > high) {
    throw UsageError("--" + name + " must be " + std::to_string(low) + " to " +
                     std::to_string(high));
  }
  return value;
}

std::int32_t RequiredDrive(const Args& args) {
  if (!args.Has("drive")) throw UsageError("--drive N is required");
  return static_cast<std::int32_t>(IntInRange(args, "drive", 0, 0, 31));
}

std::string FormatOption(const Args& args, const std::vector<std::string>& choices,
                         const std::string& fallback) {
  const std::string format = args.GetOr("format", fallback);
  if (std::find(choices.begin(), choices.end(), format) != choices.end()) return format;
  std::string list;
  for (const std::string& choice : choices) list += (list.empty() ? "" : ", ") + choice;
  throw UsageError("--format is " + list + ", not '" + format + "'");
}

}  // namespace kuv::cli
