#include "panelio/sim/world_plug.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace kuv::sim {
namespace {

constexpr std::string_view kWorld = R"({
  "sleepScale": 0,
  "disks": [
    {"number": 1, "name": "usb-bridge", "bridgePanel": {"name": "bridge1"}},
    {"number": "0x03", "name": "tray-disk"},
    {"number": 5}
  ],
  "hidPanels": [
    {"name": "tray2", "disk": 3},
    {"name": "loose"}
  ]
})";

std::vector<std::string> Names(const nlohmann::json& world, const char* list) {
  std::vector<std::string> out;
  for (const auto& entry : world[list]) {
    out.push_back(entry.contains("name") ? entry["name"].get<std::string>()
                                         : "#" + entry["number"].dump());
  }
  return out;
}

TEST(WorldPlug, UnplugTakesATrayAsAWholeAndPlugBringsItBack) {
  struct Case {
    const char* name;
    std::vector<std::string> disksLeft, hidsLeft;
  };
  const Case cases[] = {
      {"tray2", {"usb-bridge", "#5"}, {"loose"}},
      {"tray-disk", {"usb-bridge", "#5"}, {"loose"}},
      {"bridge1", {"tray-disk", "#5"}, {"tray2", "loose"}},
      {"disk5", {"usb-bridge", "tray-disk"}, {"tray2", "loose"}},
      {"loose", {"usb-bridge", "tray-disk", "#5"}, {"tray2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto out = ChangePlug(kWorld, c.name, false);
    ASSERT_TRUE(out.ok()) << out.status().ToString();
    auto world = nlohmann::json::parse(*out);
    EXPECT_EQ(Names(world, "disks"), c.disksLeft);
    EXPECT_EQ(Names(world, "hidPanels"), c.hidsLeft);
    EXPECT_EQ(world["sleepScale"], 0) << "the rest of the world is kept";

    auto back = ChangePlug(*out, c.name, true);
    ASSERT_TRUE(back.ok()) << back.status().ToString();
    auto again = nlohmann::json::parse(*back);
    EXPECT_FALSE(again.contains("unplugged"));
    EXPECT_EQ(again["disks"].size(), 3u);
    EXPECT_EQ(again["hidPanels"].size(), 2u);
  }
}

TEST(WorldPlug, RefusesWhatCannotBeDone) {
  auto unplugged = ChangePlug(kWorld, "tray2", false);
  ASSERT_TRUE(unplugged.ok());
  // Another disk took drive number 3 while the tray was out.
  auto taken = nlohmann::json::parse(*unplugged);
  taken["disks"].push_back({{"number", 3}, {"name", "intruder"}});
  struct Case {
    std::string world;
    const char* name;
    bool plug;
    int code;
  };
  const Case cases[] = {
      {std::string(kWorld), "nothing", false, ENOENT},
      {std::string(kWorld), "tray2", true, EALREADY},
      {*unplugged, "tray2", false, EALREADY},
      {taken.dump(), "tray2", true, EEXIST},
      {"[1, 2]", "tray2", false, EINVAL},
      {"{\"disks\": 7}", "tray2", false, EINVAL},
      {"{\"unplugged\": []}", "tray2", true, EINVAL},
      {"not json", "tray2", false, EINVAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.world + " " + c.name);
    auto out = ChangePlug(c.world, c.name, c.plug);
    ASSERT_FALSE(out.ok());
    EXPECT_EQ(out.status().code(), c.code);
  }
}

}  // namespace
}  // namespace kuv::sim
