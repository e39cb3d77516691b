#include "app/status_entry.h"

#include <cstdio>

namespace dm {

std::string PaddedStatusEntry(ClockTime t, const std::string& message) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d  ", t.hour, t.minute, t.second);
    return buf + message;
}

std::string RawStatusEntry(ClockTime t, const std::string& message) {
    std::string text = message;
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return std::to_string(t.hour) + ':' + std::to_string(t.minute) + ':' + std::to_string(t.second) +
           "  " + text;
}

} // namespace dm
