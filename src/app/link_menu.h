#pragma once
// The Link menu: the system's IrDA sockets, the IrDA adapters found, the link in use and,
// for a serial adapter, its kind. A pick rebuilds the device link at once and is
// remembered for the next start; the status log says which, or why it cannot be. Below
// them, the capture of the link's frames into a file the user picks, started and stopped.
#include "core/language.h"
#include "core/message_sink.h"
#include "link/irda/adapters.h"

#include <QMenu>

#include <functional>
#include <string>
#include <vector>

struct LinkMenuServices {
    // The entries to offer, the one in use marked.
    std::function<std::vector<dm::irda::LinkChoice>()> choices;
    // Switches to the link; the line for the status log.
    std::function<std::string(const std::string& link, dm::Language language)> choose;

    // The capture entry, shown only when captureState is set.
    struct CaptureState {
        bool available = false; // the link in use carries frames to capture
        std::string file;       // being captured into; empty: none
        std::string link;       // the link in use, for the entry's text
    };
    std::function<CaptureState()> captureState;
    // Start and stop; the line for the status log.
    std::function<std::string(const std::string& file, dm::Language language)> startCapture;
    std::function<std::string(dm::Language language)> stopCapture;
    // Asks for the capture's file (the window's own dialogs when left empty).
    dm::UserDialogs* dialogs = nullptr;
};

class LinkMenu : public QMenu {
    Q_OBJECT
public:
    LinkMenu(LinkMenuServices services, std::function<dm::Language()> language,
             std::function<void(const std::string&)> log, QWidget* parent);

    void setTexts();
    // Asked again each time the menu opens, as adapters come and go.
    void refill();

private:
    void pick(const std::string& link);
    void addCaptureEntry(dm::Language language);
    void toggleCapture();

    LinkMenuServices services_;
    std::function<dm::Language()> language_;
    std::function<void(const std::string&)> log_;
};
