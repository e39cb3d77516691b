// The window over a real device link: pushes run off the window's thread, a failed one
// is told at the next look, and the Link menu rebuilds the link and remembers it.
#include "app/link_switch.h"
#include "app/main_window.h"
#include "app/window_options.h"
#include "link/received_folder_store.h"
#include "link/tcp_transport.h"
#include "link/transport.h"
#include "../link/obex_test_peer.h"
#include "scripted_dialogs.h"

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>
#include <memory>

#include <pty.h>
#include <unistd.h>

namespace {

struct Session {
    explicit Session(const std::string& link) : store(recv.path().toStdString()) {
        dm::LinkTimeouts timeouts;
        timeouts.rescan = std::chrono::milliseconds(20);
        timeouts.receive = std::chrono::milliseconds(1500);
        links = std::make_unique<SwitchableLink>(
            [timeouts](const std::string& name, std::string* error) { return dm::MakeTransport(name, timeouts, error); },
            store, messages);
        std::string error;
        if (!links->open(link, &error))
            qFatal("link: %s", error.c_str());
        WindowServices s;
        s.dialogs = &dialogs;
        s.link = links.get();
        s.runTimer = false;
        s.catalogueFile = DM_SOURCE_DIR "/data/Commands.lst";
        s.linkMenu.choices = [this] {
            return dm::irda::LinkChoices({{"tcp:127.0.0.1:1", "usb-serial", "a port"}}, links->linkName());
        };
        s.linkMenu.choose = [this](const std::string& name, dm::Language language) {
            return ChooseLink(*links, name, settings.filePath("infrared.ini").toStdString(), language);
        };
        s.linkMenu.captureState = [this] {
            return LinkMenuServices::CaptureState{links->canCapture(), links->capturePath(), links->linkName()};
        };
        s.linkMenu.startCapture = [this](const std::string& file, dm::Language lang) { return StartLinkCapture(*links, file, lang); };
        s.linkMenu.stopCapture = [this](dm::Language lang) { return StopLinkCapture(*links, lang); };
        window = std::make_unique<MainWindow>(dm::InterfaceSettings{dm::Language::English, 0}, std::move(s));
    }
    ~Session() {
        window.reset();
        links.reset();
    }
    bool arrived() {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 20000 && dm::IsNoDevice(links->device()->currentDevice()))
            QTest::qWait(5);
        return !dm::IsNoDevice(links->device()->currentDevice());
    }
    QString newestLog() const { return window->statusLog()->itemText(0); }

    QTemporaryDir recv;
    QTemporaryDir settings;
    dm::FixedFolderStore store;
    dm::SilentMessages messages;
    ScriptedDialogs dialogs;
    std::unique_ptr<SwitchableLink> links;
    std::unique_ptr<MainWindow> window;
};

std::string TcpLink(const dm::test::ObexTestPeer& peer) { return "tcp:127.0.0.1:" + std::to_string(peer.port()); }

} // namespace

class WindowLinkTest : public QObject {
    Q_OBJECT
private slots:
    void pushRunsOffTheWindowsThreadAndAFailedOneIsToldAtTheNextTick() {
        {
            // A peer that takes the connection and never answers: the tick that pushes
            // returns while the push still waits for its answer.
            dm::test::ObexTestPeer silent([](std::size_t, std::uint8_t) { return dm::test::PeerAction{dm::test::PeerAction::Silent, {}}; });
            Session s(TcpLink(silent));
            QVERIFY(s.arrived());
            s.window->onTimer();
            QTRY_VERIFY_WITH_TIMEOUT(!silent.recorded().empty(), 20000); // the CONNECT is out, its answer awaited...
            QVERIFY(s.links->device()->pushing());    // ...while the window's thread goes on
            QVERIFY(!s.window->button(Action::GetParameters)->isEnabled());
        }
        // A peer that hangs up on the request: the tick after the push ended says why and
        // frees the commands, long before the exchange's own time-out.
        dm::test::ObexTestPeer hangup([](std::size_t, std::uint8_t) { return dm::test::PeerAction{dm::test::PeerAction::Hangup, {}}; });
        Session s(TcpLink(hangup));
        QVERIFY(s.arrived());
        s.window->onTimer();
        QTRY_VERIFY_WITH_TIMEOUT(!s.links->device()->pushing(), 20000);
        s.window->onTimer();
        QVERIFY2(s.newestLog().contains("The command did not reach the dosimeter: " + QString::fromStdString(TcpLink(hangup))),
                 qPrintable(s.newestLog()));
        QVERIFY(s.window->button(Action::GetParameters)->isEnabled());
        QCOMPARE(s.window->cycle().state().phase, dm::ExchangeState::Phase::Idle);
    }

    void linkMenuPickRebuildsTheLinkAtOnceAndRemembersIt() {
        dm::test::ObexTestPeer first, second;
        Session s(TcpLink(first));
        LinkMenu* menu = s.window->linkMenu();
        QVERIFY(menu);
        menu->refill();
        // The sockets, the adapter offered and the link in use, which is ticked.
        QStringList names;
        for (QAction* a : menu->actions())
            if (a->objectName().startsWith("actionLink:"))
                names << a->objectName();
        QCOMPARE(names, QStringList({"actionLink:irda", "actionLink:tcp:127.0.0.1:1",
                                     "actionLink:" + QString::fromStdString(TcpLink(first))}));
        QVERIFY(menu->findChild<QAction*>("actionLink:" + QString::fromStdString(TcpLink(first)))->isChecked());
        QVERIFY(!menu->findChild<QMenu*>("menuAdapterKind")->isEnabled()); // no serial adapter in use

        // A link that cannot be opened leaves the one in use, and says so.
        const QString missing = "sir:/dev/ttyDoesNotExist7";
        const std::string said = ChooseLink(*s.links, missing.toStdString(),
                                            s.settings.filePath("infrared.ini").toStdString(), dm::Language::English);
        QVERIFY2(QString::fromStdString(said).startsWith("Link " + missing + " cannot be used, the link stays " +
                                                         QString::fromStdString(TcpLink(first))),
                 said.c_str());
        QCOMPARE(s.links->linkName(), TcpLink(first));
        QVERIFY(s.arrived());

        // A pick from the menu: in use at once, and the Link= line for the next start.
        std::ofstream(s.settings.filePath("infrared.ini").toStdString()) << "[File Transfer]\nLink=irda\nAllowSend=1\n";
        const std::string secondLink = TcpLink(second);
        s.window->linkMenu()->findChild<QAction*>("actionLink:tcp:127.0.0.1:1")->trigger();
        QCOMPARE(s.links->linkName(), std::string("tcp:127.0.0.1:1"));
        QVERIFY(s.newestLog().endsWith("Link tcp:127.0.0.1:1: in use now, and from the next start on."));
        QCOMPARE(dm::DefaultLinkName(s.settings.filePath("infrared.ini").toStdString()), std::string("tcp:127.0.0.1:1"));
        QCOMPARE(dm::SettingsValue(s.settings.filePath("infrared.ini").toStdString(), "AllowSend"), std::string("1"));
        QVERIFY(ChooseLink(*s.links, secondLink, s.settings.filePath("infrared.ini").toStdString(), dm::Language::English) != "");
        QVERIFY(s.arrived());
        QCOMPARE(s.links->device()->currentDevice(), dm::TcpTransport::EndpointId("127.0.0.1", std::to_string(second.port())));
    }

    void captureEntryStartsAndStopsACaptureOfTheLinkInUse() {
        dm::test::ObexTestPeer peer;
        Session s(TcpLink(peer));
        const auto entry = [&s] {
            s.window->linkMenu()->refill();
            return s.window->linkMenu()->findChild<QAction*>("actionCapture");
        };
        // OBEX over TCP carries no IrDA frames: the entry says so and cannot be picked.
        QVERIFY(!entry()->isEnabled());
        QCOMPARE(entry()->text(), "Capture: not available on the link " + QString::fromStdString(TcpLink(peer)));

        // A serial adapter (a pseudo-terminal): the file the user picks gets its frames.
        int master = -1, slave = -1;
        char name[128];
        QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        const std::string sir = std::string("sir:") + name;
        QVERIFY(QString::fromStdString(ChooseLink(*s.links, sir, {}, dm::Language::English)).endsWith("for this run only."));
        const QString pcap = s.settings.filePath("exchange.pcap");
        s.dialogs.saveNames = {std::nullopt, pcap.toStdString()};
        entry()->trigger(); // the dialog cancelled: nothing starts
        QVERIFY(s.links->capturePath().empty() && !QFile::exists(pcap));
        entry()->trigger();
        QCOMPARE(s.newestLog().section("  ", 1), "Capture: every IrDA frame of the link goes into " + pcap + ".");
        QCOMPARE(entry()->text(), "Stop the capture into " + pcap);
        // The computer's discovery frames follow the 24-byte file header.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pcap).size() > 24 + 16, 20000);
        entry()->trigger();
        QCOMPARE(s.newestLog().section("  ", 1), "Capture into " + pcap + " ended.");
        QCOMPARE(entry()->text(), "Capture the exchange into a file...");

        // A capture ends with its link, and the switch says so.
        s.dialogs.saveNames = {pcap.toStdString()};
        entry()->trigger();
        QVERIFY(QString::fromStdString(ChooseLink(*s.links, TcpLink(peer), {}, dm::Language::English))
                    .endsWith("Capture into " + pcap + " ended."));
        QVERIFY(!entry()->isEnabled() && s.links->capturePath().empty());
        QVERIFY(StartLinkCapture(*s.links, pcap.toStdString(), dm::Language::English).starts_with("Capture not started: "));
        QVERIFY(s.links->capturePath().empty());
        ::close(master);
        ::close(slave);
    }
};

QTEST_MAIN(WindowLinkTest)
#include "window_link_test.moc"
