#pragma once
// The Link menu: the system's IrDA sockets, the IrDA adapters found, the link in use and,
// for a serial adapter, its kind. A pick rebuilds the device link at once and is
// remembered for the next start; the status log says which, or why it cannot be.
#include "link/irda/adapters.h"

#include <QMenu>

#include <functional>
#include <string>
#include <vector>

struct LinkMenuServices {
    // The entries to offer, the one in use marked.
    std::function<std::vector<dm::irda::LinkChoice>()> choices;
    // Switches to the link; the line for the status log.
    std::function<std::string(const std::string& link, int langBase)> choose;
};

class LinkMenu : public QMenu {
    Q_OBJECT
public:
    LinkMenu(LinkMenuServices services, std::function<int()> langBase,
             std::function<void(const std::string&)> log, QWidget* parent);

    void setTexts();
    // Asked again each time the menu opens, as adapters come and go.
    void refill();

private:
    void pick(const std::string& link);

    LinkMenuServices services_;
    std::function<int()> langBase_;
    std::function<void(const std::string&)> log_;
};
