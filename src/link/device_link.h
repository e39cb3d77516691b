#pragma once
// The device link: discovery of the dosimeter on a worker thread, the OBEX push of a
// command file, and the pickup of reply files from the received-files folder.
//
// Threads: the discovery thread writes the device identifier and the link status
// under one lock; pushes handed over with sendCommandFiles run on the link's own push
// thread, so no link operation blocks the owner; everything else (pickup, the reply
// slots) belongs to the thread that owns the object. The MessageSink is called from the
// discovery thread for the generic discovery failures (once each) and from the owner's
// thread otherwise; a window must hand the text over to its own thread before showing
// it. A failure the link explains itself (a port gone, no adapter) is not sent there:
// the owner takes it with takeLinkFailure.
#include "core/message_sink.h"
#include "link/link_status.h"
#include "link/obex_push.h"
#include "link/received_folder_store.h"
#include "link/reply_pickup.h"
#include "link/stop_signal.h"
#include "link/transport.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dm {

class DeviceLink {
public:
    // Reads the received-files folder, remembers the text files already in it, clears
    // the device identifier and, unless told not to, starts the discovery thread.
    DeviceLink(std::unique_ptr<Transport> transport, ReceivedFolderStore& store,
               MessageSink& messages, bool startDiscovery = true);
    // Stops the discovery thread and waits for it.
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // The link status; reading consumes LINK_ARRIVED (then LINK_PRESENT) and
    // LINK_GONE (then LINK_NONE).
    int takeLinkStatus();
    // The device identifier discovery holds now (all zero: none).
    DeviceId currentDevice();

    // Looks at the received-files folder once: the replies taken in. A file its writer
    // is seen to have closed is taken at once (where the folder can be watched); any
    // other new file by the second poll that finds it with the same size and time, a
    // second later. Nothing is deleted until repliesDelivered names it.
    TakenReplies pollReplyFiles();
    // Between polls, as often as wanted: takes only the files whose writer is seen to
    // have closed them, and costs nothing while nothing happens in the folder.
    TakenReplies pollFinishedReplyFiles();
    // Waits until something happens in the received-files folder or the deadline
    // passes; true when something did. Where the folder cannot be watched: false at once.
    bool waitForReplyFiles(std::chrono::steady_clock::time_point deadline) const;
    // The replies of the last poll that were handed on: their files are deleted; the
    // others are offered again.
    void repliesDelivered(ReplyKinds replies);
    // Only reply files whose letter is one of these ("LAP" by default) are taken.
    void takeRepliesOnly(const std::string& letters);

    // Pushes the command text to the device in range as "command.txt", on the caller's
    // thread. With a deadline, the push gives up by then.
    PushReport sendCommandFile(std::string bytes,
                               std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);
    // Hands one command's files to the push thread and returns at once; they go out in
    // order, each by the deadline (default: kPushDeadline from now). A failed push ends
    // the command's files there and is told once by takePushFailure.
    void sendCommandFiles(std::vector<std::string> files,
                          std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);
    // Why the last command's push failed ("the link: reason"), once; nothing otherwise.
    std::optional<std::string> takePushFailure();
    // Whether pushes handed over are still going out.
    bool pushing();

    // Waits until a dosimeter is discovered, discovery has failed, or the deadline
    // passes; true when a dosimeter is in range.
    bool waitForDevice(std::chrono::steady_clock::time_point deadline);
    // Why discovery stopped, as the link explains it (a port gone, no adapter); empty
    // while it runs or when it stopped with a generic message (told to the sink).
    std::string discoveryFailure();
    // The same, once, for the owner to show.
    std::optional<std::string> takeLinkFailure();

    // A file name (without folder) never to take as a reply.
    void addSkipFile(const std::string& name);
    const std::vector<std::string>& skipFiles() const { return pickup_.skipFiles(); }

    // The link under the device link, for what the owner asks of it directly (a capture).
    Transport& transport() { return *transport_; }

    // The received-files folder without a trailing separator (empty while the settings
    // cannot be read).
    const std::string& receivedFolder() const { return receivedFolder_; }


private:
    struct PushJob {
        std::vector<std::string> files;
        std::chrono::steady_clock::time_point deadline;
    };

    void runDiscovery();
    void discoveryFailed(const std::string& generic);
    void runPushes();
    void applyEnumeration(const std::vector<DeviceId>& devices);
    bool refreshReceivedFolder();

    std::unique_ptr<Transport> transport_;
    ReceivedFolderStore& store_;
    MessageSink& messages_;
    ReplyPickup pickup_;
    std::string receivedFolder_;
    bool storeFailed_ = false;
    std::string reportedFolder_; // the unusable folder last reported

    std::mutex discoveryLock_; // guards deviceId_, linkStatus_ and the failure below
    std::condition_variable discoveryChanged_;
    DeviceId deviceId_{};
    int linkStatus_ = LINK_NONE;
    std::string discoveryFailure_;
    bool failureTaken_ = false;

    std::mutex pushLock_; // guards the push queue and its outcome
    std::condition_variable pushQueued_;
    std::deque<PushJob> pushQueue_;
    bool pushBusy_ = false;
    std::optional<std::string> pushFailure_;

    StopSignal stop_;
    std::thread discovery_;
    std::thread pusher_; // started with the first push handed over
};

// How long a push handed to the push thread may take unless told otherwise: about the
// ticks an exchange waits for its answer.
inline constexpr std::chrono::seconds kPushDeadline{14};

// Message texts of the device link.
inline constexpr const char* kMsgSocketLayer = "WSAStartup error";
inline constexpr const char* kMsgNoIrdaSocket = "Error#23. Check if IRDA module is installed.";
inline constexpr const char* kMsgEnumerate = "Error#24. Check if IRDA module is installed.";
inline constexpr const char* kMsgLazyDiscovery = "Error#25. Check if IRDA module is installed.";
inline constexpr const char* kMsgNoSettings = "Cannot access windows registry. IrDA functions disabled.";

} // namespace dm
