#pragma once
// The program's one device link as the window sees it, rebuilt on another link when the
// user picks one in the Link menu: the old link ends first (a serial port is held by
// one link at a time), and when the new one cannot be opened the old one comes back.
#include "core/language.h"
#include "core/message_sink.h"
#include "link/device_link.h"
#include "link/exchange_cycle.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class SwitchableLink : public dm::ExchangeLink {
public:
    using TransportFactory = std::function<std::unique_ptr<dm::Transport>(const std::string& link, std::string* error)>;

    SwitchableLink(TransportFactory makeTransport, dm::ReceivedFolderStore& store, dm::MessageSink& messages);

    // Opens the link; false with the reason when its transport cannot be made, the link
    // in use then staying as it was.
    bool open(const std::string& linkName, std::string* error);
    const std::string& linkName() const { return name_; }
    // What the link turned out to be ("irda" may stand for the one adapter found).
    std::string transportName() const { return transportName_; }
    dm::DeviceLink* device() { return link_.get(); }
    // Kept across rebuilds.
    void addSkipFile(const std::string& name);

    // A capture of every frame the link in use carries (sir:, usb-irda), into a pcap file.
    // It ends with that link: a rebuild on another link ends it.
    bool canCapture() const;
    // false with the reason when the link carries no frames or the file cannot be written.
    bool startCapture(const std::string& path, std::string* error);
    void stopCapture();
    // The file being captured into; empty while none is.
    const std::string& capturePath() const { return capturePath_; }

    // ExchangeLink
    int takeLinkStatus() override { return link_ ? link_->takeLinkStatus() : dm::kLinkNone; }
    dm::TakenReplies pollReplyFiles() override { return link_ ? link_->pollReplyFiles() : dm::TakenReplies{}; }
    dm::TakenReplies pollFinishedReplyFiles() override {
        return link_ ? link_->pollFinishedReplyFiles() : dm::TakenReplies{};
    }
    void sendCommandFile(const std::string& bytes) override { sendCommandFiles({bytes}); }
    void sendCommandFiles(const std::vector<std::string>& files) override;
    void repliesDelivered(dm::ReplyKinds replies) override;
    std::optional<std::string> takePushFailure() override;
    std::optional<std::string> takeLinkFailure() override;

private:
    bool build(const std::string& linkName, std::string* error);

    TransportFactory makeTransport_;
    dm::ReceivedFolderStore& store_;
    dm::MessageSink& messages_;
    std::unique_ptr<dm::DeviceLink> link_;
    std::string name_;
    std::string transportName_;
    std::vector<std::string> skipFiles_;
    std::string capturePath_;
};

// Switches to the picked link and says how it went, for the status log: in use now and
// remembered as the Link= line of the settings file (when settingsFile is given), or why
// it cannot be used.
std::string ChooseLink(SwitchableLink& link, const std::string& linkName, const std::filesystem::path& settingsFile,
                       dm::Language language);

// Starts or stops the capture of the link in use; the line for the status log.
std::string StartLinkCapture(SwitchableLink& link, const std::string& path, dm::Language language);
std::string StopLinkCapture(SwitchableLink& link, dm::Language language);
