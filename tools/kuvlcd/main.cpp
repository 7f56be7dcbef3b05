// kuvlcd: the command-line front end to the composer, the device library and the service.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/kuvlcd/cli.h"

namespace {

void PrintUsage(FILE* out) {
  std::fprintf(out, "usage:\n");
  for (const auto& verb : kuv::cli::Verbs()) std::fprintf(out, "  kuvlcd %s\n", verb.usage.c_str());
}

// Finds the verb whose words open the command line; longest match wins ("sim init" over "sim").
const kuv::cli::Verb* FindVerb(const std::vector<std::string>& words, std::size_t& used) {
  const kuv::cli::Verb* best = nullptr;
  for (const auto& verb : kuv::cli::Verbs()) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos <= verb.name.size()) {
      std::size_t next = verb.name.find(' ', pos);
      if (next == std::string::npos) next = verb.name.size();
      parts.push_back(verb.name.substr(pos, next - pos));
      pos = next + 1;
    }
    if (parts.size() > words.size()) continue;
    bool match = true;
    for (std::size_t i = 0; i < parts.size() && match; ++i) match = parts[i] == words[i];
    if (match && (!best || parts.size() > used)) {
      best = &verb;
      used = parts.size();
    }
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    PrintUsage(words.empty() ? stderr : stdout);
    return words.empty() ? 2 : 0;
  }
  std::size_t used = 0;
  const kuv::cli::Verb* verb = FindVerb(words, used);
  if (!verb) {
    std::fprintf(stderr, "kuvlcd: unknown command '%s'\n", words[0].c_str());
    PrintUsage(stderr);
    return 2;
  }
  try {
    kuv::cli::Args args(std::vector<std::string>(words.begin() + static_cast<long>(used), words.end()),
                        verb->switches);
    return verb->run(args);
  } catch (const kuv::cli::UsageError& e) {
    std::fprintf(stderr, "kuvlcd %s: %s\nusage: kuvlcd %s\n", verb->name.c_str(), e.what(),
                 verb->usage.c_str());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kuvlcd %s: %s\n", verb->name.c_str(), e.what());
    return 1;
  }
}
