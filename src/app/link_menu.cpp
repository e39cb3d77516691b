#include "app/link_menu.h"

#include "core/string_table.h"
#include "link/irda/dongle.h"
#include "qt/qt_text.h"

#include <QActionGroup>

LinkMenu::LinkMenu(LinkMenuServices services, std::function<dm::Language()> language,
                   std::function<void(const std::string&)> log, QWidget* parent)
    : QMenu(parent), services_(std::move(services)), language_(std::move(language)), log_(std::move(log)) {
    setObjectName(QStringLiteral("menuLink"));
    connect(this, &QMenu::aboutToShow, this, &LinkMenu::refill);
    refill();
}

void LinkMenu::setTexts() {
    setTitle(dm::Q(dm::Tr(dm::IDS_MENU_LINK, language_())));
    refill();
}

void LinkMenu::refill() {
    // clear() leaves the submenu of the last fill: it goes too (later, as a pick in it
    // may be what refills).
    if (auto* old = findChild<QMenu*>(QStringLiteral("menuAdapterKind"), Qt::FindDirectChildrenOnly)) {
        old->setObjectName(QString());
        old->deleteLater();
    }
    clear();
    const dm::Language lang = language_();
    auto* group = new QActionGroup(this);
    std::string current;
    for (const dm::irda::LinkChoice& choice : services_.choices()) {
        const std::string text = choice.link == "irda" ? dm::Tr(dm::IDS_LINK_IRDA_SOCKETS, lang)
                                                       : choice.link + (choice.label.empty() ? "" : "   " + choice.label);
        QAction* action = addAction(dm::Q(text));
        action->setObjectName(dm::Q("actionLink:" + choice.link));
        action->setCheckable(true);
        action->setChecked(choice.current);
        group->addAction(action);
        if (choice.current)
            current = choice.link;
        const std::string link = choice.link;
        connect(action, &QAction::triggered, this, [this, link] { pick(link); });
    }
    // A serial adapter may need its kind's routine to change speed.
    addSeparator();
    QMenu* kinds = addMenu(dm::Q(dm::Tr(dm::IDS_LINK_ADAPTER_KIND, lang)));
    kinds->setObjectName(QStringLiteral("menuAdapterKind"));
    const std::string dongle = dm::irda::SirLinkDongle(current);
    kinds->setEnabled(!dongle.empty());
    auto* kindGroup = new QActionGroup(kinds);
    for (const dm::irda::DongleKind& kind : dm::irda::DongleKinds()) {
        // The two kinds without a product name are described in the interface's language.
        const std::string description = kind.name == "plain"    ? dm::Tr(dm::IDS_LINK_KIND_PLAIN, lang)
                                        : kind.name == "direct" ? dm::Tr(dm::IDS_LINK_KIND_DIRECT, lang)
                                                                : std::string(kind.description);
        QAction* action = kinds->addAction(dm::Q(std::string(kind.name) + "   " + description));
        action->setObjectName(dm::Q("actionDongle:" + std::string(kind.name)));
        action->setCheckable(true);
        action->setChecked(kind.name == dongle);
        kindGroup->addAction(action);
        const std::string link = dm::irda::SirLinkWithDongle(current, std::string(kind.name));
        connect(action, &QAction::triggered, this, [this, link] { pick(link); });
    }
    addCaptureEntry(lang);
}

void LinkMenu::addCaptureEntry(dm::Language language) {
    if (!services_.captureState)
        return;
    addSeparator();
    const LinkMenuServices::CaptureState state = services_.captureState();
    QAction* action = nullptr;
    if (!state.file.empty())
        action = addAction(dm::Q(dm::FillIn(dm::Tr(dm::IDS_MENU_CAPTURE_STOP, language), {state.file})));
    else if (state.available)
        action = addAction(dm::Q(dm::Tr(dm::IDS_MENU_CAPTURE_START, language)));
    else
        action = addAction(
            dm::Q(dm::FillIn(dm::Tr(dm::IDS_MENU_CAPTURE_UNAVAILABLE, language), {state.link})));
    action->setObjectName(QStringLiteral("actionCapture"));
    action->setEnabled(state.available || !state.file.empty());
    connect(action, &QAction::triggered, this, &LinkMenu::toggleCapture);
}

void LinkMenu::toggleCapture() {
    const dm::Language lang = language_();
    if (!services_.captureState().file.empty()) {
        log_(services_.stopCapture(lang));
    } else if (services_.dialogs) {
        if (const std::optional<std::string> file = services_.dialogs->askCaptureFileName())
            log_(services_.startCapture(*file, lang));
    }
    refill();
}

void LinkMenu::pick(const std::string& link) {
    if (link.empty() || !services_.choose)
        return;
    log_(services_.choose(link, language_()));
    refill();
}
