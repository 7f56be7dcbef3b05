// kuvlcd sectors: runs the device library's sector reader on an image file or a block device, to
// check what GetLcdInfo will make of a drive without a panel attached.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "panelio/sector_reader.h"
#include "tools/kuvlcd/cli.h"
#include "tools/kuvlcd/json_out.h"

namespace {

int Run(const kuv::cli::Args& args) {
  const std::string& path = args.positional()[0];
  const std::string format = kuv::cli::FormatOption(args, {"text", "json"}, "text");

  int error = 0;
  auto file = kuv::SectorFile::Open(path, &error);
  if (!file) throw std::runtime_error("cannot open " + path + ": " + std::strerror(error));
  const kuv::SectorSizes sizes = kuv::ReadSectorSizes(file->Reader());

  if (format == "json") {
    nlohmann::ordered_json out;
    out["answer"] = sizes.answer;
    out["fileSystemType"] = sizes.fileSystemType;
    out["fileSystemTypeName"] = kuv::cli::FileSystemTypeName(sizes.fileSystemType);
    out["totalSectors"] = sizes.totalSectors;
    out["freeSectors"] = sizes.freeSectors;
    out["totalBytes"] = sizes.totalBytes;
    out["freeBytes"] = sizes.freeBytes;
    out["totalMB"] = sizes.totalBytes >> 20;
    out["freeMB"] = sizes.freeBytes >> 20;
    std::printf("%s\n", out.dump(2).c_str());
    return 0;
  }
  std::printf("answer          %d (%s)\n", sizes.answer,
              sizes.answer ? "sizes from the sectors" : "sizes from the mounted volume");
  std::printf("fileSystemType  %d (%s)\n", sizes.fileSystemType,
              kuv::cli::FileSystemTypeName(sizes.fileSystemType).c_str());
  std::printf("totalSectors    %llu\n", static_cast<unsigned long long>(sizes.totalSectors));
  std::printf("freeSectors     %llu\n", static_cast<unsigned long long>(sizes.freeSectors));
  std::printf("totalBytes      %llu (%llu MB)\n", static_cast<unsigned long long>(sizes.totalBytes),
              static_cast<unsigned long long>(sizes.totalBytes >> 20));
  std::printf("freeBytes       %llu (%llu MB)\n", static_cast<unsigned long long>(sizes.freeBytes),
              static_cast<unsigned long long>(sizes.freeBytes >> 20));
  return 0;
}

kuv::cli::Registrar reg(
    {"sectors",
     "what the sector reader makes of a disk image or device",
     "Runs the device library's sector reader on a disk image or a block device and shows "
     "what GetLcdInfo would make of it: the file-system type and the sizes from the sectors. "
     "No panel or service is needed.",
     {"PATH [--format text|json]"},
     {{"", {{"format", "text|json", "what to print (text)"}}}},
     "JSON: answer, fileSystemType and its name, the sizes in sectors, bytes and MB.",
     Run,
     {},
     {"PATH"}});

}  // namespace
