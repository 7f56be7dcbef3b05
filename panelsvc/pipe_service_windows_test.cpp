// Runs the built panelsvc.exe and talks to it through its pipe: as our client does, and as the
// Windows programs' clients do, byte for byte, waiting for the event.

#include <windows.h>
// Declared in terms of what windows.h declares.
#include <aclapi.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/service_client.h"
#include "common/utf16.h"
#include "panelio/panelio.h"

namespace kuv::svc {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = Utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

fs::path ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(std::wstring(path, length)).parent_path();
}

// A name no other test (nor a parallel run) uses.
std::string Unique(const std::string& what) {
  return what + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(GetTickCount64() % 100000);
}

// Runs a program and waits for it; its exit code, or -1 when it could not be started.
int RunAndWait(const std::wstring& commandLine, DWORD timeoutMs = 60000) {
  std::wstring line = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return -1;
  }
  WaitForSingleObject(process.hProcess, timeoutMs);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

bool WaitForPipe(const std::string& pipe, milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (WaitNamedPipeW(Wide(pipe).c_str(), 100)) return true;
    std::this_thread::sleep_for(milliseconds(100));
  }
  return false;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// panelsvc.exe --console on a pipe of its own, logging into a ProgramData of its own.
class ConsoleService {
 public:
  explicit ConsoleService(const std::string& extraArguments = "") {
    pipe_ = R"(\\.\pipe\)" + Unique("kuvsvc");
    programData_ = fs::temp_directory_path() / Unique("kuvsvc-data");
    fs::create_directories(programData_);
    std::wstring line = L"\"" + (ProgramFolder() / L"panelsvc.exe").wstring() +
                        L"\" --console --pipe " + Wide(pipe_) + L" " + Wide(extraArguments);
    // The service's environment, with ProgramData pointing at the test's folder.
    std::wstring environment = L"ProgramData=" + programData_.wstring();
    environment.push_back(L'\0');
    wchar_t* inherited = GetEnvironmentStringsW();
    for (const wchar_t* entry = inherited; *entry; entry += wcslen(entry) + 1) {
      if (_wcsnicmp(entry, L"ProgramData=", 12) == 0) continue;
      environment.append(entry);
      environment.push_back(L'\0');
    }
    FreeEnvironmentStringsW(inherited);
    environment.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    started_ =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                       environment.data(), nullptr, &startup, &process_) != FALSE;
  }
  ~ConsoleService() {
    if (started_) {
      TerminateProcess(process_.hProcess, 0);
      WaitForSingleObject(process_.hProcess, 10000);
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
    std::error_code ignored;
    fs::remove_all(programData_, ignored);
  }

  // True once the pipe answers.
  bool Ready() { return started_ && WaitForPipe(pipe_, milliseconds(30000)); }
  const std::string& pipe() const { return pipe_; }
  std::string Log() const { return ReadText(programData_ / "KuvLcdManager" / "panelsvc.log"); }
  bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

 private:
  std::string pipe_;
  fs::path programData_;
  bool started_ = false;
  PROCESS_INFORMATION process_{};
};

// A client as the Windows programs write it: the event made first, the pipe opened
// synchronously, the record written and flushed, the event waited for, the answer read.
class RawClient {
 public:
  // makeEvent false: a client that skips the event and goes straight to the pipe.
  explicit RawClient(const std::string& pipe, bool makeEvent = true) {
    const std::wstring name = Wide(pipe);
    if (makeEvent) {
      event_ = CreateEventW(nullptr, FALSE, FALSE,
                            (L"Global\\" + name.substr(name.find_last_of(L'\\') + 1)).c_str());
      if (event_) ResetEvent(event_);
    }
    pipe_ = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr);
  }
  ~RawClient() {
    if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
    if (event_) CloseHandle(event_);
  }
  bool connected() const { return pipe_ != INVALID_HANDLE_VALUE; }

  bool Send(const RequestRecord& record) {
    DWORD written = 0;
    return WriteFile(pipe_, AsBytes(record).data(), kRequestRecordSize, &written, nullptr) &&
           written == kRequestRecordSize && FlushFileBuffers(pipe_);
  }
  bool WaitForEvent() { return WaitForSingleObject(event_, 30000) == WAIT_OBJECT_0; }
  bool StillConnected() { return PeekNamedPipe(pipe_, nullptr, 0, nullptr, nullptr, nullptr); }
  // True once the service has let the pipe go, looked at until limit.
  bool DroppedWithin(milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (StillConnected()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(milliseconds(50));
    }
    return true;
  }
  // Reads a whole record; false when the pipe broke first.
  bool Receive(RequestRecord* record) {
    auto bytes = AsWritableBytes(*record);
    DWORD got = 0;
    for (std::size_t done = 0; done < bytes.size(); done += got) {
      if (!ReadFile(pipe_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got,
                    nullptr) ||
          got == 0) {
        return false;
      }
    }
    return true;
  }

 private:
  HANDLE event_ = nullptr;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

// Every byte of the answer as sent, but those of `lastError` (and `result` when it may change).
void ExpectUnchangedBut(const RequestRecord& sent, const RequestRecord& answer, bool result) {
  auto a = AsBytes(sent);
  auto b = AsBytes(answer);
  for (std::size_t i = 0; i < kRequestRecordSize; ++i) {
    if (i >= 8 && i < 12) continue;
    if (result && i >= 4 && i < 8) continue;
    ASSERT_EQ(a[i], b[i]) << "byte " << i;
  }
}

// A record with every byte that travels set, so the test sees each one come back.
RequestRecord Patterned(std::int32_t command) {
  RequestRecord record = MakeRequest(command);
  auto bytes = AsWritableBytes(record);
  for (std::size_t i = 16; i < kRequestRecordSize; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  record.result = 77;
  return record;
}

TEST(PipeService, AnswersOurClientAndTheWindowsProgramsClientByteForByte) {
  ConsoleService service;
  ASSERT_TRUE(service.Ready());

  // An unknown command comes back as sent but for lastError, to both kinds of client.
  const RequestRecord unknown = Patterned(0x55);
  RequestRecord ours = unknown;
  ASSERT_EQ(TryExchangeRequest(ours, {service.pipe()}), ExchangeOutcome::kAnswered);
  ExpectUnchangedBut(unknown, ours, false);

  RawClient raw(service.pipe());
  ASSERT_TRUE(raw.connected());
  ASSERT_TRUE(raw.Send(unknown));
  ASSERT_TRUE(raw.WaitForEvent());
  RequestRecord answer;
  ASSERT_TRUE(raw.Receive(&answer));
  ExpectUnchangedBut(unknown, answer, false);

  // A client that never made the event is answered too, and stops no one.
  {
    RawClient eventless(service.pipe(), false);
    ASSERT_TRUE(eventless.connected());
    ASSERT_TRUE(eventless.Send(unknown));
    ASSERT_TRUE(eventless.Receive(&answer));
    ExpectUnchangedBut(unknown, answer, false);
  }
  RequestRecord after = unknown;
  ASSERT_EQ(TryExchangeRequest(after, {service.pipe()}), ExchangeOutcome::kAnswered);

  // A device command reaches the dispatcher: no panel takes the lines here, and the answer says
  // so. Whether the system lets the drive be opened at all (Wine opens its first disk) decides
  // which of the two refusals it is.
  RequestRecord size = DriveRequest(kCmdGetSizeFromSector, 3);
  EXPECT_EQ(ExchangeRequest(size, {service.pipe()}), 0);
  static const std::array<std::uint8_t, kRequestLineSlots * kRequestLineSlotSize> kBlank{};
  RequestRecord send = SendLineDataRequest(0, kBlank);
  const auto refused = static_cast<std::uint32_t>(ExchangeRequest(send, {service.pipe()}));
  EXPECT_TRUE(refused == kPanelDriveNotOpened || refused == kPanelLineRefused) << refused;
  // Command 10 leaves result as the client sent it.
  RequestRecord autorun = SetAutorunRequest(false);
  autorun.result = 77;
  EXPECT_EQ(ExchangeRequest(autorun, {service.pipe()}), 77);
}

// Who may do what with an object, read from its access list by well-known SID.
struct Grant {
  WELL_KNOWN_SID_TYPE who;
  ACCESS_MASK mask;
};

std::vector<Grant> GrantsOf(HANDLE object, bool* others) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::vector<Grant> grants;
  *others = false;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                      nullptr, &descriptor) != ERROR_SUCCESS ||
      !dacl) {
    *others = true;  // no access list at all lets everyone in
    return grants;
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    PSID sid = &ace->SidStart;
    bool known = false;
    for (WELL_KNOWN_SID_TYPE who :
         {WinLocalSystemSid, WinBuiltinAdministratorsSid, WinBuiltinUsersSid}) {
      if (IsWellKnownSid(sid, who)) {
        grants.push_back({who, ace->Mask});
        known = true;
      }
    }
    if (!known) *others = true;
  }
  LocalFree(descriptor);
  return grants;
}

ACCESS_MASK MaskOf(const std::vector<Grant>& grants, WELL_KNOWN_SID_TYPE who) {
  ACCESS_MASK mask = 0;
  for (const auto& g : grants) {
    if (g.who == who) mask |= g.mask;
  }
  return mask;
}

// Users may use the pipe but neither rewrite its access list nor take it over; the event is
// theirs whole, since the Windows programs' clients open it asking for every right. No one but
// SYSTEM, Administrators and Users is let in to either.
TEST(PipeService, ThePipeAndTheEventLetInUsersAndNoOneElse) {
  ConsoleService service;
  ASSERT_TRUE(service.Ready());
  const std::wstring name = Wide(service.pipe());
  HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  HANDLE event = OpenEventW(READ_CONTROL | SYNCHRONIZE, FALSE,
                            (L"Global\\" + name.substr(name.find_last_of(L'\\') + 1)).c_str());
  ASSERT_NE(event, nullptr);
  const struct {
    const char* what;
    HANDLE object;
    ACCESS_MASK usersNeed;
    ACCESS_MASK usersMayNot;
  } objects[] = {
      {"pipe", pipe, FILE_GENERIC_READ | FILE_GENERIC_WRITE, WRITE_DAC | WRITE_OWNER | DELETE},
      {"event", event, EVENT_ALL_ACCESS, 0}};
  for (const auto& o : objects) {
    bool others = false;
    const auto grants = GrantsOf(o.object, &others);
    EXPECT_FALSE(others) << o.what;
    const ACCESS_MASK users = MaskOf(grants, WinBuiltinUsersSid);
    EXPECT_EQ(users & o.usersNeed, o.usersNeed) << o.what;
    EXPECT_EQ(users & o.usersMayNot, 0u) << o.what;
    for (WELL_KNOWN_SID_TYPE admin : {WinLocalSystemSid, WinBuiltinAdministratorsSid}) {
      EXPECT_EQ(MaskOf(grants, admin) & WRITE_DAC, static_cast<ACCESS_MASK>(WRITE_DAC)) << o.what;
    }
  }
  CloseHandle(event);
  CloseHandle(pipe);
}

struct HostileCase {
  const char* what;
  RequestRecord record;
  std::int32_t result;
  DWORD lastError;
};

RequestRecord WithPath(std::int32_t command, const std::u16string& path) {
  RequestRecord record = MakeRequest(command);
  EXPECT_TRUE(record.SetPath(path));
  return record;
}

std::vector<HostileCase> HostileRecords() {
  std::vector<HostileCase> cases;
  cases.push_back({"drive 32", DriveRequest(kCmdGetLcdInfo, 32), 0, ERROR_INVALID_PARAMETER});
  cases.push_back({"drive -1", DriveRequest(kCmdSendLineData, -1),
                   static_cast<std::int32_t>(kPanelDriveNotOpened), ERROR_INVALID_PARAMETER});
  RequestRecord hid = DriveRequest(kCmdGetLcdInfo, 0);
  std::fill(std::begin(hid.driveInfo.hidPath), std::end(hid.driveInfo.hidPath), u'A');
  cases.push_back({"hidPath without its NUL", hid, 0, ERROR_INVALID_PARAMETER});
  RequestRecord folder = MakeRequest(kCmdCreateDirectory);
  std::fill(std::begin(folder.path), std::end(folder.path), u'A');
  cases.push_back({"path without its NUL", folder, 0, ERROR_INVALID_PARAMETER});
  RequestRecord longWrite = MakeRequest(kCmdWriteFile);
  const std::uint8_t data[1] = {1};
  EXPECT_TRUE(longWrite.SetWrite(u"C:\\TAVIO_LCDMANAGER\\QR_DATA.TXT", data));
  std::memcpy(AsWritableBytes(longWrite).data() + kWriteLengthOffset, "\x00\x10\x00\x00", 4);
  cases.push_back({"writeLength 4096", longWrite, 0, ERROR_INVALID_PARAMETER});
  cases.push_back({"command 6 path of 32 units",
                   WithPath(kCmdWriteFile, u"C:\\TAVIO_LCDMANAGER\\LCD_DATA.TXT"), 0,
                   ERROR_INVALID_PARAMETER});
  cases.push_back({"..", WithPath(kCmdCreateDirectory, u"C:\\Windows\\..\\TAVIO_LCDMANAGER"), 0,
                   ERROR_ACCESS_DENIED});
  cases.push_back({"a file outside the folder",
                   WithPath(kCmdDeleteFile, u"C:\\TAVIO_LCDMANAGER\\..\\windows\\win.ini"), -1,
                   ERROR_ACCESS_DENIED});
  cases.push_back({"a folder that is not a volume's root",
                   WithPath(kCmdCreateDirectory, u"C:\\windows\\TAVIO_LCDMANAGER"), 0,
                   ERROR_ACCESS_DENIED});
  cases.push_back({"a device path",
                   WithPath(kCmdDeleteFile, u"\\\\?\\C:\\TAVIO_LCDMANAGER\\LCD_DATA.TXT"), -1,
                   ERROR_ACCESS_DENIED});
  cases.push_back({"a line break to forge a log line",
                   WithPath(kCmdCreateDirectory, u"C:\\x\nrefused nothing\\TAVIO_LCDMANAGER"), 0,
                   ERROR_ACCESS_DENIED});
  return cases;
}

TEST(PipeService, RefusesHostileRecordsLogsThemAndKeepsAnswering) {
  ConsoleService service;
  ASSERT_TRUE(service.Ready());
  const auto cases = HostileRecords();
  for (const auto& c : cases) {
    RequestRecord record = c.record;
    ASSERT_EQ(TryExchangeRequest(record, {service.pipe()}), ExchangeOutcome::kAnswered) << c.what;
    EXPECT_EQ(record.result, c.result) << c.what;
    EXPECT_EQ(record.lastError, c.lastError) << c.what;
    // The rest comes back as sent, so nothing was done with it.
    ExpectUnchangedBut(c.record, record, true);
    RequestRecord next = Patterned(0);
    ASSERT_EQ(TryExchangeRequest(next, {service.pipe()}), ExchangeOutcome::kAnswered)
        << "after " << c.what;
  }
  EXPECT_TRUE(service.Running());
  const std::string log = service.Log();
  std::size_t refusals = 0;
  for (std::size_t at = log.find("refused command"); at != std::string::npos;
       at = log.find("refused command", at + 1)) {
    ++refusals;
  }
  EXPECT_EQ(refusals, cases.size()) << log;
  // The forged line stays inside its own, escaped.
  EXPECT_NE(log.find("C:\\\\x\\x0Arefused nothing"), std::string::npos) << log;
  EXPECT_EQ(log.find("\nrefused nothing"), std::string::npos) << log;
}

// Makes C:\TAVIO_LCDMANAGER a link to elsewhere when the system can; false when it cannot.
bool PlantLinkedFolder(const fs::path& folder, const fs::path& elsewhere) {
  if (!CreateSymbolicLinkW(
          folder.c_str(), elsewhere.c_str(),
          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    return false;
  }
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A simulated world whose one volume is C:\, so that the service's device table lists that volume
// as it would a tray's.
class RootVolumeWorld {
 public:
  RootVolumeWorld() : dir_(fs::temp_directory_path() / Unique("kuvsvc-world")) {
    fs::create_directories(dir_);
    std::ofstream(dir_ / "world.json")
        << R"({"disks": [{"number": 0, "sizeBytes": 67108864, "volumes": [)"
        << R"({"dir": "C:/", "label": "SYSTEM", "fileSystem": "NTFS"}]}]})";
    SetEnvironmentVariableW(L"KUVLCD_SIM_WORLD", dir_.c_str());
  }
  ~RootVolumeWorld() {
    SetEnvironmentVariableW(L"KUVLCD_SIM_WORLD", nullptr);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

 private:
  fs::path dir_;
};

class VolumeFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.Ready());
    fs::remove_all(folder_, ignored_);
  }
  void TearDown() override {
    RemoveDirectoryW(folder_.c_str());
    fs::remove_all(folder_, ignored_);
  }
  std::int32_t Exchange(RequestRecord record) {
    EXPECT_EQ(TryExchangeRequest(record, {service_.pipe()}), ExchangeOutcome::kAnswered);
    return record.result;
  }
  RequestRecord Append(const std::string& data) {
    RequestRecord record = MakeRequest(kCmdWriteFile);
    EXPECT_TRUE(record.SetWrite(
        u"C:\\TAVIO_LCDMANAGER\\QR_DATA.TXT",
        std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size())));
    return record;
  }

  RootVolumeWorld world_;  // before the service, which inherits it
  ConsoleService service_;
  const fs::path folder_ = L"C:\\TAVIO_LCDMANAGER";
  std::error_code ignored_;
};

TEST_F(VolumeFolderTest, TheFolderIsMadeHiddenAndItsFilesAppendedAndDeleted) {
  const RequestRecord remove = WithPath(kCmdDeleteFile, u"C:\\TAVIO_LCDMANAGER\\QR_DATA.TXT");
  const RequestRecord create = WithPath(kCmdCreateDirectory, u"C:\\TAVIO_LCDMANAGER");
  EXPECT_EQ(Exchange(remove), -1);
  EXPECT_EQ(Exchange(create), 1);
  const DWORD attributes = GetFileAttributesW(folder_.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
  // An existing folder is left as it is.
  EXPECT_EQ(Exchange(create), 0);
  EXPECT_EQ(Exchange(Append("abc")), 1);
  EXPECT_EQ(Exchange(Append("abc")), 1);
  EXPECT_EQ(ReadText(folder_ / "QR_DATA.TXT"), "abcabc");
  EXPECT_EQ(Exchange(remove), 1);
  EXPECT_FALSE(fs::exists(folder_ / "QR_DATA.TXT"));
}

TEST_F(VolumeFolderTest, AFolderThatIsALinkIsNotFollowed) {
  const fs::path elsewhere = fs::temp_directory_path() / Unique("kuvsvc-elsewhere");
  fs::create_directories(elsewhere);
  std::ofstream(elsewhere / "LCD_DATA.TXT") << "not the service's";
  const bool planted = PlantLinkedFolder(folder_, elsewhere);
  if (!planted) {
    fs::remove_all(elsewhere, ignored_);
    GTEST_SKIP() << "this system makes no symbolic links (Wine 8 answers success and makes none)";
  }
  EXPECT_EQ(Exchange(WithPath(kCmdDeleteFile, u"C:\\TAVIO_LCDMANAGER\\LCD_DATA.TXT")), -1);
  EXPECT_EQ(Exchange(Append("abc")), 0);
  EXPECT_EQ(ReadText(elsewhere / "LCD_DATA.TXT"), "not the service's");
  EXPECT_FALSE(fs::exists(elsewhere / "QR_DATA.TXT"));
  EXPECT_NE(service_.Log().find("reparse point in path"), std::string::npos);
  fs::remove_all(elsewhere, ignored_);
}

// Other clients, one after another, are answered meanwhile.
void ExpectOthersAnswered(const std::string& pipe) {
  for (int i = 0; i < 3; ++i) {
    RequestRecord record = Patterned(0);
    EXPECT_EQ(TryExchangeRequest(record, {pipe}), ExchangeOutcome::kAnswered) << i;
  }
}

TEST(PipeService, ASilentClientIsDroppedWhenItsTimeIsUpAndHoldsUpNoOneMeanwhile) {
  ConsoleService service("--receive-timeout-ms 3000");
  ASSERT_TRUE(service.Ready());
  RawClient silent(service.pipe());
  ASSERT_TRUE(silent.connected());
  ExpectOthersAnswered(service.pipe());
  // The others were served while the silent client was still connected.
  EXPECT_TRUE(silent.StillConnected());
  EXPECT_TRUE(silent.DroppedWithin(milliseconds(30000)));
  const std::string log = service.Log();
  EXPECT_NE(log.find("no whole record within the time limit (0 bytes)"), std::string::npos) << log;
}

TEST(PipeService, SilentClientsHoldingEveryInstanceCannotLockOthersOut) {
  ConsoleService service("--instances 2");
  ASSERT_TRUE(service.Ready());
  RawClient first(service.pipe());
  ASSERT_TRUE(first.connected());
  RawClient second(service.pipe());
  ASSERT_TRUE(second.connected());
  ExpectOthersAnswered(service.pipe());
  EXPECT_FALSE(first.StillConnected());
  EXPECT_FALSE(second.StillConnected());
  const std::string log = service.Log();
  EXPECT_NE(log.find("to admit another"), std::string::npos) << log;
}

// The service as Windows runs it, in the build's Wine prefix or on a Windows machine.
// One test at a time: under Wine a program that asks for the service dispatcher without being
// started as a service takes the place of the one being started.
class ServiceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    turn_ = CreateMutexW(nullptr, FALSE, L"Global\\kuvsvc-service-manager-tests");
    ASSERT_NE(turn_, nullptr);
    ASSERT_NE(WaitForSingleObject(turn_, 300000), WAIT_TIMEOUT);
  }
  void TearDown() override {
    if (!turn_) return;
    ReleaseMutex(turn_);
    CloseHandle(turn_);
  }
  static std::wstring Program() { return (ProgramFolder() / L"panelsvc.exe").wstring(); }
  static int Sc(const std::wstring& arguments) { return RunAndWait(L"sc.exe " + arguments); }
  static int Net(const std::wstring& arguments) { return RunAndWait(L"net.exe " + arguments); }

 private:
  HANDLE turn_ = nullptr;
};

TEST_F(ServiceManagerTest, CreatedWithScAndStartedWithNetStartItAnswers) {
  const std::string name = Unique("kuvsvc-sc");
  const std::string pipe = R"(\\.\pipe\)" + name;
  const std::wstring quoted = L"\"" + Wide(name) + L"\"";
  ASSERT_EQ(Sc(L"create " + quoted + L" binPath= \"\\\"" + Program() + L"\\\" --pipe " +
               Wide(pipe) + L"\""),
            0);
  EXPECT_EQ(Net(L"start " + quoted), 0);
  RequestRecord record = Patterned(0);
  EXPECT_EQ(TryExchangeRequest(record, {pipe, 30, milliseconds(300)}), ExchangeOutcome::kAnswered);
  EXPECT_EQ(Net(L"stop " + quoted), 0);
  EXPECT_EQ(Sc(L"delete " + quoted), 0);
  // Stopped, it no longer answers.
  RequestRecord after = Patterned(0);
  EXPECT_EQ(TryExchangeRequest(after, {pipe, 2, milliseconds(100)}), ExchangeOutcome::kUnreachable);
}

TEST_F(ServiceManagerTest, InstallRegistersTheServiceByItsNameAndUninstallRemovesIt) {
  const std::string pipe = R"(\\.\pipe\)" + Unique("kuvsvc-install");
  const std::wstring name = L"\"QM LCD Device Service\"";
  // A run that failed half way may have left it registered.
  RunAndWait(L"\"" + Program() + L"\" --uninstall");
  ASSERT_EQ(RunAndWait(L"\"" + Program() + L"\" --install --pipe " + Wide(pipe)), 0);
  EXPECT_EQ(Net(L"start " + name), 0);
  RequestRecord record = Patterned(0);
  EXPECT_EQ(TryExchangeRequest(record, {pipe, 30, milliseconds(300)}), ExchangeOutcome::kAnswered);
  EXPECT_EQ(RunAndWait(L"\"" + Program() + L"\" --uninstall"), 0);
  EXPECT_NE(Sc(L"query " + name), 0);
  RequestRecord after = Patterned(0);
  EXPECT_EQ(TryExchangeRequest(after, {pipe, 2, milliseconds(100)}), ExchangeOutcome::kUnreachable);
}

TEST_F(ServiceManagerTest, StartedByHandOutsideItSaysHowAndEndsWithZero) {
  EXPECT_EQ(RunAndWait(L"\"" + Program() + L"\""), 0);
}

}  // namespace
}  // namespace kuv::svc
