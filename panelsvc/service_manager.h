#pragma once
// Tells the service manager how the service is doing: one datagram per message to the socket
// $NOTIFY_SOCKET names, as systemd documents for services of Type=notify. A few lines of our own
// spare the daemon a library that would double its resident set.

#include <string_view>

namespace kuv::svc {

// Sends state ("READY=1", "STATUS=...", several assignments joined by '\n') to $NOTIFY_SOCKET: a
// path, or an abstract address written with a leading '@'. True when sent; false when the
// variable is unset (the service was not started by a service manager), names no such address,
// or the datagram could not be sent.
bool NotifyServiceManager(std::string_view state);

}  // namespace kuv::svc
