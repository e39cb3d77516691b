#pragma once
// A simulated dosimeter at the far end of a serial line, speaking IrDA through the
// program's own stack: it answers discovery, takes "command.txt" through the stack's OBEX
// receiver, and beams each reply back as the primary of a new connection to the
// computer's OBEX receiver ("OBEX:IrXfer", asked through IAS), as the real device does.
#include "link/irda/frame_port.h"
#include "sim/simulated_dosimeter.h"

#include <atomic>
#include <memory>
#include <string>

namespace dm {

class PtyBridge;

class IrdaDosimeter {
public:
    IrdaDosimeter(Model model, SimOptions options);
    ~IrdaDosimeter();
    IrdaDosimeter(const IrdaDosimeter&) = delete;
    IrdaDosimeter& operator=(const IrdaDosimeter&) = delete;

    // Reads the state file when one is set; false with the reason when it is unusable.
    bool loadState(std::string* error);
    // Starts the stack on the port (capturing into capturePath when given) and serves.
    bool start(std::unique_ptr<irda::FramePort> port, const std::string& capturePath, std::string* error);
    // Stops, saves the state. Idempotent.
    void stop();

    std::size_t commandsHandled() const;
    std::size_t repliesBeamed() const;
    std::string stateError() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The window's demonstration: a simulated dosimeter on one end of an in-process pair of
// pseudo-terminals (paced like a real line when asked); the other end's device path is
// left in *linkPath for a "sir:PATH?dongle=direct" link. Its adapter follows the line's
// speed, so the link runs at the highest speed both ends offer. The pair lives as long as
// the returned object.
class PtyDosimeter {
public:
    static std::unique_ptr<PtyDosimeter> Start(Model model, SimOptions options, bool paced, std::string* linkPath,
                                               std::string* error);
    ~PtyDosimeter();
    IrdaDosimeter& dosimeter() { return *dosimeter_; }

    // Out of range the line between the two ends carries nothing either way, as when the
    // dosimeter leaves the infrared beam; both stacks notice it by their own time-outs.
    // Takes effect at once, even inside a frame.
    void setInRange(bool inRange);
    bool inRange() const;

private:
    PtyDosimeter() = default;
    std::shared_ptr<std::atomic<bool>> inRange_;
    std::unique_ptr<PtyBridge> bridge_;
    std::unique_ptr<IrdaDosimeter> dosimeter_;
};

} // namespace dm
