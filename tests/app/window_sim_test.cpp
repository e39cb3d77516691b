// A technician's session end to end: the window, the real device link over TCP and the
// simulated dosimeter in this process, with a received-files folder of the test's own.
// Ticks are driven by the test; between two ticks it only waits for the simulator's
// files to land, so no result depends on how fast the machine is.
#include "app/main_window.h"
#include "core/string_table.h"
#include "grid/grid_view.h"
#include "grid/parameter_table_view.h"
#include "link/device_link.h"
#include "link/received_folder_store.h"
#include "link/transport.h"
#include "records/station_recorder.h"
#include "scripted_dialogs.h"
#include "sim/simulated_dosimeter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTabBar>
#include <QComboBox>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <functional>
#include <memory>

namespace {

struct Session {
    QTemporaryDir recv;
    std::unique_ptr<dm::SimulatedDosimeter> sim;
    std::unique_ptr<dm::FixedFolderStore> store;
    dm::SilentMessages linkMessages;
    std::unique_ptr<dm::DeviceLink> link;
    std::unique_ptr<dm::ExchangeLinkAdapter<dm::DeviceLink>> adapter;
    ScriptedDialogs dialogs;
    QTemporaryDir recordsDir;
    std::unique_ptr<dm::records::StationRecorder> recorder;
    std::unique_ptr<MainWindow> window;

    explicit Session(dm::Model model = dm::Model::Krt17a,
                     int replyDelayMs = 0, dm::Language language = dm::Language::English) {
        dm::SimOptions options;
        options.replyDelayMs = replyDelayMs;
        options.records = 10;
        options.seed = 7;
        options.catalogue = DM_SOURCE_DIR "/data/Commands.lst";
        sim = std::make_unique<dm::SimulatedDosimeter>(model, recv.path().toStdString(), options);
        std::string error;
        if (!sim->start("127.0.0.1", 0, &error))
            qFatal("simulator: %s", error.c_str());
        dm::LinkTimeouts timeouts;
        timeouts.rescan = std::chrono::milliseconds(20);
        timeouts.probe = std::chrono::milliseconds(500);
        auto transport = dm::MakeTransport("tcp:127.0.0.1:" + std::to_string(sim->port()), timeouts, &error);
        if (!transport)
            qFatal("transport: %s", error.c_str());
        store = std::make_unique<dm::FixedFolderStore>(recv.path().toStdString());
        link = std::make_unique<dm::DeviceLink>(std::move(transport), *store, linkMessages);
        adapter = std::make_unique<dm::ExchangeLinkAdapter<dm::DeviceLink>>(*link);

        WindowServices s;
        s.dialogs = &dialogs;
        s.link = adapter.get();
        s.addSkipFile = [this](const std::string& name) { link->addSkipFile(name); };
        s.simulatorInRange = [this](bool in) { sim->setInRange(in); };
        s.catalogueFile = DM_SOURCE_DIR "/data/Commands.lst";
        s.runTimer = false;
        // Each event a second after the one before, as when a person works the window: the
        // same reply again in the same second would be the same readout.
        recorder = std::make_unique<dm::records::StationRecorder>(
            recordsUrl(), recordsDir.filePath("spool.sqlite").toStdString(), dm::records::LocalOrigin(),
            [t = dm::records::UtcSeconds{1'800'000'000}]() mutable { return ++t; });
        s.recorder = recorder.get();
        window = std::make_unique<MainWindow>(dm::InterfaceSettings{language, 0}, std::move(s));
        window->show();
    }
    ~Session() {
        window.reset();
        link.reset();
        sim->stop();
    }

    std::string recordsUrl() const { return "sqlite:" + recordsDir.filePath("records.sqlite").toStdString(); }
    // What the window has recorded so far.
    std::unique_ptr<dm::records::RecordsRepository> records() {
        recorder->waitIdle();
        return dm::records::RecordsRepository::open(recordsUrl());
    }

    // Reply files the simulator has beamed and the window has not taken in yet.
    int repliesWaiting() const {
        int n = 0;
        for (const QString& name : QDir(recv.path()).entryList(QDir::Files))
            if (name.size() > 1 && QString("PAL").contains(name[0]) && name[1].isDigit())
                ++n;
        return n;
    }

    // Waits (at most a few seconds) for something the next tick can see: a reply file
    // in the received folder, or the discovery thread's news.
    void waitFor(const std::function<bool()>& ready) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 20000 && !ready())
            QTest::qWait(5);
    }
    // Pushes go out on the link's own thread: the files of a command are all out first.
    void waitForReply() { waitFor([this] { return !link->pushing() && repliesWaiting() > 0; }); }
    void tick() { window->onTimer(); }

    // Ticks until a new log entry ends with text; false after maxTicks ticks.
    bool tickUntilLogged(const QString& text, int maxTicks = 6) {
        return loggedSince(window->statusLog()->count(), text, maxTicks);
    }
    // The same for entries added since the log held `entries`: a reply beamed during a
    // push is taken in by the tick that pushed.
    bool loggedSince(int entries, const QString& text, int maxTicks = 6) {
        for (int i = 0;; ++i) {
            for (int e = 0; e < window->statusLog()->count() - entries; ++e)
                if (window->statusLog()->itemText(e).endsWith(text))
                    return true;
            if (i == maxTicks)
                return false;
            waitForReply();
            tick();
        }
    }
    int logCount() const { return window->statusLog()->count(); }

    QString newestLog() const { return window->statusLog()->itemText(0); }
    bool actionsEnabled(bool expected) const {
        for (Action id : {Action::GetParameters, Action::GetDoseHistory, Action::SendChanges, Action::EraseTotalDose})
            if (window->button(id)->isEnabled() != expected)
                return false;
        return true;
    }
    // The model row of the parameter row with this key, or -1.
    int findRow(const std::string& key) const { return window->grid().rowOfKey(key); }

    // Types text into a value cell's editor and ends the edit with Enter.
    void type(const std::string& key, const QString& text) {
        dm::ParameterTableView* view = window->gridView();
        const int row = findRow(key);
        QVERIFY(row >= 0);
        QVERIFY(view->editCell(row, 1));
        auto* edit = qobject_cast<QLineEdit*>(view->indexWidget(view->indexOfCell(row, 1)));
        QVERIFY(edit);
        edit->setText(text);
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_VERIFY(!view->isEditing());
    }
    std::string value(const std::string& key) const { return window->grid().text(findRow(key), 1); }

    // The dosimeter comes into range; the window asks for its parameters by itself.
    bool arrive() {
        waitFor([this] { return !dm::IsNoDevice(link->currentDevice()); });
        const int entries = window->statusLog()->count();
        tick(); // reads the arrival and pushes the request
        waitFor([this] { return sim->commandsHandled() >= 1; });
        if (sim->commandsHandled() != 1)
            return false;
        return loggedSince(entries, "  Parameters received");
    }
};

const QString kParamsReceived = "  Parameters received";

QAction* FindAction(QWidget* w, const char* name) { return w->findChild<QAction*>(QLatin1String(name)); }

} // namespace

class WindowSimTest : public QObject {
    Q_OBJECT
private slots:
    void arrivalEditSendHistoryDiagramDeparture() {
        Session s;
        MainWindow& w = *s.window;
        QVERIFY(s.arrive());
        QVERIFY(s.actionsEnabled(true));
        QCOMPARE(w.windowTitle(), QString("Dosimeter manager: KRT-17A"));
        const int threshold = s.findRow("dose_threshold");
        QVERIFY(threshold >= 0);
        // The parameters are recorded as they arrive, unasked.
        const std::string serial = w.grid().text(s.findRow("serial_number"), 1);
        QCOMPARE(s.records()->readouts(serial).size(), std::size_t(1));
        const std::string thresholdBefore = w.grid().text(threshold, 1);

        // Edit a value in place and send it: accepted, and the parameters come again
        // carrying the new value; the acceptance itself is not logged.
        dm::ParameterTableView* view = w.gridView();
        QVERIFY(view->editCell(threshold, 1));
        auto* edit = qobject_cast<QLineEdit*>(view->indexWidget(view->indexOfCell(threshold, 1)));
        QVERIFY(edit);
        edit->setText("2.500E-03");
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_VERIFY(!view->isEditing());
        const int logged = w.statusLog()->count();
        w.button(Action::SendChanges)->click();
        QVERIFY(s.actionsEnabled(false));
        QVERIFY(s.tickUntilLogged(kParamsReceived));
        for (int i = 0; i < w.statusLog()->count() - logged; ++i)
            QVERIFY(!w.statusLog()->itemText(i).contains("accepted"));
        QCOMPARE(w.grid().text(s.findRow("dose_threshold"), 1), std::string("2.500E-03"));
        QVERIFY(s.actionsEnabled(true));
        {
            // The change is in the audit trail, taken, and the renewed parameters are a readout.
            auto records = s.records();
            QCOMPARE(records->readouts(serial).size(), std::size_t(2));
            const auto history = records->history(serial);
            QCOMPARE(history.size(), std::size_t(1));
            QCOMPARE(history[0].action, std::string("send-changes"));
            bool found = false;
            for (const dm::records::ChangeSent& c : history[0].changes)
                if (c.key == "dose_threshold") {
                    found = true;
                    QCOMPARE(c.before, thresholdBefore);
                    QCOMPARE(c.after, std::string("2.500E-03"));
                    QVERIFY(c.taken);
                }
            QVERIFY(found);
        }

        // The dose history: two history tabs and "Display as diagram".
        w.button(Action::GetDoseHistory)->click();
        QVERIFY(s.tickUntilLogged("  Archive received"));
        QCOMPARE(w.tabBar()->count(), 3);
        QVERIFY(w.button(Action::DisplayAsDiagram)->isVisible());
        QVERIFY(w.doseTable().rowCount() > 1);
        QCOMPARE(s.records()->historyDownloads(serial).size(), std::size_t(1));

        // Saving each tab into the received folder itself: the pickup leaves them alone.
        for (int tab = 0; tab < 3; ++tab) {
            w.tabBar()->setCurrentIndex(tab);
            s.dialogs.saveNames = {s.recv.filePath(QString("saved%1.txt").arg(tab)).toStdString()};
            FindAction(&w, "actionSave")->trigger();
            QVERIFY(QFileInfo(s.recv.filePath(QString("saved%1.txt").arg(tab))).size() > 0);
        }
        w.tabBar()->setCurrentIndex(0);
        s.tick();
        s.tick();
        for (int tab = 0; tab < 3; ++tab)
            QVERIFY(QFileInfo::exists(s.recv.filePath(QString("saved%1.txt").arg(tab))));

        // The language switch shows the stored replies again in Russian, not as a new
        // readout; the history tabs stay, relabelled.
        FindAction(&w, "actionRussian")->trigger();
        QCOMPARE(w.tabBar()->count(), 3);
        QCOMPARE(w.tabBar()->tabText(1), QString::fromStdString(dm::Tr(dm::IDS_DOSE_HISTORY_A, dm::Language::Russian)));
        QCOMPARE(w.windowTitle(), QString::fromUtf8("Панель управления дозиметром КРТ-17А"));
        QVERIFY(s.findRow("dose_val") >= 0);
        QVERIFY(s.actionsEnabled(true));
        FindAction(&w, "actionEnglish")->trigger();

        // The dosimeter leaves: the table stays greyed, the history stays, actions off.
        FindAction(&w, "actionSimOut")->trigger();
        s.waitFor([&] { return dm::IsNoDevice(s.link->currentDevice()); });
        s.tick();
        QVERIFY(s.newestLog().endsWith("  Dosimeter out of range."));
        QVERIFY(!w.grid().isEmpty());
        QVERIFY(w.grid().outOfRange());
        QCOMPARE(w.tabBar()->count(), 3);
        QVERIFY(w.button(Action::DisplayAsDiagram)->isVisible());
        QVERIFY(s.actionsEnabled(false));
        s.tick();
        QVERIFY(s.actionsEnabled(false));

        // And comes back: parameters again without the user.
        FindAction(&w, "actionSimIn")->trigger();
        s.waitFor([&] { return !dm::IsNoDevice(s.link->currentDevice()); });
        const int entries = s.logCount();
        s.tick();
        QVERIFY(s.loggedSince(entries, kParamsReceived));
        QCOMPARE(s.records()->readouts(serial).size(), std::size_t(3));

        // "Erase total dose" is recorded when it is pushed.
        w.button(Action::EraseTotalDose)->click();
        auto records = s.records();
        const auto history = records->history(serial);
        QCOMPARE(history.size(), std::size_t(2));
        QCOMPARE(history[1].action, std::string("erase"));
    }

    void passwordUnlocksAProtectedRow() {
        Session s;
        QVERIFY(s.arrive());
        QCOMPARE(s.findRow("csWeigth"), -1);
        s.dialogs.passwords = {std::string("64213")};
        FindAction(s.window.get(), "actionPassword")->trigger();
        QCOMPARE(s.dialogs.messages.back(), dm::Tr(dm::IDS_UNLOCK_2, dm::Language::English));
        QVERIFY(s.tickUntilLogged(kParamsReceived));
        QVERIFY(s.findRow("csWeigth") >= 0);
        QCOMPARE(s.window->access(), 2);
    }

    void editsSurviveEscapeEnterAndClosingUntilTheUserSays() {
        Session s;
        MainWindow& w = *s.window;
        QVERIFY(s.arrive());
        s.type("dose_threshold", "2.500E-03");
        // A second Enter, and Escape, in the table: no re-read, no close, no question.
        QTest::keyClick(w.gridView(), Qt::Key_Return);
        QTest::keyClick(w.gridView(), Qt::Key_Escape);
        QTest::keyClick(w.gridView(), Qt::Key_Escape);
        s.tick();
        QVERIFY(w.isVisible());
        QCOMPARE(s.sim->commandsHandled(), std::size_t(1));
        QCOMPARE(s.value("dose_threshold"), std::string("2.500E-03"));
        QVERIFY(s.dialogs.unsentQuestions.empty());

        // Re-read, language, close box: each asks; Cancel keeps all. Escape elsewhere
        // neither closes nor asks.
        w.button(Action::GetParameters)->click();
        FindAction(&w, "actionRussian")->trigger();
        w.close();
        w.statusLog()->setFocus();
        QTest::keyClick(&w, Qt::Key_Escape);
        QCOMPARE(s.dialogs.unsentQuestions.size(), std::size_t(3));
        QVERIFY(w.isVisible());
        QCOMPARE(w.language(), dm::Language::English);
        QVERIFY(FindAction(&w, "actionEnglish")->isChecked());
        QCOMPARE(s.sim->commandsHandled(), std::size_t(1));
        QCOMPARE(s.value("dose_threshold"), std::string("2.500E-03"));

        // Send from the question: the changes go, the re-read does not happen on top.
        s.dialogs.unsentAnswers = {dm::UnsentEditsAnswer::Send};
        w.button(Action::GetParameters)->click();
        s.waitFor([&] { return s.sim->commandsHandled() >= 2; });
        QVERIFY(s.tickUntilLogged(kParamsReceived));
        QCOMPARE(s.sim->commandsHandled(), std::size_t(2));
        QCOMPARE(s.value("dose_threshold"), std::string("2.500E-03"));

        // Discard: the dosimeter's value again, and Ctrl-Q closes.
        s.type("dose_threshold", "3.000E-03");
        s.dialogs.unsentAnswers = {dm::UnsentEditsAnswer::Discard};
        FindAction(&w, "actionExit")->trigger();
        QVERIFY(!w.isVisible());
        QCOMPARE(s.value("dose_threshold"), std::string("2.500E-03"));
    }

    void refusedValueStaysUnsentUntilMended() {
        Session s;
        MainWindow& w = *s.window;
        QVERIFY(s.arrive());
        s.type("dose_threshold", "abc");
        w.button(Action::SendChanges)->click();
        QCOMPARE(s.sim->commandsHandled(), std::size_t(1));
        QVERIFY(s.newestLog().contains("abc"));
        QVERIFY(s.newestLog().contains("not a number"));
        QCOMPARE(s.value("dose_threshold"), std::string("abc"));
        QVERIFY(w.badValues().count("dose_threshold"));
        QVERIFY(s.actionsEnabled(true));
        // Mended with a decimal comma: sent as a point and kept by the dosimeter.
        s.type("dose_threshold", "2,5E-03");
        QVERIFY(!w.badValues().count("dose_threshold"));
        w.button(Action::SendChanges)->click();
        QVERIFY(s.tickUntilLogged(kParamsReceived));
        QCOMPARE(s.value("dose_threshold"), std::string("2.500E-03"));
        QVERIFY(s.dialogs.messages.empty());
    }

    void valueNotKeptIsReportedOnceTheProtectedRowsReturn() {
        Session s;
        MainWindow& w = *s.window;
        QVERIFY(s.arrive());
        s.dialogs.passwords = {std::string("64213")};
        FindAction(&w, "actionPassword")->trigger();
        QVERIFY(s.tickUntilLogged(kParamsReceived));
        const std::size_t handled = s.sim->commandsHandled();
        // Kept to four decimals this is 1000.0000, out of range: the dosimeter keeps its
        // old value. The threshold it stores rounded to its precision: told, not refused.
        s.type("csWeigth", "999.99996");
        s.type("dose_threshold", "1.23456E-03");
        s.dialogs.messages.clear();
        w.button(Action::SendChanges)->click();
        // The renewed parameters carry no protected row; the window asks again with the
        // password by itself, and only then judges the protected value.
        QVERIFY(s.tickUntilLogged(kParamsReceived));
        QCOMPARE(s.findRow("csWeigth"), -1);
        QVERIFY(s.dialogs.messages.empty());
        const int entries = s.logCount();
        s.tick();
        QVERIFY(s.loggedSince(entries, kParamsReceived));
        QCOMPARE(s.sim->commandsHandled(), handled + 2);
        QCOMPARE(s.value("csWeigth"), std::string("1.0000"));
        QCOMPARE(s.value("dose_threshold"), std::string("1.235E-03"));
        QVERIFY(s.loggedSince(0, "1.23456E-03 stored as 1.235E-03", 0));
        QCOMPARE(s.dialogs.messages.size(), std::size_t(1));
        QVERIFY(QString::fromStdString(s.dialogs.messages[0]).contains(QString::fromUtf8("999.99996 → 1.0000")));
        QVERIFY(!QString::fromStdString(s.dialogs.messages[0]).contains("1.235E-03"));
        QCOMPARE(w.badValues(), std::set<std::string>{"csWeigth"});
    }

    // A box a tick opens runs the event loop, and the timer with it: the ticks in it are
    // skipped, so the reply that opened it is handled and stored once. A reply that comes
    // after the dosimeter left with its command cut short is neither shown nor stored.
    void eachReplyIsHandledOnceAndNoneAfterACutShortCommand() {
        {
            Session s;
            MainWindow& w = *s.window;
            QVERIFY(s.arrive());
            s.dialogs.passwords = {std::string("64213")};
            FindAction(&w, "actionPassword")->trigger();
            QVERIFY(s.tickUntilLogged(kParamsReceived));
            s.type("csWeigth", "999.99996"); // not kept by the dosimeter: told in a box
            s.dialogs.messages.clear();
            w.button(Action::SendChanges)->click();
            QVERIFY(s.tickUntilLogged(kParamsReceived));
            s.dialogs.whileShown = [&] {
                s.tick();
                s.tick();
            };
            const int entries = s.logCount();
            s.tick(); // the protected rows: the box opens with their reply's file still there
            QVERIFY(s.loggedSince(entries, kParamsReceived));
            s.dialogs.whileShown = nullptr;
            QCOMPARE(s.dialogs.messages.size(), std::size_t(1));
            // One readout for each parameter reply the dosimeter beamed, one per command.
            QCOMPARE(s.records()->readouts(w.parameters().serialNumber()).size(), s.sim->commandsHandled());
        }
        {
            Session s;
            MainWindow& w = *s.window;
            QVERIFY(s.arrive());
            const std::string serial = w.parameters().serialNumber();
            const std::size_t stored = s.records()->readouts(serial).size();
            const int entries = s.logCount();
            // The reply is in the folder at once, but the next tick finds the dosimeter gone
            // first: for the window it comes after the command was cut short.
            w.button(Action::GetParameters)->click();
            s.waitForReply();
            s.sim->setInRange(false);
            s.waitFor([&] { return dm::IsNoDevice(s.link->currentDevice()); });
            QVERIFY(s.loggedSince(entries, QString::fromStdString(dm::Tr(dm::IDS_OUT_OF_RANGE_CUT_SHORT, dm::Language::English)), 1));
            QVERIFY(s.loggedSince(entries, QString::fromStdString(dm::Tr(dm::IDS_LATE_REPLY_IGNORED, dm::Language::English)), 3));
            QCOMPARE(s.repliesWaiting(), 0);
            QVERIFY(w.controller().outOfRange()); // the table of before, greyed; the late reply not taken
            QCOMPARE(s.records()->readouts(serial).size(), stored);
        }
    }

    void gammaOnlyModelHasOneHistoryTab() {
        Session s(dm::Model::Mlv52b);
        QVERIFY(s.arrive());
        QCOMPARE(s.window->windowTitle(), QString("Dosimeter manager: MLV-52B"));
        s.window->button(Action::GetDoseHistory)->click();
        QVERIFY(s.tickUntilLogged("  Archive received"));
        QCOMPARE(s.window->tabBar()->count(), 2);
    }

    void silentDosimeterEndsTheExchangeOnTheFourteenthTick() {
        // Replies held back far longer than the test runs.
        Session s(dm::Model::Krt17a, 600000);
        s.waitFor([&] { return !dm::IsNoDevice(s.link->currentDevice()); });
        const QString interrupted = QString::fromStdString(dm::Tr(dm::IDS_CONNECTION_INTERRUPTED, dm::Language::English));
        s.tick(); // arrival: the request goes out on this tick
        s.waitFor([&] { return s.sim->commandsHandled() >= 1; });
        QCOMPARE(s.sim->commandsHandled(), std::size_t(1));
        for (int t = 2; t < 14; ++t) {
            s.tick();
            QVERIFY(!s.newestLog().endsWith(interrupted));
        }
        s.tick();
        QVERIFY(s.newestLog().endsWith("  " + interrupted));
        QVERIFY(s.actionsEnabled(true));
        // Erase total dose: the 18th tick.
        s.window->button(Action::EraseTotalDose)->click();
        s.waitFor([&] { return s.sim->commandsHandled() >= 2; });
        QCOMPARE(s.sim->commandsHandled(), std::size_t(2));
        QVERIFY(s.records()->dosimeters().empty()); // an erase of a dosimeter never read is not pinned on one
        QCoreApplication::processEvents(); // the recorder's word on it
        const int count = s.window->statusLog()->count(); // with "Changes sent..."
        for (int t = 1; t < 18; ++t)
            s.tick();
        QCOMPARE(s.window->statusLog()->count(), count);
        s.tick();
        QVERIFY(s.newestLog().endsWith("  " + interrupted));
    }

    // The program as a user starts it, --simulate over the IrDA stack and a pseudo-terminal
    // pair with --capture: its screenshot tour reads the parameters and the dose history
    // and closes; the capture holds both sides' connections and tshark decodes it without
    // a malformed frame.
    void simulatedRunOverIrdaLeavesACaptureTsharkDecodes() {
#ifdef _WIN32
        QSKIP("the simulated dosimeter runs over IrDA where there are pseudo-terminals");
#endif
        QTemporaryDir work;
        QProcess window;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", work.filePath("config"));
        window.setProcessEnvironment(env);
        window.setWorkingDirectory(work.path());
        const QString pcap = work.filePath("exchange.pcap");
        window.start(DM_BIN_DIR "/dosimeter-manager",
                     {"--simulate", "MLV-52B", "--capture", pcap, "--screenshots", work.path()});
        QVERIFY(window.waitForFinished(60000));
        QVERIFY2(window.exitCode() == 0, window.readAllStandardError().constData());
        QVERIFY(QFile::exists(work.filePath("window-ru-dose-history.png")));
        if (std::system("tshark -v > /dev/null 2>&1") != 0)
            QSKIP("tshark is not installed");
        QProcess tshark;
        tshark.start("tshark", {"-r", pcap});
        QVERIFY(tshark.waitForFinished(30000));
        const QString decoded = QString::fromUtf8(tshark.readAllStandardOutput());
        // Parameters and history: the computer's push and the dosimeter's beam each.
        QVERIFY2(decoded.count("SNRM") >= 4 && decoded.contains("GetValueByClass"), qPrintable(decoded.left(2000)));
        QVERIFY2(!decoded.contains("Malformed"), qPrintable(decoded.left(4000)));
    }
};

QTEST_MAIN(WindowSimTest)
#include "window_sim_test.moc"
