#include "app/model/compose_renderer.h"

#include "app/compose/renderer.h"
#include "common/strings.h"

namespace kuv {

void ComposeTextRenderer::RenderTextScreen(DriveTable& table, int slot) {
  if (slot < 0 || slot >= kSlotCount) return;
  page_ = TextPageFromConfig(table.screenConfigs[static_cast<std::size_t>(slot)]);
  ComposePanelRaster(table, slot, page_, fonts());
}

const Fonts& ComposeTextRenderer::fonts() {
  if (!fonts_) fonts_ = Fonts::Load(SystemLanguage());
  return *fonts_;
}

}  // namespace kuv
