#include "common/service_client.h"

#include <cstdlib>
#include <thread>

#include "common/service_transport.h"

namespace kuv {

namespace {

using transport::Clock;
using transport::Transfer;

}  // namespace

std::string ServiceSocketPath() {
  const char* path = std::getenv("KUVLCD_SOCKET");
  return path && *path ? std::string(path) : transport::DefaultAddress();
}

std::int32_t ExchangeRequest(RequestRecord& record, const ServiceClientOptions& options) {
  TryExchangeRequest(record, options);
  return record.result;
}

ExchangeOutcome TryExchangeRequest(RequestRecord& record, const ServiceClientOptions& options) {
  const std::string path = options.socketPath.empty() ? ServiceSocketPath() : options.socketPath;
  if (!transport::AddressUsable(path)) {
    // An address that can never name the service never becomes reachable; no point in waiting.
    record.result = -1;
    return ExchangeOutcome::kUnreachable;
  }

  for (int attempt = 0; attempt < options.attempts; ++attempt) {
    if (transport::ConnectionPtr connection = transport::Connect(path)) {
      RequestRecord answer;
      const auto deadline = Clock::now() + options.answerTimeout;
      Transfer t = transport::SendAll(*connection, AsBytes(record), deadline);
      if (t == Transfer::kDone) {
        t = transport::ReceiveAll(*connection, AsWritableBytes(answer), deadline);
      }
      if (t == Transfer::kDone) {
        record = answer;
        return ExchangeOutcome::kAnswered;
      }
      record.result = -1;
      return t == Transfer::kTimedOut ? ExchangeOutcome::kUnreachable : ExchangeOutcome::kBroken;
    }
    record.result = -1;
    if (options.pauseFor) {
      options.pauseFor(options.pause);
    } else {
      std::this_thread::sleep_for(options.pause);
    }
  }
  record.result = -1;
  return ExchangeOutcome::kUnreachable;
}

}  // namespace kuv
