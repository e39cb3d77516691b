#include "link/device_link.h"

#include <utility>

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


DeviceLink::~DeviceLink() {
    stop_.request();
    {
        std::lock_guard lock(pushLock_);
        pushQueue_.clear();
    }
    pushQueued_.notify_all();
    // A push under way ends by its deadline; it starts no further step once stopped.
    if (pusher_.joinable())
        pusher_.join();
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
    discoveryChanged_.notify_all();
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

void DeviceLink::discoveryFailed(const std::string& generic) {
    const std::string reason = transport_->linkError();
    {
        std::lock_guard lock(discoveryLock_);
        // A link that explains its failure (its port went away) reaches no dosimeter any
        // more; after a generic failure the last state stays, as it always has.
        if (!reason.empty() && !IsNoDevice(deviceId_)) {
            deviceId_ = DeviceId{};
            linkStatus_ = LINK_GONE;
        }
        discoveryFailure_ = reason.empty() ? generic : reason;
        failureTaken_ = reason.empty(); // the generic texts go to the sink instead
    }
    discoveryChanged_.notify_all();
    transport_->closeDiscovery();
    if (reason.empty())
        messages_.showMessage(generic);
}

void DeviceLink::runDiscovery() {
    switch (transport_->openDiscovery()) {
    case DiscoveryStart::Ok:
        break;
    case DiscoveryStart::SocketLayerFailed:
        discoveryFailed(kMsgSocketLayer);
        return;
    case DiscoveryStart::SocketFailed:
        discoveryFailed(kMsgNoIrdaSocket);
        return;
    case DiscoveryStart::Unavailable:
        discoveryFailed(kMsgNoIrdaSocket);
        return;
    }
    std::vector<DeviceId> devices;
    bool first = true;
    while (!stop_.requested()) {
        const bool ok = first ? transport_->enumerate(&devices) : transport_->waitForChange(&devices, stop_);
        if (stop_.requested())
            break;
        if (!ok) {
            discoveryFailed(first ? kMsgEnumerate : kMsgLazyDiscovery);
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

TakenReplies DeviceLink::pollReplyFiles() {
    if (!refreshReceivedFolder())
        return {};
    return pickup_.poll(PathFromUtf8(receivedFolder_));
}

TakenReplies DeviceLink::pollFinishedReplyFiles() {
    // The folder as the last poll read it: the settings are not read again in between.
    if (receivedFolder_.empty())
        return {};
    return pickup_.pollFinished(PathFromUtf8(receivedFolder_));
}

bool DeviceLink::waitForReplyFiles(std::chrono::steady_clock::time_point deadline) const {
    return pickup_.waitForChange(deadline);
}

void DeviceLink::repliesDelivered(ReplyKinds replies) { pickup_.delivered(replies); }

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

void DeviceLink::sendCommandFiles(std::vector<std::string> files,
                                  std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (files.empty())
        return;
    {
        std::lock_guard lock(pushLock_);
        pushQueue_.push_back({std::move(files), deadline ? *deadline : std::chrono::steady_clock::now() + kPushDeadline});
        if (!pusher_.joinable())
            pusher_ = std::thread([this] { runPushes(); });
    }
    pushQueued_.notify_all();
}

void DeviceLink::runPushes() {
    std::unique_lock lock(pushLock_);
    for (;;) {
        pushQueued_.wait(lock, [this] { return !pushQueue_.empty() || stop_.requested(); });
        if (stop_.requested())
            return;
        const PushJob job = std::move(pushQueue_.front());
        pushQueue_.pop_front();
        pushBusy_ = true;
        lock.unlock();
        std::optional<std::string> failure;
        for (const std::string& file : job.files) {
            if (stop_.requested())
                break;
            if (!transport_) {
                failure = "no link";
                break;
            }
            const PushReport report = file.size() > kMaxCommandTextBytes
                                          ? sendCommandFile(file) // refused whole, and said so
                                          : PushCommandFile(*transport_, currentDevice(), file, job.deadline);
            if (!report.completed) {
                // The rest of the command's files would act on a half-sent command.
                failure = transport_->name() + ": " + (report.error.empty() ? "the push failed" : report.error);
                break;
            }
        }
        lock.lock();
        pushBusy_ = false;
        if (failure)
            pushFailure_ = failure;
    }
}

std::optional<std::string> DeviceLink::takePushFailure() {
    std::lock_guard lock(pushLock_);
    return std::exchange(pushFailure_, std::nullopt);
}

bool DeviceLink::pushing() {
    std::lock_guard lock(pushLock_);
    return pushBusy_ || !pushQueue_.empty();
}

bool DeviceLink::waitForDevice(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(discoveryLock_);
    discoveryChanged_.wait_until(lock, deadline,
                                 [this] { return !IsNoDevice(deviceId_) || !discoveryFailure_.empty(); });
    return !IsNoDevice(deviceId_);
}

std::string DeviceLink::discoveryFailure() {
    std::lock_guard lock(discoveryLock_);
    return discoveryFailure_;
}

std::optional<std::string> DeviceLink::takeLinkFailure() {
    std::lock_guard lock(discoveryLock_);
    if (discoveryFailure_.empty() || std::exchange(failureTaken_, true))
        return std::nullopt;
    return discoveryFailure_;
}

void DeviceLink::addSkipFile(const std::string& name) { pickup_.addSkipFile(name); }

} // namespace dm
