// The command line's parser, its line types and its help, checked against the verbs' own tables.
#include "tools/kuvlcd/cli.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "tools/kuvlcd/screen_options.h"

namespace kuv::cli {
namespace {

const Verb kSample = {"sample", "brief", "summary", {}, {{"", {{"n", "N", ""}, {"s", "", ""}}}},
                      "",       nullptr};

struct ParseCase {
  std::vector<std::string> words;
  std::map<std::string, std::string> options;  // what the parse holds
  std::vector<std::string> positional;
  std::string error;  // a part of the usage error; empty when the words are accepted
  bool help = false;
};

TEST(Args, ParsesAgainstTheVerbsTable) {
  const ParseCase cases[] = {
      {{"--n", "5"}, {{"n", "5"}}, {}, ""},
      {{"--n=5"}, {{"n", "5"}}, {}, ""},
      {{"--n="}, {{"n", ""}}, {}, ""},
      {{"--s", "word"}, {{"s", "1"}}, {"word"}, ""},
      {{"-5", "-"}, {}, {"-5", "-"}, ""},
      {{"--", "--n", "-x"}, {}, {"--n", "-x"}, ""},
      {{"--n", "1", "--n", "2"}, {{"n", "2"}}, {}, ""},
      {{"--s=0"}, {}, {}, "--s takes no value"},
      {{"--n"}, {}, {}, "--n needs a value"},
      {{"--bogus"}, {}, {}, "unknown option --bogus"},
      {{"-x"}, {}, {}, "unknown option -x"},
      {{"--bogus", "--help"}, {}, {}, "", true},
      {{"-h"}, {}, {}, "", true},
  };
  for (const ParseCase& c : cases) {
    const std::string line = ::testing::PrintToString(c.words);
    if (!c.error.empty()) {
      try {
        Args args(c.words, kSample);
        ADD_FAILURE() << line << " was accepted";
      } catch (const UsageError& e) {
        EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos)
            << line << ": " << e.what();
      }
      continue;
    }
    Args args(c.words, kSample);
    EXPECT_EQ(args.helpRequested(), c.help) << line;
    EXPECT_EQ(args.positional(), c.positional) << line;
    EXPECT_EQ(args.Given().size(), c.options.size()) << line;
    for (const auto& [name, value] : c.options) EXPECT_EQ(args.GetOr(name, "?"), value) << line;
  }
}

TEST(LineTypes, ByNameOrNumberOnlyTheListsEntries) {
  const std::pair<const char*, std::optional<std::int32_t>> cases[] = {
      {"text", 0},           {"0", 0},
      {"name", 1},           {"volume", 2},
      {"model", 3},          {"date", 4},
      {"time", 5},           {"5", 5},
      {"user", 6},           {"smart-current", 7},
      {"smart-data", 8},     {"8", 8},
      {"9", std::nullopt},   {"-1", std::nullopt},
      {"15", std::nullopt},  {"Time", std::nullopt},
      {"5x", std::nullopt},  {"", std::nullopt},
      {"0x5", std::nullopt},
  };
  for (const auto& [text, code] : cases) EXPECT_EQ(ParseLineType(text), code) << text;
  for (std::int32_t code = 0; code <= 8; ++code) {
    EXPECT_EQ(ParseLineType(LineTypeName(code)), code) << "names go both ways";
  }
  EXPECT_EQ(LineTypeName(12), "12") << "a stored code past the list shows as its number";
}

// Every "--word" a help text mentions.
std::set<std::string> MentionedOptions(const std::string& text) {
  std::set<std::string> names;
  static const std::regex option("--([a-z][a-z0-9-]*)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
       it != std::sregex_iterator(); ++it) {
    names.insert((*it)[1]);
  }
  names.erase("help");
  return names;
}

bool Accepts(const Verb& verb, const std::string& name) {
  const Option* option = verb.FindOption(name);
  std::vector<std::string> words = {"--" + name};
  if (option && !option->value.empty()) words.push_back("1");
  try {
    Args args(words, verb);
    return args.Has(name);
  } catch (const UsageError&) {
    return false;
  }
}

TEST(Help, EveryVerbListsWhatItAcceptsAndAcceptsWhatItLists) {
  ASSERT_GE(Verbs().size(), 20u);
  for (const Verb& verb : Verbs()) {
    SCOPED_TRACE(verb.name);
    EXPECT_FALSE(verb.brief.empty());
    EXPECT_LE(verb.brief.size(), 60u) << "the command list keeps one line a command";
    EXPECT_FALSE(verb.summary.empty());
    ASSERT_NE(verb.run, nullptr);
    const std::string help = VerbHelp(verb);
    std::set<std::string> names;
    for (const OptionGroup& group : verb.groups) {
      for (const Option& option : group.options) {
        EXPECT_TRUE(names.insert(option.name).second) << "--" << option.name << " twice";
        EXPECT_NE(help.find("  --" + option.name + (option.value.empty() ? "" : " ")),
                  std::string::npos)
            << "--" << option.name << " has no line of its own";
        EXPECT_FALSE(option.help.empty()) << "--" << option.name;
      }
    }
    for (const std::string& name : MentionedOptions(help)) {
      EXPECT_TRUE(Accepts(verb, name)) << "the help mentions --" << name;
    }
    EXPECT_TRUE(Args({"--help"}, verb).helpRequested());
    for (const std::string& word : verb.words) {
      EXPECT_NE(UsageLines(verb).find(" " + word), std::string::npos)
          << word << " is not in the usage";
    }
    for (const ExitStatus& status : verb.exits) {
      EXPECT_NE(help.find("\n  " + std::to_string(status.status) + "  "), std::string::npos)
          << "exit status " << status.status << " is not listed";
    }
  }
}

TEST(Help, EveryLineFitsATerminal) {
  std::vector<std::pair<std::string, std::string>> texts = {{"kuvlcd", ToolHelp()}};
  for (const Verb& verb : Verbs()) texts.emplace_back(verb.name, VerbHelp(verb));
  for (const char* group : {"sim", "direct"}) texts.emplace_back(group, GroupHelp(group));
  for (const auto& [name, text] : texts) {
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      EXPECT_LE(end - start, 79u) << name << ": " << text.substr(start, end - start);
    }
    EXPECT_EQ(start, text.size()) << name << " ends its last line";
  }
}

TEST(Help, TheToolAndEachGroupListEveryCommand) {
  const std::string tool = ToolHelp();
  for (const Verb& verb : Verbs()) {
    EXPECT_NE(tool.find("\n  " + verb.name + " "), std::string::npos) << verb.name;
    const auto blank = verb.name.find(' ');
    if (blank == std::string::npos) continue;
    EXPECT_NE(GroupHelp(verb.name.substr(0, blank)).find("  " + verb.name + " "), std::string::npos)
        << verb.name;
  }
  const std::string statuses = tool.substr(tool.find("Exit status:"));
  for (const Verb& verb : Verbs()) {
    if (verb.exits.empty()) continue;
    EXPECT_NE(statuses.find(" " + verb.name + ":"), std::string::npos)
        << "the tool's help names " << verb.name << "'s own exit status";
  }
}

TEST(Help, TheComposingVerbsNameEveryLineType) {
  for (const char* name : {"render", "update"}) {
    const auto verb =
        std::find_if(Verbs().begin(), Verbs().end(), [&](const Verb& v) { return v.name == name; });
    ASSERT_NE(verb, Verbs().end());
    const std::string help = VerbHelp(*verb);
    for (std::int32_t code = 0; code <= 8; ++code) {
      EXPECT_NE(help.find(LineTypeName(code) + " (" + std::to_string(code) + ")"),
                std::string::npos)
          << name << " " << code;
    }
  }
}

}  // namespace
}  // namespace kuv::cli
