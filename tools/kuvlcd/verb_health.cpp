// kuvlcd health: judges a drive from its two S.M.A.R.T. sectors as the library and the
// S.M.A.R.T. page do, for checking dumps taken from a drive.

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "common/drive_record.h"
#include "tools/kuvlcd/cli.h"
#include "tools/kuvlcd/smart_report.h"

namespace {

using Sector = std::array<std::uint8_t, kuv::kSmartSectorSize>;

// Reads a whole sector file; anything but exactly 512 bytes is refused, so a truncated or
// oversized dump is never judged as if it were a sector.
Sector ReadSectorFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  Sector sector{};
  in.read(reinterpret_cast<char*>(sector.data()), static_cast<std::streamsize>(sector.size()));
  const std::streamsize got = in.gcount();
  if (got != static_cast<std::streamsize>(sector.size()) || in.peek() != EOF) {
    throw std::runtime_error(path + " is not a 512-byte S.M.A.R.T. sector");
  }
  return sector;
}

int Run(const kuv::cli::Args& args) {
  const auto dataPath = args.Get("data");
  const auto thresholdsPath = args.Get("thresholds");
  if (!dataPath || !thresholdsPath)
    throw kuv::cli::UsageError("--data and --thresholds are needed");
  const std::string format = kuv::cli::FormatOption(args, {"text", "json"}, "text");

  const Sector data = ReadSectorFile(*dataPath);
  const Sector thresholds = ReadSectorFile(*thresholdsPath);
  const kuv::Language language = kuv::SystemLanguage();
  if (format == "json") {
    std::printf("%s\n", kuv::cli::SmartJson(data, thresholds, true, language).dump(2).c_str());
  } else {
    kuv::cli::PrintSmartText(data, thresholds, true, language);
  }
  return 0;
}

kuv::cli::Registrar reg(
    {"health",
     "judge two S.M.A.R.T. sectors from files",
     "Judges a drive from two S.M.A.R.T. sectors saved in files, as the S.M.A.R.T. page does: "
     "its health, its temperature and the class of every attribute. No service is needed.",
     {"--data FILE --thresholds FILE [--format text|json]"},
     {{"",
       {{"data", "FILE", "the 512-byte S.M.A.R.T. data sector"},
        {"thresholds", "FILE", "the 512-byte S.M.A.R.T. threshold sector"},
        {"format", "text|json", "what to print (text)"}}}},
     "",
     Run});

}  // namespace
