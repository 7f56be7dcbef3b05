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
#include <span>
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
  FileAnswer Serve(std::int32_t command, const std::string& name, const Peer& peer,
                   std::span<const std::uint8_t> data = {}) {
    const std::string path = command == kCmdCreateDirectory ? folder_ : folder_ + "/" + name;
    return ServeFileCommand(command, TargetPath{path, volume_}, peer, data, ops_);
  }

  std::string root_, volume_, folder_, outside_;
  const DeviceOps ops_ = FakeOps();
  const Peer self_{::getpid(), ::getuid(), ::getgid(), {}};
};

TEST_F(VolumeFilesTest, RegularFilesAreAppendedAndDeleted) {
  const std::vector<std::uint8_t> data = {'a', 'b', 'c'};
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(Serve(kCmdWriteFile, "LCD_DATA.TXT", self_, data).result, 1);
  EXPECT_EQ(Slurp(folder_ + "/LCD_DATA.TXT"), "abcabc");
  EXPECT_EQ(Serve(kCmdDeleteFile, "LCD_DATA.TXT", self_).result, 1);
  EXPECT_FALSE(fs::exists(folder_ + "/LCD_DATA.TXT"));
  FileAnswer again = Serve(kCmdDeleteFile, "LCD_DATA.TXT", self_);
  EXPECT_EQ(again.result, -1);
  EXPECT_EQ(again.error, ENOENT);
  EXPECT_TRUE(again.refusal.empty());
}

TEST_F(VolumeFilesTest, WhatAClientHasMadeIsReadableByAllWhateverTheServicesUmask) {
  fs::remove_all(folder_);
  const std::vector<std::uint8_t> data = {'q'};
  const mode_t umask = ::umask(077);
  const FileAnswer made = Serve(kCmdCreateDirectory, "", self_);
  const FileAnswer created = Serve(kCmdWriteFile, "QR_DATA.TXT", self_, data);
  std::ofstream(folder_ + "/LCD_DATA.TXT") << "private";
  ::chmod((folder_ + "/LCD_DATA.TXT").c_str(), 0600);
  const FileAnswer appended = Serve(kCmdWriteFile, "LCD_DATA.TXT", self_, data);
  ::umask(umask);
  EXPECT_EQ(made.result, 1);
  EXPECT_EQ(created.result, 1);
  EXPECT_EQ(appended.result, 1);
  const auto mode = [](const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
  };
  EXPECT_EQ(mode(folder_), 0755u);
  EXPECT_EQ(mode(folder_ + "/QR_DATA.TXT"), 0644u);
  EXPECT_EQ(mode(folder_ + "/LCD_DATA.TXT"), 0600u) << "an existing file keeps its mode";
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
      FileAnswer appended =
          Serve(kCmdWriteFile, "LCD_DATA.TXT", self_, std::vector<std::uint8_t>{'x'});
      FileAnswer deleted = Serve(kCmdDeleteFile, "LCD_DATA.TXT", self_);
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
    served += Serve(kCmdWriteFile, "LCD_DATA.TXT", self_, data).result;
    (void)Serve(kCmdDeleteFile, "LCD_DATA.TXT", self_);
    (void)Serve(kCmdCreateDirectory, "", self_);
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
  FileAnswer refused = Serve(kCmdCreateDirectory, "", nobody_);
  EXPECT_EQ(refused.result, 0);
  EXPECT_EQ(refused.error, EACCES);
  EXPECT_FALSE(fs::exists(folder_));
  EXPECT_TRUE(hiddenPaths.empty());

  ASSERT_EQ(::chown(volume_.c_str(), 65534, 65534), 0);  // the client's volume
  EXPECT_EQ(Serve(kCmdCreateDirectory, "", nobody_).result, 1);
  struct stat st;
  ASSERT_EQ(::stat(folder_.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(hiddenPaths, std::vector<std::string>{folder_});

  FileAnswer existing = Serve(kCmdCreateDirectory, "", nobody_);
  EXPECT_EQ(existing.result, 0);
  EXPECT_EQ(existing.error, EEXIST);
  EXPECT_EQ(hiddenPaths.size(), 1u);
}

TEST_F(PeerFilesTest, TheClientsOwnGroupsDecide) {
  fs::create_directories(folder_);
  ASSERT_EQ(::chown(folder_.c_str(), 0, 4242), 0);
  ::chmod(folder_.c_str(), 0770);
  std::ofstream(folder_ + "/LCD_DATA.TXT") << "group's";
  FileAnswer refused = Serve(kCmdDeleteFile, "LCD_DATA.TXT", nobody_);
  EXPECT_EQ(refused.result, -1);
  EXPECT_EQ(refused.error, EACCES);
  Peer member = nobody_;
  member.groups = {4242};
  EXPECT_EQ(Serve(kCmdDeleteFile, "LCD_DATA.TXT", member).result, 1);
}

TEST_F(PeerFilesTest, AFolderOnTheWayTheClientMayNotEnterHidesWhatIsBehindIt) {
  // The volume is open to all, but it lies in a folder only its owner (root) and group 4242 may
  // enter: a client outside the group reaches nothing there and learns nothing of what is there.
  const std::string parent = volume_;
  volume_ = parent + "/vol";
  folder_ = volume_ + "/TAVIO_LCDMANAGER";
  fs::create_directories(folder_);
  ::chmod(volume_.c_str(), 0777);
  ::chmod(folder_.c_str(), 0777);
  ASSERT_EQ(::chown(parent.c_str(), 0, 4242), 0);
  ::chmod(parent.c_str(), 0710);
  Peer member = nobody_;
  member.groups = {4242};
  struct Case {
    const char* name;
    std::int32_t command;
    const char* file;
    bool exists;
  };
  const std::vector<Case> cases = {
      {"delete an existing file", kCmdDeleteFile, "LCD_DATA.TXT", true},
      {"delete a missing file", kCmdDeleteFile, "LCD_DATA.TXT", false},
      {"append to an existing file", kCmdWriteFile, "QR_DATA.TXT", true},
      {"append to a missing file", kCmdWriteFile, "QR_DATA.TXT", false},
      {"create the folder", kCmdCreateDirectory, "", false},
  };
  const std::vector<std::uint8_t> data = {'x'};
  for (const auto& c : cases) {
    const std::string file = c.command == kCmdCreateDirectory ? folder_ : folder_ + "/" + c.file;
    fs::remove_all(file);
    if (c.exists) {
      std::ofstream(file) << "root's";
      ::chmod(file.c_str(), 0666);
    }
    FileAnswer outsider = Serve(c.command, c.file, nobody_, data);
    EXPECT_EQ(outsider.result, RefusedResult(c.command)) << c.name;
    EXPECT_EQ(outsider.error, EACCES) << c.name;
    EXPECT_EQ(fs::exists(file), c.exists) << c.name;
    if (c.exists) {
      EXPECT_EQ(Slurp(file), "root's") << c.name;
    }

    // The same request from a member of the folder's group goes through.
    FileAnswer insider = Serve(c.command, c.file, member, data);
    EXPECT_EQ(insider.error, c.exists || c.command != kCmdDeleteFile ? 0 : ENOENT) << c.name;
  }
}

}  // namespace
}  // namespace kuv::svc
