#pragma once
// Whether the panel service answers, as the program's requests find it. Once a request of a pass
// (a scan, a minute refresh, an Update LCD) finds the service gone, the rest of that pass does not
// ask again: each request would wait for the client's full tries on the window thread. Shared by
// the window thread and the scan worker; each thread has its own pass.

#include <atomic>

namespace kuv {

class ServiceLink {
 public:
  // Whether the last request that was made reached the service; true until one did not.
  bool reachable() const { return reachable_.load(); }
  // The tries the next request gets: the client's full count while the service answers; once it
  // was found gone, a single one (without the pause after it), so the quiet retries never hold
  // the program up.
  int Attempts(int full) const { return reachable() ? full : 1; }
  // Before a request: false when a request of this thread's pass found the service gone, so this
  // one is answered -1 without asking.
  bool MayAsk() const;
  // After a request was made: whether it reached the service.
  void Record(bool reached);

 private:
  std::atomic<bool> reachable_{true};
};

// One pass of a flow on this thread, from construction to destruction. A pass opened while
// another is open on the thread joins it, so a flow that calls another stays one pass.
class ServicePass {
 public:
  explicit ServicePass(const ServiceLink& link);
  ~ServicePass();
  ServicePass(const ServicePass&) = delete;
  ServicePass& operator=(const ServicePass&) = delete;

  // A request of this pass found the service gone.
  bool unreachable() const;

 private:
  friend class ServiceLink;
  const ServiceLink& link_;
  ServicePass* outer_;  // the pass this one joined, or null
  bool unreachable_ = false;
};

}  // namespace kuv
