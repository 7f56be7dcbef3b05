#pragma once
// The service's log lines. Lines name what a client sent, and any local user can send anything
// as often as they like, so every line is escaped, cut to a bounded length and counted against
// its user's share before it reaches the journal.

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "panelsvc/peer_identity.h"

namespace kuv::svc {

inline constexpr std::size_t kMaxLogLine = 600;

// The text with backslashes doubled, control characters (C0, DEL, C1), line and paragraph
// separators, bidirectional overrides and bytes that are not UTF-8 written as \xNN or \u{NNNN},
// cut to at most maxBytes with "..." at the end when it was longer.
std::string EscapeForLog(std::string_view text, std::size_t maxBytes = kMaxLogLine);

// Writes a line where the service's log is kept: standard error here (the journal keeps it); on
// Windows the file OpenLogFile opened, and standard error when run in a console.
void LogLine(const std::string& line);

// Windows: keeps the log in folder\panelsvc.log from now on (about a megabyte of it, and the
// megabyte before in panelsvc.log.old), and on standard error too when echo is set. The folder is
// made for the service alone to write (SYSTEM and Administrators; Users may read), and is not
// used when someone else made it or it is a reparse point, nor is a log file that is a link.
// Answers why the file cannot be used; empty when it is.
std::string OpenLogFile(const std::string& folder, bool echo);

// What a line reports. Changes a client made are always written, so a record of what was done
// for whom cannot be pushed out of the log by junk; refusals and errors are held to a share.
enum class LogKind { kChange, kRefusal, kError };

// Every change; at most linesPerWindow refusals and errors per uid in each window, the rest
// counted and, once the window is over, summed up by kind in one "suppressed ..." line.
class RateLimitedLog {
 public:
  using Clock = std::chrono::steady_clock;
  using Sink = std::function<void(const std::string&)>;

  explicit RateLimitedLog(Sink sink = LogLine, std::function<Clock::time_point()> now = Clock::now,
                          int linesPerWindow = 20,
                          Clock::duration window = std::chrono::seconds(60));

  // Escapes line and writes it, unless it is a refusal or an error and uid has used up the lines
  // of its window.
  void Write(UserId uid, LogKind kind, std::string_view line);

  // Writes the summaries of windows that are over and forgets the users who are quiet.
  void Flush();

  // When Flush next has a summary to write; nullopt when none is pending.
  std::optional<Clock::time_point> NextFlush() const;

 private:
  struct Share {
    Clock::time_point windowStart;
    int written = 0;
    std::uint64_t refusals = 0;  // suppressed
    std::uint64_t errors = 0;    // suppressed
  };
  void Summarise(UserId uid, Share& share);

  Sink sink_;
  std::function<Clock::time_point()> now_;
  int linesPerWindow_;
  Clock::duration window_;
  std::map<UserId, Share> shares_;
};

}  // namespace kuv::svc
