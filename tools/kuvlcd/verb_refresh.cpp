// kuvlcd refresh: one pass of the program's minute refresh over every drive.

#include <cstdio>

#include "app/model/headless_session.h"
#include "common/service_client.h"
#include "tools/kuvlcd/cli.h"

namespace {

int Run(const kuv::cli::Args& args) {
  args.RejectUnknown({"verbose"});
  kuv::HeadlessSession session(args.Has("verbose"));
  if (session.Start() < 0) {
    std::fprintf(stderr, "kuvlcd refresh: the panel service cannot be reached at %s\n",
                 kuv::ServiceSocketPath().c_str());
    return 1;
  }
  session.model.MinuteRefresh();
  std::printf("refreshed %d drive%s\n", session.model.table.driveCount,
              session.model.table.driveCount == 1 ? "" : "s");
  return 0;
}

kuv::cli::Registrar reg({"refresh", "refresh [--verbose]", {"verbose"}, Run});

}  // namespace
