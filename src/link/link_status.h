#pragma once
// The link status the device link hands to the exchange cycle, read once a second.

namespace dm {

// Link status (consuming read: 1 becomes 3 and 2 becomes 0 once read).
constexpr int LINK_NONE = 0;     // nothing to report
constexpr int LINK_ARRIVED = 1;  // a device with a new identifier came into range
constexpr int LINK_GONE = 2;     // the device list became empty
constexpr int LINK_PRESENT = 3;  // an arrival was read; a device is taken to be in range

} // namespace dm
