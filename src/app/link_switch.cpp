#include "app/link_switch.h"

#include "app/window_options.h"
#include "core/string_table.h"

SwitchableLink::SwitchableLink(TransportFactory makeTransport, dm::ReceivedFolderStore& store,
                               dm::MessageSink& messages)
    : makeTransport_(std::move(makeTransport)), store_(store), messages_(messages) {}

bool SwitchableLink::build(const std::string& linkName, std::string* error) {
    std::unique_ptr<dm::Transport> transport = makeTransport_(linkName, error);
    if (!transport)
        return false;
    transportName_ = transport->name();
    link_ = std::make_unique<dm::DeviceLink>(std::move(transport), store_, messages_);
    for (const std::string& name : skipFiles_)
        link_->addSkipFile(name);
    name_ = linkName;
    return true;
}

bool SwitchableLink::open(const std::string& linkName, std::string* error) {
    const std::string previous = name_;
    link_.reset(); // lets go of its port before the new link takes it, maybe the same one
    capturePath_.clear(); // the capture went with it
    if (build(linkName, error))
        return true;
    std::string ignored;
    if (!previous.empty())
        build(previous, &ignored);
    return false;
}

void SwitchableLink::addSkipFile(const std::string& name) {
    skipFiles_.push_back(name);
    if (link_)
        link_->addSkipFile(name);
}

bool SwitchableLink::canCapture() const { return link_ && link_->transport().canCapture(); }

bool SwitchableLink::startCapture(const std::string& path, std::string* error) {
    if (!link_) {
        if (error)
            *error = "no link is open";
        return false;
    }
    if (!link_->transport().startCapture(path, error))
        return false;
    capturePath_ = path;
    return true;
}

void SwitchableLink::stopCapture() {
    if (link_)
        link_->transport().stopCapture();
    capturePath_.clear();
}

void SwitchableLink::sendCommandFiles(const std::vector<std::string>& files) {
    if (link_)
        link_->sendCommandFiles(files);
}

void SwitchableLink::repliesDelivered(dm::ReplyKinds replies) {
    if (link_)
        link_->repliesDelivered(replies);
}

std::optional<std::string> SwitchableLink::takePushFailure() {
    return link_ ? link_->takePushFailure() : std::nullopt;
}

std::optional<std::string> SwitchableLink::takeLinkFailure() {
    return link_ ? link_->takeLinkFailure() : std::nullopt;
}

std::string ChooseLink(SwitchableLink& link, const std::string& linkName, const std::filesystem::path& settingsFile,
                       dm::Language language) {
    // A capture runs on the link it was started on and ends with it: said at the end.
    const std::string captured = link.capturePath();
    const std::string ended =
        captured.empty() ? std::string() : " " + dm::FillIn(dm::Tr(dm::IDS_CAPTURE_ENDED, language), {captured});
    std::string error;
    if (!link.open(linkName, &error))
        return dm::FillIn(dm::Tr(dm::IDS_LINK_CANNOT_USE, language), {linkName, link.linkName(), error}) + ended;
    if (settingsFile.empty())
        return dm::FillIn(dm::Tr(dm::IDS_LINK_IN_USE_THIS_RUN, language), {linkName}) + ended;
    if (!dm::StoreSettingsValue(settingsFile, "Link", linkName, &error))
        return dm::FillIn(dm::Tr(dm::IDS_LINK_NOT_REMEMBERED, language), {linkName, error}) + ended;
    return dm::FillIn(dm::Tr(dm::IDS_LINK_IN_USE, language), {linkName}) + ended;
}

std::string StartLinkCapture(SwitchableLink& link, const std::string& path, dm::Language language) {
    std::string error;
    if (!link.startCapture(path, &error))
        return dm::FillIn(dm::Tr(dm::IDS_CAPTURE_NOT_STARTED, language), {error});
    return dm::FillIn(dm::Tr(dm::IDS_CAPTURE_STARTED, language), {path});
}

std::string StopLinkCapture(SwitchableLink& link, dm::Language language) {
    const std::string path = link.capturePath();
    link.stopCapture();
    return dm::FillIn(dm::Tr(dm::IDS_CAPTURE_ENDED, language), {path});
}
