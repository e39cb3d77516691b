#include "link/device_link.h"

namespace dm {

DeviceLink::DeviceLink(std::unique_ptr<Transport> transport, ReceivedFolderStore& store,
                               MessageSink& messages, bool startDiscovery)
    : transport_(std::move(transport)), store_(store), messages_(messages), pickup_(messages) {
    refreshReceivedFolder();
    if (!receivedFolder_.empty()) {
        pickup_.watch(PathFromUtf8(receivedFolder_));
        pickup_.rememberExistingFiles(PathFromUtf8(receivedFolder_));
    }
    {
        std::lock_guard lock(discoveryLock_);
        deviceId_ = DeviceId{};
    }
    if (startDiscovery && transport_)
        discovery_ = std::thread([this] { runDiscovery(); });
}

void DeviceLink::clearReplies() {
    resultReply_.clear();
    paramReply_.clear();
    archiveReply_.clear();
}

DeviceLink::~DeviceLink() {
    stop_.request();
    if (discovery_.joinable()) {
        transport_->interruptDiscovery();
        discovery_.join();
    }
}

int DeviceLink::takeLinkStatus() {
    std::lock_guard lock(discoveryLock_);
    const int status = linkStatus_;
    if (linkStatus_ == LINK_ARRIVED)
        linkStatus_ = LINK_PRESENT;
    else if (linkStatus_ == LINK_GONE)
        linkStatus_ = LINK_NONE;
    return status;
}

DeviceId DeviceLink::currentDevice() {
    std::lock_guard lock(discoveryLock_);
    return deviceId_;
}

void DeviceLink::applyEnumeration(const std::vector<DeviceId>& devices) {
    std::lock_guard lock(discoveryLock_);
    if (devices.empty()) {
        linkStatus_ = LINK_GONE;
        deviceId_ = DeviceId{};
        return;
    }
    // Only the first device counts; a change behind it raises no event.
    const DeviceId& first = devices.front();
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (deviceId_[i] != first[i]) {
            linkStatus_ = LINK_ARRIVED;
            deviceId_[i] = first[i];
        }
    }
}

void DeviceLink::runDiscovery() {
    switch (transport_->openDiscovery()) {
    case DiscoveryStart::Ok:
        break;
    case DiscoveryStart::SocketLayerFailed:
        transport_->closeDiscovery();
        messages_.showMessage(kMsgSocketLayer);
        return;
    case DiscoveryStart::SocketFailed:
        transport_->closeDiscovery();
        messages_.showMessage(kMsgNoIrdaSocket);
        return;
    }
    std::vector<DeviceId> devices;
    bool first = true;
    while (!stop_.requested()) {
        const bool ok = first ? transport_->enumerate(&devices) : transport_->waitForChange(&devices, stop_);
        if (stop_.requested())
            break;
        if (!ok) {
            transport_->closeDiscovery();
            messages_.showMessage(first ? kMsgEnumerate : kMsgLazyDiscovery);
            return;
        }
        applyEnumeration(devices);
        first = false;
    }
    transport_->closeDiscovery();
}

bool DeviceLink::refreshReceivedFolder() {
    const std::optional<std::string> folder = ReadReceivedFilesFolder(store_);
    if (!folder) {
        receivedFolder_.clear();
        // Said once per loss of access rather than at every poll.
        if (!storeFailed_)
            messages_.showMessage(kMsgNoSettings);
        storeFailed_ = true;
        return false;
    }
    storeFailed_ = false;
    receivedFolder_ = *folder;
    // Said once per folder, so a location that names a file is not left to end only
    // in "Connection interrupted.".
    const std::string problem = ReceivedFolderProblem(receivedFolder_);
    if (problem.empty()) {
        reportedFolder_.clear();
    } else if (reportedFolder_ != receivedFolder_) {
        reportedFolder_ = receivedFolder_;
        messages_.showMessage(problem);
    }
    return true;
}

int DeviceLink::pollReplyFiles() {
    if (!refreshReceivedFolder())
        return 0;
    return pickup_.poll(PathFromUtf8(receivedFolder_),
                        ReplySlots{&resultReply_, &archiveReply_, &paramReply_});
}

int DeviceLink::pollFinishedReplyFiles() {
    // The folder as the last poll read it: the settings are not read again in between.
    if (receivedFolder_.empty())
        return 0;
    return pickup_.pollFinished(PathFromUtf8(receivedFolder_),
                                ReplySlots{&resultReply_, &archiveReply_, &paramReply_});
}

bool DeviceLink::waitForReplyFiles(std::chrono::steady_clock::time_point deadline) const {
    return pickup_.waitForChange(deadline);
}

void DeviceLink::repliesDelivered(int replies) { pickup_.delivered(replies); }

void DeviceLink::takeRepliesOnly(const std::string& letters) { pickup_.takeOnly(letters); }

PushReport DeviceLink::sendCommandFile(std::string bytes,
                                           std::optional<std::chrono::steady_clock::time_point> deadline) {
    PushReport report;
    if (bytes.size() > kMaxCommandTextBytes || !transport_) {
        report.refused = bytes.size() > kMaxCommandTextBytes;
        report.error = report.refused ? "the command file has " + std::to_string(bytes.size()) +
                                            " bytes, more than the " + std::to_string(kMaxCommandTextBytes) +
                                            " one push carries"
                                      : "no link";
        if (report.refused)
            messages_.showMessage("The command file was not sent: " + report.error + ".");
        return report;
    }
    return PushCommandFile(*transport_, currentDevice(), bytes, deadline);
}

void DeviceLink::addSkipFile(const std::string& name) { pickup_.addSkipFile(name); }

} // namespace dm
