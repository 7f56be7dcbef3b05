#pragma once
// The text screen renderer of app/compose behind the model's TextRenderer port.

#include <memory>

#include "app/compose/fonts.h"
#include "app/compose/text_page.h"
#include "app/model/ports.h"

namespace kuv {

class ComposeTextRenderer : public TextRenderer {
 public:
  // Fonts of the system language, loaded at the first composition and kept.
  ComposeTextRenderer() = default;
  explicit ComposeTextRenderer(std::unique_ptr<Fonts> fonts) : fonts_(std::move(fonts)) {}

  void RenderTextScreen(DriveTable& table, int slot) override;

  // The fonts it composes with, loaded on first use; the window's preview draws with them too.
  const Fonts& fonts();

  // The text page the renderer reads and updates; the program's page shows it.
  TextPage& page() { return page_; }

 private:
  std::unique_ptr<Fonts> fonts_;
  TextPage page_;
};

}  // namespace kuv
