#pragma once
// The window's model wired to the real service, profile, files and panels.

#include "app/model/compose_renderer.h"
#include "app/model/lcd_model.h"
#include "app/model/main_window_model.h"
#include "app/model/qsettings_profile_store.h"
#include "app/model/text_page_model.h"

namespace kuv {

struct WindowSession {
  explicit WindowSession(Language language = SystemLanguage())
      : window(language),
        model(ModelPorts{service, profile, files, system, renderer, window}),
        textPage(model.table, language) {
    window.Attach(model, textPage);
  }

  SocketDeviceService service;
  QSettingsProfileStore profile;
  PosixVolumeFiles files;
  EnvPanelSystem system;
  ComposeTextRenderer renderer;
  MainWindowModel window;
  LcdModel model;
  TextPageModel textPage;
};

}  // namespace kuv
