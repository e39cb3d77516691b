#pragma once
// Values the device link hands to the exchange cycle: the link status read once a
// second, and the weights a poll of the received-files folder adds up.

namespace dm {

// Link status (consuming read: 1 becomes 3 and 2 becomes 0 once read).
constexpr int LINK_NONE = 0;     // nothing to report
constexpr int LINK_ARRIVED = 1;  // a device with a new identifier came into range
constexpr int LINK_GONE = 2;     // the device list became empty
constexpr int LINK_PRESENT = 3;  // an arrival was read; a device is taken to be in range

// Reply-kind weights; a poll returns the sum of the files it took in.
constexpr int REPLY_RESULT = 10;    // name holds "L"
constexpr int REPLY_PARAMS = 2222;  // name holds "P"
constexpr int REPLY_ARCHIVE = 3333; // name holds "A"

} // namespace dm
