#include "panelsvc/volume_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kuv::svc {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<std::string> hiddenPaths;

DeviceOps FakeOps() {
  DeviceOps ops{};
  ops.setHidden = [](int fd, const std::string& path) -> std::int32_t {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
    hiddenPaths.push_back(path);
    return 1;
  };
  return ops;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class VolumeFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kuvfilesXXXXXX";
    root_ = ::mkdtemp(tmpl);
    ::chmod(root_.c_str(), 0755);
    volume_ = root_ + "/vol";
    folder_ = volume_ + "/TAVIO_LCDMANAGER";
    outside_ = root_ + "/outside";
    fs::create_directories(folder_);
    fs::create_directories(outside_ + "/TAVIO_LCDMANAGER");
    std::ofstream(outside_ + "/keep.txt") << "not the service's";
    std::ofstream(outside_ + "/TAVIO_LCDMANAGER/LCD_DATA.TXT") << "someone else's";
    hiddenPaths.clear();
  }
  void TearDown() override { fs::remove_all(root_); }

  std::map<std::string, std::string> Outside() {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(outside_)) {
      files[entry.path().string()] = entry.is_regular_file() ? Slurp(entry.path().string()) : "";
    }
    return files;
  }
  std::optional<OpenedTarget> Open(std::int32_t command, const std::string& name) {
    const std::string path = command == kCmdCreateDirectory ? folder_ : folder_ + "/" + name;
    TargetOpen open = OpenTarget(command, TargetPath{path, volume_});
    if (!open.target) return std::nullopt;
    return std::move(open.target);
  }

  std::string root_, volume_, folder_, outside_;
  const DeviceOps ops_ = FakeOps();
  const Peer self_{::getpid(), ::getuid(), ::getgid(), {}};
};

TEST_F(VolumeFilesTest, RegularFilesAreAppendedAndDeleted) {
  const std::vector<std::uint8_t> data = {'a', 'b', 'c'};
  for (int i = 0; i < 2; ++i) {
    auto target = Open(kCmdWriteFile, "LCD_DATA.TXT");
    ASSERT_TRUE(target);
    EXPECT_EQ(AppendLcdFile(*target, self_, data).result, 1);
  }
  EXPECT_EQ(Slurp(folder_ + "/LCD_DATA.TXT"), "abcabc");
  auto target = Open(kCmdDeleteFile, "LCD_DATA.TXT");
  ASSERT_TRUE(target);
  EXPECT_EQ(DeleteLcdFile(*target, self_).result, 1);
  EXPECT_FALSE(fs::exists(folder_ + "/LCD_DATA.TXT"));
  FileAnswer again = DeleteLcdFile(*target, self_);
  EXPECT_EQ(again.result, -1);
  EXPECT_EQ(again.error, ENOENT);
  EXPECT_TRUE(again.refusal.empty());
}

TEST_F(VolumeFilesTest, EntriesThatAreNotRegularFilesAreLeftAloneAtOnce) {
  const std::string entry = folder_ + "/LCD_DATA.TXT";
  struct Kind {
    const char* name;
    void (*make)(const std::string& entry, const std::string& outside);
  };
  const std::vector<Kind> kinds = {
      {"link to a file outside",
       [](const std::string& e, const std::string& o) { fs::create_symlink(o + "/keep.txt", e); }},
      {"FIFO", [](const std::string& e, const std::string&) { ::mkfifo(e.c_str(), 0666); }},
      {"folder", [](const std::string& e, const std::string&) { fs::create_directory(e); }},
  };
  const auto before = Outside();
  for (const auto& kind : kinds) {
    for (bool reader : {false, true}) {
      fs::remove_all(entry);
      kind.make(entry, outside_);
      // A FIFO with a reader would open for writing even without blocking.
      const bool fifo = fs::is_fifo(fs::symlink_status(entry));
      if (reader && !fifo) continue;
      int readerFd = reader ? ::open(entry.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
      const auto start = Clock::now();
      auto write = Open(kCmdWriteFile, "LCD_DATA.TXT");
      ASSERT_TRUE(write) << kind.name;
      FileAnswer appended = AppendLcdFile(*write, self_, std::vector<std::uint8_t>{'x'});
      auto del = Open(kCmdDeleteFile, "LCD_DATA.TXT");
      ASSERT_TRUE(del) << kind.name;
      FileAnswer deleted = DeleteLcdFile(*del, self_);
      EXPECT_LT(Clock::now() - start, std::chrono::seconds(1)) << kind.name;
      EXPECT_EQ(appended.result, 0) << kind.name;
      EXPECT_FALSE(appended.refusal.empty()) << kind.name;
      EXPECT_EQ(deleted.result, -1) << kind.name;
      EXPECT_FALSE(deleted.refusal.empty()) << kind.name;
      EXPECT_TRUE(fs::exists(fs::symlink_status(entry))) << kind.name;
      if (readerFd >= 0) {
        char byte;
        EXPECT_LE(::read(readerFd, &byte, 1), 0) << kind.name << ": nothing reaches the reader";
        ::close(readerFd);
      }
    }
  }
  EXPECT_EQ(Outside(), before);
}

TEST_F(VolumeFilesTest, NamesSwappedDuringRequestsNeverReachOutside) {
  // Another process keeps exchanging the folder with a link to a folder outside, and the file
  // with a FIFO and a link outside, while requests run.
  fs::create_directory_symlink(outside_ + "/TAVIO_LCDMANAGER", volume_ + "/folder.swap");
  ASSERT_EQ(::mkfifo((folder_ + "/fifo.swap").c_str(), 0666), 0);
  fs::create_symlink(outside_ + "/keep.txt", folder_ + "/link.swap");
  const auto before = Outside();
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    for (unsigned i = 0; !done; ++i) {
      if (i % 3 == 0) {
        ::renameat2(AT_FDCWD, folder_.c_str(), AT_FDCWD, (volume_ + "/folder.swap").c_str(),
                    RENAME_EXCHANGE);
      } else {
        // Whichever folder holds the real files now.
        const std::string real = fs::is_symlink(folder_) ? volume_ + "/folder.swap" : folder_;
        const char* other = i % 3 == 1 ? "/fifo.swap" : "/link.swap";
        ::renameat2(AT_FDCWD, (real + "/LCD_DATA.TXT").c_str(), AT_FDCWD, (real + other).c_str(),
                    RENAME_EXCHANGE);
      }
    }
  });
  const std::vector<std::uint8_t> data = {'z'};
  int served = 0;
  for (int i = 0; i < 400; ++i) {
    const auto start = Clock::now();
    if (auto target = Open(kCmdWriteFile, "LCD_DATA.TXT")) {
      served += AppendLcdFile(*target, self_, data).result;
    }
    if (auto target = Open(kCmdDeleteFile, "LCD_DATA.TXT")) (void)DeleteLcdFile(*target, self_);
    if (auto target = Open(kCmdCreateDirectory, "")) (void)CreateLcdFolder(*target, self_, ops_);
    ASSERT_LT(Clock::now() - start, std::chrono::seconds(1)) << "request " << i;
  }
  done = true;
  swapper.join();
  EXPECT_EQ(Outside(), before);
  EXPECT_GT(served, 0);
}

class PeerFilesTest : public VolumeFilesTest {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    VolumeFilesTest::SetUp();
    fs::remove_all(folder_);
  }
  const Peer nobody_{1, 65534, 65534, {}};
};

TEST_F(PeerFilesTest, TheFolderIsCreatedOnlyWhereTheClientCouldCreateIt) {
  ::chmod(volume_.c_str(), 0755);  // root's volume
  auto target = Open(kCmdCreateDirectory, "");
  ASSERT_TRUE(target);
  FileAnswer refused = CreateLcdFolder(*target, nobody_, ops_);
  EXPECT_EQ(refused.result, 0);
  EXPECT_EQ(refused.error, EACCES);
  EXPECT_FALSE(fs::exists(folder_));
  EXPECT_TRUE(hiddenPaths.empty());

  ASSERT_EQ(::chown(volume_.c_str(), 65534, 65534), 0);  // the client's volume
  EXPECT_EQ(CreateLcdFolder(*target, nobody_, ops_).result, 1);
  struct stat st;
  ASSERT_EQ(::stat(folder_.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(hiddenPaths, std::vector<std::string>{folder_});

  FileAnswer existing = CreateLcdFolder(*target, nobody_, ops_);
  EXPECT_EQ(existing.result, 0);
  EXPECT_EQ(existing.error, EEXIST);
  EXPECT_EQ(hiddenPaths.size(), 1u);
}

TEST_F(PeerFilesTest, TheClientsOwnGroupsDecide) {
  fs::create_directories(folder_);
  ASSERT_EQ(::chown(folder_.c_str(), 0, 4242), 0);
  ::chmod(folder_.c_str(), 0770);
  std::ofstream(folder_ + "/LCD_DATA.TXT") << "group's";
  auto target = Open(kCmdDeleteFile, "LCD_DATA.TXT");
  ASSERT_TRUE(target);
  FileAnswer refused = DeleteLcdFile(*target, nobody_);
  EXPECT_EQ(refused.result, -1);
  EXPECT_EQ(refused.error, EACCES);
  Peer member = nobody_;
  member.groups = {4242};
  EXPECT_EQ(DeleteLcdFile(*target, member).result, 1);
}

}  // namespace
}  // namespace kuv::svc
