#pragma once
// The simulated dosimeter's behaviour, without sockets or threads: it acts on the lines
// of a received command file and composes the reply files it beams back.
#include "sim/dose_meter.h"
#include "sim/parameter_store.h"
#include "core/model.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

// One reply file: the letter its name must hold ('P', 'A' or 'L') and its bytes
// (Windows-1251, CR LF line ends).
struct SimReply {
    char letter = 'L';
    std::string bytes;
};

class SimDevice {
public:
    // catalogue: the catalogue text (UTF-8); every key of the model's sections is
    // answered. Empty: the built-in parameter list alone.
    SimDevice(Model model, std::string_view catalogue, std::uint64_t seed);

    Model model() const { return model_; }

    // Starts with `records` history records, as if it had been running for that long.
    void fillHistory(std::size_t records);

    // Acts on one received "command.txt" at device clock `clock` (seconds) and returns
    // the replies in the order they are beamed.
    std::vector<SimReply> handleCommandFile(std::string_view fileBytes, long long clock);

    // Reply texts (UTF-8, CR LF).
    std::string parameterReply(bool withProtected) const;
    std::string archiveReply() const;

    void advanceTo(long long clock) { meter_.advanceTo(clock); }
    long long clock() const { return meter_.counters().clock; }

    const ParameterStore& parameters() const { return store_; }
    const DoseMeter& meter() const { return meter_; }

    // The whole state as a text file's content, and back. loadState leaves the device
    // unchanged and says what is wrong (with the line number) when the text is not a
    // state of this model.
    std::string stateText() const;
    bool loadState(std::string_view text, std::string* error);

    static constexpr const char* kPassword = "mervatun";

private:
    std::string liveValue(const std::string& key) const;
    bool isLiveKey(std::string_view key) const;
    static long long CLongOr60(const std::string& text);

    Model model_;
    ParameterStore store_;
    DoseMeter meter_;
    std::vector<std::string> replyKeys_;
};

} // namespace dm
