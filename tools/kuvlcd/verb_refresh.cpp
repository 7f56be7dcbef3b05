// kuvlcd refresh: one pass of the program's minute refresh over every drive.

#include <cstdio>

#include "app/model/headless_session.h"
#include "tools/kuvlcd/cli.h"

namespace {

int Run(const kuv::cli::Args& args) {
  kuv::HeadlessSession session(args.Has("verbose"));
  if (session.Start() < 0) {
    kuv::cli::ReportServiceUnreachable();
    return 1;
  }
  session.model.MinuteRefresh();
  std::printf("refreshed %d drive%s\n", session.model.table.driveCount,
              session.model.table.driveCount == 1 ? "" : "s");
  return 0;
}

kuv::cli::Registrar reg(
    {"refresh",
     "one pass of the minute refresh over every drive",
     "Runs one pass of the program's minute refresh: scans the drives through the panel "
     "service and sends every text screen again with the time, free space and S.M.A.R.T. "
     "values of now.",
     {"[--verbose]"},
     {{"", {{"verbose", "", "the device exchanges' diagnostics on stderr"}}}},
     "",
     Run});

}  // namespace
