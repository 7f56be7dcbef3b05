#include "app/model/panel_paths_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/model/test_fakes.h"

namespace kuv {
namespace {

PanelPaths Paths(std::initializer_list<std::pair<int, const char16_t*>> entries) {
  PanelPaths paths;
  for (const auto& [n, path] : entries) paths[static_cast<std::size_t>(n)] = path;
  return paths;
}

TEST(PanelPathsFile, RoundTripsOnlyWithinItsScope) {
  const PanelPaths paths = Paths({{2, u"/dev/hidraw1"}, {31, u"/dev/hidraw12"}});
  const std::string bytes = EncodePanelPaths(paths, "boot-1 /run/svc.sock");
  EXPECT_EQ(bytes,
            "kuvlcd panel paths 1\nscope boot-1 /run/svc.sock\n2 /dev/hidraw1\n"
            "31 /dev/hidraw12\n");
  EXPECT_EQ(DecodePanelPaths(bytes, "boot-1 /run/svc.sock"), paths);
  EXPECT_EQ(DecodePanelPaths(bytes, "boot-2 /run/svc.sock"), std::nullopt) << "after a reboot";
  EXPECT_EQ(DecodePanelPaths(bytes, "boot-1 /tmp/other.sock"), std::nullopt) << "another service";
}

TEST(PanelPathsFile, LinesThatMakeNoSenseAreSkipped) {
  struct Case {
    std::string body;
    PanelPaths expected;
  };
  PanelPaths longest;
  longest[5] = std::u16string(259, u'p');  // the longest path the record's field holds
  for (const auto& c :
       {Case{"1 /dev/hidraw1\n", Paths({{1, u"/dev/hidraw1"}})},
        Case{"32 /dev/hidraw1\n-1 /dev/hidraw1\nx /dev/hidraw1\n", {}},
        Case{"3\n3 \n3/dev/hidraw1\n", {}}, Case{"4 /dev/hidraw1", {}},  // no line end: cut off
        Case{"5 " + std::string(260, 'p') + "\n", {}},
        Case{"5 " + std::string(259, 'p') + "\n", longest}}) {
    const std::string bytes = std::string("kuvlcd panel paths 1\nscope s\n") + c.body;
    EXPECT_EQ(DecodePanelPaths(bytes, "s"), c.expected) << c.body;
  }
  EXPECT_EQ(DecodePanelPaths("kuvlcd panel paths 2\nscope s\n1 /dev/x\n", "s"), std::nullopt);
  EXPECT_EQ(DecodePanelPaths("", "s"), std::nullopt);
}

TEST(PanelPathsFile, KeptInTheRuntimeFolderAndNeverTakenFromALinkOrAnotherUser) {
  testing::TempDir runtime, elsewhere;
  SystemVolumeFiles files;
  const PanelPaths paths = Paths({{2, u"/dev/hidraw1"}});
  ASSERT_EQ(SavePanelPaths(files, runtime.path(), "s", paths), 0);
  EXPECT_EQ(LoadPanelPaths(files, runtime.path(), "s"), paths);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(runtime.path()), {}), 1);

  const std::string file = runtime.path() + "/" + kPanelPathsFileName;
  const std::string planted = elsewhere.path() + "/paths";
  std::filesystem::rename(file, planted);
  std::filesystem::create_symlink(planted, file);
  EXPECT_EQ(LoadPanelPaths(files, runtime.path(), "s"), std::nullopt);
  if (::geteuid() != 0) return;
  std::filesystem::remove(file);
  std::filesystem::rename(planted, file);
  ASSERT_EQ(::chown(file.c_str(), ::geteuid() + 4242, 0), 0);
  EXPECT_EQ(LoadPanelPaths(files, runtime.path(), "s"), std::nullopt);
}

}  // namespace
}  // namespace kuv
