#pragma once
// The window's model wired to the real service, profile, files and panels.

#include "app/model/bitmap_page.h"
#include "app/model/compose_renderer.h"
#include "app/model/lcd_model.h"
#include "app/model/main_window_model.h"
#include "app/model/qsettings_profile_store.h"
#include "app/model/text_page_model.h"
#include "app/pages/bitmap_page_widget.h"

namespace kuv {

struct WindowSession {
  explicit WindowSession(Language language = SystemLanguage())
      : renderer(Fonts::Load(language)),
        window(language),
        model(ModelPorts{service, profile, files, system, renderer, window, &bitmapPage}),
        textPage(model.table, language),
        bitmapPage(model.table, service, files, renderer, bitmapHooks,
                   BitmapPaths::FromEnvironment()),
        qrPage(model.table, files, language, TemporaryFolder()),
        smartPage(model, profile, window, language) {
    textPage.UseFonts(renderer.fonts());
    window.Attach(model, textPage);
    window.AttachBitmapPage(&bitmapPage);
    model.AttachQrPage(&qrPage);
    window.AttachQrPage(&qrPage);
    window.AttachSmartPage(&smartPage);
  }

  SocketDeviceService service;
  QSettingsProfileStore profile;
  SystemVolumeFiles files;
  EnvPanelSystem system;
  ComposeTextRenderer renderer;
  MainWindowModel window;
  LcdModel model;
  TextPageModel textPage;
  WidgetBitmapHooks bitmapHooks;
  BitmapPage bitmapPage;
  QrPage qrPage;
  SmartPage smartPage;
};

}  // namespace kuv
