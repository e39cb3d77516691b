#include "sim_prototype.h"
#include "core/text_file.h"
#include "params/catalogue.h"
#include "sim/sim_device.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

// What the simulated dosimeter does with a command file, and with a state file edited
// by hand. The first byte picks the model and which of the two the rest is.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    dm::SimDevice device = SimPrototype(data[0] & 1, 30);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 2) {
        // A state file: either refused with a reason and the device unchanged, or taken,
        // and then written back out it must load again to the same state.
        const std::string before = device.stateText();
        std::string error;
        if (!device.loadState(text, &error)) {
            if (error.empty() || device.stateText() != before)
                std::abort();
            return 0;
        }
        const std::string saved = device.stateText();
        dm::SimDevice again = SimPrototype(data[0] & 1, 30);
        if (!again.loadState(saved, &error) || again.stateText() != saved)
            std::abort();
        (void)device.handleCommandFile("get_parameters=255\r\n#\r\n", device.clock() + 5);
        (void)device.archiveReply();
        return 0;
    }
    for (const dm::SimReply& reply : device.handleCommandFile(text, device.clock() + 2))
        if (reply.letter != 'P' && reply.letter != 'A' && reply.letter != 'L')
            std::abort();
    // The device must still answer a plain request afterwards.
    if (device.handleCommandFile("get_parameters=255\r\n#\r\n", device.clock() + 4).empty())
        std::abort();
    return 0;
}
