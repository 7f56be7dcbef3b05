#include <windows.h>
// Declared in terms of what windows.h declares.
#include <sddl.h>

#include <vector>

#include "common/utf16.h"
#include "panelsvc/peer_identity.h"

namespace kuv::svc {

namespace {

std::shared_ptr<void> OwnHandle(HANDLE handle) {
  return std::shared_ptr<void>(handle, [](void* h) { CloseHandle(h); });
}

}  // namespace

std::string TokenAccount(void* token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return {};
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    return {};
  }
  const std::string account = Utf16ToUtf8(reinterpret_cast<const char16_t*>(text));
  LocalFree(text);
  return account;
}

PipeClient AskPipeClient(void* pipe) {
  PipeClient client;
  ULONG pid = 0;
  if (!GetNamedPipeClientProcessId(pipe, &pid) || pid == 0) return client;
  client.pid = static_cast<pid_t>(pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return client;
  HANDLE token = nullptr;
  if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
    client.account = TokenAccount(token);
    CloseHandle(token);
  }
  CloseHandle(process);
  return client;
}

std::shared_ptr<void> TakePipeClientToken(void* pipe) {
  if (!ImpersonateNamedPipeClient(pipe)) return nullptr;
  HANDLE token = nullptr;
  // Asked as the service itself: the client's token may not be allowed to open its own.
  const BOOL opened =
      OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_IMPERSONATE, TRUE, &token);
  // Without going back to its own identity the service must not go on at all.
  if (!RevertToSelf()) std::abort();
  if (!opened) return nullptr;
  return OwnHandle(token);
}

std::string Describe(const Peer& peer) {
  const std::string account = peer.token ? TokenAccount(peer.token.get()) : std::string();
  return "pid " + std::to_string(peer.pid) + " user " + (account.empty() ? "unknown" : account);
}

ScopedPeerIdentity::ScopedPeerIdentity(const Peer& peer) {
  if (!peer.token) return;
  switched_ = true;
  active_ = SetThreadToken(nullptr, peer.token.get()) != FALSE;
}

ScopedPeerIdentity::~ScopedPeerIdentity() {
  if (switched_ && !RevertToSelf()) std::abort();
}

}  // namespace kuv::svc
