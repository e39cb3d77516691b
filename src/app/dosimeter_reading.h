#pragma once
// What the records window may ask of the main window: which dosimeter is in range, a
// "Get parameters" whose end it hears of, and word of each record stored.
#include <functional>
#include <optional>
#include <string>

namespace dm {

struct DosimeterReading {
    // The serial of the dosimeter that answered last and is still in range, when the link
    // is free for a command; nothing otherwise.
    std::function<std::optional<std::string>()> serialInRange;
    // Starts "Get parameters"; done runs once its reply has arrived and gone to the records.
    // False when it could not start (done never runs then).
    std::function<bool(std::function<void()> done)> read;
    // Calls `stored` on the window's thread each time the recorder has stored something
    // new in the database, until another is given (an empty one stops it).
    std::function<void(std::function<void()> stored)> watchStored;
};

} // namespace dm
