// What the window says about the panel service, after what happened to it.
#include "app/model/service_status.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/utf16.h"

namespace kuv {
namespace {

enum Event { kLost, kBack, kNotSent, kNotSaved, kSent, kMinute };

TEST(ServiceStatus, NoticeFollowsTheService) {
  using N = ServiceNotice;
  struct Case {
    std::vector<Event> events;
    N notice;
  };
  const Case cases[] = {
      {{}, N::kNone},
      {{kLost}, N::kUnreachable},
      {{kLost, kMinute}, N::kUnreachable},
      {{kLost, kBack}, N::kBack},
      {{kLost, kBack, kMinute}, N::kNone},
      {{kBack}, N::kNone},
      {{kNotSent, kLost}, N::kUpdateNotSent},
      {{kLost, kNotSent, kMinute}, N::kUpdateNotSent},
      {{kNotSent, kLost, kBack}, N::kBack},
      {{kNotSent, kBack}, N::kBack},
      {{kLost, kNotSaved}, N::kSettingsNotSaved},
      {{kNotSent, kSent}, N::kUnreachable},
      {{kLost, kBack, kNotSent, kSent}, N::kUnreachable},
      {{kNotSent, kLost, kBack, kSent}, N::kBack},
      {{kSent}, N::kNone},
  };
  const SaveOutcome notSent{.serviceUnreachable = true, .panelNotUpdated = true};
  const SaveOutcome notSaved{.serviceUnreachable = true};
  const SaveOutcome sent{.saved = true};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    ServiceStatus status;
    for (Event event : cases[i].events) {
      switch (event) {
        case kLost:
          status.Follow(false);
          break;
        case kBack:
          status.Follow(true);
          break;
        case kNotSent:
          status.UpdateFinished(notSent);
          break;
        case kNotSaved:
          status.UpdateFinished(notSaved);
          break;
        case kSent:
          status.UpdateFinished(sent);
          break;
        case kMinute:
          status.MinutePassed();
          break;
      }
    }
    EXPECT_EQ(status.notice(), cases[i].notice) << "case " << i;
  }
}

TEST(ServiceStatus, EveryNoticeHasItsLineAndTipInBothLanguages) {
  using N = ServiceNotice;
  const std::string socket = "/run/QmLcdDeviceService.sock";
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    const std::u16string name(String(100, language));
    EXPECT_TRUE(ServiceStatusLine(N::kNone, language, socket).empty());
    for (N notice : {N::kUnreachable, N::kUpdateNotSent, N::kSettingsNotSaved, N::kBack}) {
      const std::string line = Utf16ToUtf8(ServiceStatusLine(notice, language, socket));
      EXPECT_FALSE(line.empty());
      EXPECT_EQ(line.find("%s"), std::string::npos) << line;
      const std::u16string tip = ServiceTrayTip(notice, language);
      // The tray says the service does not answer for as long as that is so.
      EXPECT_EQ(tip == name, notice == N::kBack) << line;
      EXPECT_EQ(tip.substr(0, name.size()), name);
    }
    EXPECT_EQ(ServiceTrayTip(N::kNone, language), name);
    EXPECT_NE(Utf16ToUtf8(ServiceStatusLine(N::kUnreachable, language, socket)).find(socket),
              std::string::npos);
  }
}

}  // namespace
}  // namespace kuv
