// What libpanelio.so shows to the programs that load it: exactly the exports, nothing of the C++
// code behind them.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

// The defined dynamic symbols of the library, as nm lists them; nullopt-like empty set plus a
// skip when nm is not there.
bool DefinedDynamicSymbols(const std::string& library, std::set<std::string>& names) {
  std::string command = "nm -D --defined-only --format=posix '" + library + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return false;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe)) {
    std::string text(line);
    std::size_t space = text.find(' ');
    if (space == std::string::npos) continue;
    char type = space + 1 < text.size() ? text[space + 1] : '?';
    // Text and data the library defines; absolute version nodes are not symbols of ours.
    if (type == 'A') continue;
    names.insert(text.substr(0, space));
  }
  return ::pclose(pipe) == 0;
}

TEST(SharedLibrary, ExportsOnlyTheFourteenEntryPoints) {
  std::set<std::string> names;
  if (!DefinedDynamicSymbols(KUVLCD_PANELIO_LIBRARY, names) || names.empty())
    GTEST_SKIP() << "nm could not list " << KUVLCD_PANELIO_LIBRARY;
  const std::set<std::string> exports = {
      "GetHidLcdCount", "GetLcdInfo",        "LcdSendLineData",     "StopLcdTimer",
      "GetSmartInfo",   "AddFilterSilHost",  "ModifyFilterSilHost", "DoesExistSATAFilter",
      "ReadSector0",    "GetSizeFromSector", "LcdCreateDirectory",  "LcdWriteFile",
      "LcdDeleteFile",  "SetAutorun"};
  std::set<std::string> unexpected;
  for (const std::string& n : names) {
    // The toolchain's own entries: the sanitizer runtime hooks and the init/fini markers.
    if (n.rfind("__", 0) == 0 || n == "_init" || n == "_fini" || n == "_end" || n == "_edata")
      continue;
    if (!exports.count(n)) unexpected.insert(n);
  }
  std::string list;
  for (const std::string& n : unexpected) list += n + "\n";
  EXPECT_TRUE(unexpected.empty()) << "symbols beyond the exports:\n" << list;
  for (const std::string& e : exports) EXPECT_TRUE(names.count(e)) << e << " is not exported";
}

}  // namespace
