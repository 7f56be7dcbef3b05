// kuvlcd direct send: cuts a 96x96 picture into line records and sends them with LcdSendLineData
// in this process, without the service. The bring-up tool for bridge panels (run as root on real
// devices) and the quickest way to put a picture on a simulated one.

#include <cstdio>
#include <stdexcept>
#include <string>

#include "app/compose/renderer.h"
#include "common/picture_io.h"
#include "panelio/panelio.h"
#include "tools/kuvlcd/cli.h"

namespace {

int Run(const kuv::cli::Args& args) {
  auto drive = args.GetInt("drive");
  if (!drive || *drive < 0 || *drive > 255)
    throw kuv::cli::UsageError("--drive 0 to 255 is needed");
  kuv::PictureResult picture = kuv::ReadPictureFile(args.positional()[0]);
  if (!picture) throw std::runtime_error(picture.error);
  // The file holds the picture as it should appear on the panel, like the snapshots.
  auto raster = kuv::PanelRasterOfPicture(*picture.picture);
  if (!raster) {
    throw std::runtime_error("the picture is " + std::to_string(picture.picture->width) + "x" +
                             std::to_string(picture.picture->height) + ", not 96x96");
  }
  std::array<std::uint8_t, kuv::kLineRecordCount * kuv::kLineSlotSize> slots{};
  kuv::BuildLineRecordSlots(*raster, slots);
  std::uint32_t status = LcdSendLineData(static_cast<std::int32_t>(*drive), slots.data());
  std::printf("0x%08X\n", status);
  return status == kPanelOk ? 0 : 1;
}

kuv::cli::Registrar reg(
    {"direct send",
     "send a 96x96 picture to a bridge panel, without the service",
     "Sends a 96x96 picture (PBM or PNG, as the panel should show it) to a bridge panel with "
     "the device library in this process, without the service: the bring-up tool for real "
     "panels (run as root) and the quickest way onto a simulated one.",
     {"--drive N FILE"},
     {{"", {{"drive", "N", "the drive number; only its low byte reaches the library"}}}},
     "Prints the library's status; exit status 1 when it is not 0x00000000.",
     Run,
     {},
     {"FILE"}});

}  // namespace
