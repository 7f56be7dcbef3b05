#pragma once
// A stable name for a hidraw device. /dev/hidrawN is handed to whatever device comes next once a
// panel is unplugged, so the library names a panel by the sysfs path of the USB interface it sits
// on, which stays the same while it is plugged into the same port, and finds its node from that.

#include <string>

namespace kuv {

// The sysfs path of the interface above hidraw node devNode ("/dev/hidraw3" or "hidraw3"), as
// sysDir shows it; "" when sysfs does not know the node.
std::string HidIdentityOfNode(const std::string& sysDir, const std::string& devNode);

// The node (devDir + "/hidrawN") of the hidraw device whose interface is identity; "" when none
// is present now.
std::string HidNodeOfIdentity(const std::string& sysDir, const std::string& devDir,
                              const std::string& identity);

}  // namespace kuv
