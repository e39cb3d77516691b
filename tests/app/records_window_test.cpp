// The records window on the offscreen platform with scripted dialogs: a wearer added, a
// dosimeter handed out, read, erased, read again and handed back, then exported and
// printed; the doses it shows are those of the dose of record.
#include "app/records_window.h"
#include "app/main_window.h"
#include "core/string_table.h"
#include "core/text_file.h"
#include "fake_link.h"
#include "records/dose_alerts.h"
#include "records/records_thread.h"
#include "records/station_recorder.h"
#include "scripted_dialogs.h"
#include "records/utc_time.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QHeaderView>
#include <QTableView>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QThread>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

using namespace dm;
using namespace dm::records;

class ScriptedRecordsDialogs : public RecordsDialogs {
public:
    std::deque<std::optional<NewWearer>> newWearers;
    std::deque<std::optional<std::string>> wearers, files;
    std::vector<std::string> messages, questions, handedOut;
    std::vector<NewWearer> filledWith; // what each new-wearer dialog came up with
    bool yes = true;

    std::optional<NewWearer> askNewWearer(const NewWearer& typed) override {
        filledWith.push_back(typed);
        return Next(newWearers);
    }
    std::optional<std::string> askWearer(const std::string& dosimeter,
                                         const std::vector<std::pair<std::string, std::string>>&) override {
        handedOut.push_back(dosimeter);
        return Next(wearers);
    }
    std::optional<std::string> askSaveFile(const std::string&, const std::string&) override { return Next(files); }
    void showMessage(const std::string& text) override { messages.push_back(text); }
    bool askYesNo(const std::string& text) override {
        questions.push_back(text);
        return yes;
    }

private:
    template <typename T>
    static T Next(std::deque<T>& queue) {
        if (queue.empty())
            return T{};
        T v = queue.front();
        queue.pop_front();
        return v;
    }
};

// Made and ended inside the test, before the program's static objects go.
struct App {
    int argc = 1;
    char name[20] = "records_window_test";
    char* argv[2] = {name, nullptr};
    QApplication app{argc, argv};
};

std::string Cell(QTableView* t, int row, int column, int role = Qt::DisplayRole) {
    const QModelIndex at = t->model()->index(row, column);
    return at.isValid() ? at.data(role).toString().toStdString() : "<none>";
}

int Rows(QTableView* t) { return t->model()->rowCount(); }

// Lets the window's answers from the records thread arrive (a bound against a hang, not a
// time measured).
bool Settle(const RecordsWindow& window, const std::function<bool()>& also = [] { return true; }) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(window.idle() && also()) && std::chrono::steady_clock::now() < end) {
        QApplication::processEvents();
        QThread::msleep(2);
    }
    return window.idle() && also();
}

TEST(RecordsWindow, HandOutReadEraseReadHandBackExportAndPrint) {
    App app;
    QTemporaryDir dir;
    auto repo = RecordsRepository::open("sqlite:" + dir.filePath("records.sqlite").toStdString());
    std::int64_t now = *ParseUtcTime("2026-03-02T08:00:00Z");
    auto read = [&](double total) {
        repo->addReadout({"17-004217", "KRT-17A", now, {"station", "op"}, total, {}});
    };
    read(0.0010);
    ScriptedRecordsDialogs dialogs;
    RecordsThread db("sqlite:" + dir.filePath("records.sqlite").toStdString());
    RecordsWindow window(db, Language::English, &dialogs, [&] { return now; });
    auto* dosimeters = window.findChild<QTableView*>("dosimeters");
    auto* readouts = window.findChild<QTableView*>("readouts");
    auto* wearers = window.findChild<QTableView*>("wearers");
    auto click = [&](const char* name) {
        window.findChild<QPushButton*>(name)->click();
        ASSERT_TRUE(Settle(window));
    };
    ASSERT_TRUE(Settle(window));

    dialogs.newWearers = {RecordsDialogs::NewWearer{"W-01", "Petrova", "1979-13-01"},
                          RecordsDialogs::NewWearer{"W-01", "Petrova", ""}};
    click("addWearer"); // a month 13 is refused, nothing is stored, and the dialog comes back filled
    ASSERT_EQ(dialogs.messages.size(), 1u);
    ASSERT_EQ(dialogs.filledWith.size(), 2u);
    EXPECT_EQ(dialogs.filledWith[0].id, "");
    EXPECT_EQ(dialogs.filledWith[1].name, "Petrova");
    EXPECT_EQ(dialogs.filledWith[1].born, "1979-13-01");
    ASSERT_EQ(Rows(wearers), 1);

    click("handOut"); // nothing selected yet
    EXPECT_EQ(dialogs.messages.size(), 2u);
    dosimeters->selectRow(0);
    dialogs.wearers = {std::string("W-01")};
    click("handOut");
    EXPECT_EQ(dialogs.handedOut, std::vector<std::string>{"KRT-17A 17-004217"});
    EXPECT_EQ(Cell(dosimeters, 0, 3), "W-01"); // the row follows the data, and stays selected
    EXPECT_EQ(Cell(wearers, 0, 2), "17-004217");
    EXPECT_EQ(Rows(readouts), 1);

    now = *ParseUtcTime("2026-04-01T08:00:00Z");
    read(0.0050); // +4 mSv
    repo->addErase({"17-004217", now + 300, {"station", "op"}, 0.0050});
    now = *ParseUtcTime("2026-05-04T08:00:00Z");
    read(0.0030); // after the erase: +3 mSv, 7 mSv in all: the investigation level
    click("handBack");
    EXPECT_EQ(Cell(dosimeters, 0, 3), "-");
    ASSERT_EQ(Rows(readouts), 3);
    EXPECT_EQ(Cell(readouts, 2, 3), "after-erase");
    EXPECT_EQ(Cell(readouts, 2, 4), "W-01");
    // One unit per dose column, named in its heading; the local time with UTC in a tip.
    EXPECT_EQ(Cell(wearers, 0, 3), "7.000");
    EXPECT_EQ(wearers->model()->headerData(3, Qt::Horizontal).toString().toStdString(), "Dose 2026, mSv");
    EXPECT_EQ(wearers->model()->index(0, 3).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(255, 220, 130));
    EXPECT_EQ(Cell(readouts, 0, 0, Qt::ToolTipRole), "UTC: " + FormatUtcTime(*ParseUtcTime("2026-03-02T08:00:00Z")));
    EXPECT_EQ(readouts->horizontalHeader()->sectionResizeMode(3), QHeaderView::Stretch);
    click("handBack"); // it has no wearer any more: told, not thrown
    EXPECT_NE(dialogs.messages.back().find("has no wearer"), std::string::npos);

    const std::string csv = dir.filePath("doses.csv").toStdString();
    const std::string pdf = dir.filePath("W-01.pdf").toStdString();
    dialogs.files = {csv, pdf};
    click("exportDoses");
    wearers->selectRow(0);
    click("report");
    std::ifstream in(csv, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(bytes.str(), "wearer,year,dose\r\nW-01,2026,0.007\r\n");
    std::ifstream report(pdf, std::ios::binary);
    char magic[5] = {};
    report.read(magic, 4);
    EXPECT_STREQ(magic, "%PDF");
}

// In Russian every heading and cell of the window is Russian: the model, the flags, the
// unit of each dose column (chosen from its largest value), the dialog's dosimeter.
TEST(RecordsWindow, RussianTablesSayEverythingInRussian) {
    App app;
    QTemporaryDir dir;
    const std::string url = "sqlite:" + dir.filePath("records.sqlite").toStdString();
    auto repo = RecordsRepository::open(url);
    const std::int64_t at = *ParseUtcTime("2026-03-02T08:00:00Z");
    repo->addReadout({"17-004217", "KRT-17A", at, {"station", "op"}, 3.0e-7, {}});
    repo->addErase({"17-004217", at + 60, {"station", "op"}, 3.0e-7});
    repo->addReadout({"17-004217", "KRT-17A", at + 3600, {"station", "op"}, 2.5e-8, {}});
    DoseOfRecord(*repo).addWearer("W-01", "Петрова", std::nullopt);
    ScriptedRecordsDialogs dialogs;
    RecordsThread db(url);
    RecordsWindow window(db, dm::Language::Russian, &dialogs, [&] { return at + 7200; });
    auto* dosimeters = window.findChild<QTableView*>("dosimeters");
    auto* readouts = window.findChild<QTableView*>("readouts");
    auto* wearers = window.findChild<QTableView*>("wearers");
    ASSERT_TRUE(Settle(window));
    dosimeters->selectRow(0);
    ASSERT_TRUE(Settle(window, [&] { return Rows(readouts) == 2; }));
    dialogs.wearers = {std::nullopt};
    window.findChild<QPushButton*>("handOut")->click();

    std::string shown;
    for (QTableView* t : {dosimeters, readouts, wearers})
        for (int c = 0; c < t->model()->columnCount(); ++c) {
            shown += t->model()->headerData(c, Qt::Horizontal).toString().toStdString() + "|";
            for (int r = 0; r < Rows(t); ++r)
                shown += Cell(t, r, c) + "|";
        }
    EXPECT_EQ(shown.find("mkSv"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("KRT"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Полная доза, мкЗв|0.300|0.025|"), std::string::npos) << shown;
    EXPECT_EQ(Cell(dosimeters, 0, 1), "КРТ-17А");
    EXPECT_EQ(Cell(readouts, 1, 3), "после обнуления");
    EXPECT_EQ(dialogs.handedOut, std::vector<std::string>{"КРТ-17А 17-004217"});
}

// The main window says whose dosimeter answered, and tells a dose level its readout reached.
TEST(RecordsWindow, MainWindowSaysWhoseDosimeterAnsweredAndTellsADoseLevelReached) {
    App app;
    QTemporaryDir dir;
    auto repo = RecordsRepository::open("sqlite:" + dir.filePath("records.sqlite").toStdString());
    DoseOfRecord records(*repo);
    records.addWearer("W-01", "Petrova", std::nullopt);
    FakeLink link;
    ScriptedDialogs dialogs;
    WindowServices services;
    services.dialogs = &dialogs;
    services.link = &link;
    services.addSkipFile = [](const std::string&) {};
    services.catalogueFile = DM_SOURCE_DIR "/data/Commands.lst";
    services.runTimer = false;
    std::int64_t clock = *ParseUtcTime("2026-03-02T09:00:00Z");
    StationRecorder recorder("sqlite:" + dir.filePath("records.sqlite").toStdString(),
                             dir.filePath("spool.sqlite").toStdString(), {"station", "op"},
                             [&clock] { return clock += 3600; });
    recorder.setReadoutCheck(TellStoredReadout);
    services.recorder = &recorder;
    MainWindow window(InterfaceSettings{dm::Language::English, 0}, std::move(services));
    std::string reply = *TryReadFile(DM_TEST_DATA "/window-params-krt17a.txt");
    auto answer = [&] {
        link.status = kLinkPresent;
        link.statusQueue = {kLinkArrived};
        window.onTimer();
        link.deliverParams(reply);
        window.onTimer();
        recorder.waitIdle();
        QApplication::processEvents();
        std::vector<std::string> log;
        for (int i = 0; i < window.statusLog()->count(); ++i)
            log.push_back(window.statusLog()->itemText(i).toStdString());
        return log;
    };
    auto mentions = [](const std::vector<std::string>& log, const std::string& text) {
        return std::any_of(log.begin(), log.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    EXPECT_FALSE(mentions(answer(), "worn by")); // not handed out: nothing to say
    records.assign("17042", "W-01", *ParseUtcTime("2026-03-02T08:00:00Z"));
    link.status = kLinkNone;
    window.onTimer();
    EXPECT_TRUE(mentions(answer(), "KRT-17A 17042, worn by Petrova (W-01)"));

    // A readout the recorder stores that takes the wearer's year over the investigation
    // level is told at once, in the status log and in a box, once.
    reply.replace(reply.find("total_val = 4.25E-03"), 20, "total_val = 1.43E-02");
    link.status = kLinkNone;
    window.onTimer();
    answer();
    const std::string alert = "Petrova (W-01): the year's dose 10.05 mSv reached the investigation level of 6.0 mSv";
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].rfind(alert, 0), 0u) << dialogs.messages[0];
    std::vector<std::string> log;
    for (int i = 0; i < window.statusLog()->count(); ++i)
        log.push_back(window.statusLog()->itemText(i).toStdString());
    EXPECT_TRUE(mentions(log, alert));

    // Handing back the dosimeter in range offers to read it first; the hand-back waits
    // for that readout, so the readout still closes the wearer's period.
    ScriptedRecordsDialogs recordsDialogs;
    RecordsThread db("sqlite:" + dir.filePath("records.sqlite").toStdString());
    RecordsWindow records_window(db, dm::Language::English, &recordsDialogs, [] { return UtcNow(); },
                                 window.dosimeterReading());
    auto* dosimeters = records_window.findChild<QTableView*>("dosimeters");
    ASSERT_TRUE(Settle(records_window));
    dosimeters->selectRow(0);
    const std::size_t pushed = link.sent.size();
    records_window.findChild<QPushButton*>("handBack")->click();
    ASSERT_EQ(recordsDialogs.questions.size(), 1u);
    EXPECT_EQ(link.sent.size(), pushed + 1); // "Get parameters" went out
    EXPECT_EQ(Cell(dosimeters, 0, 3), "W-01");
    link.deliverParams(reply);
    window.onTimer();
    window.onTimer();
    EXPECT_TRUE(Settle(records_window, [&] { return Cell(dosimeters, 0, 3) == "-"; }));
    EXPECT_TRUE(recordsDialogs.messages.empty());
}

// The records window never waits for its database: with a server that takes the
// connection and never answers it opens at once, saying it is reading, and once the
// server is gone says why in the interface language. It is a window of its own. Beside
// the main window it shows a readout as soon as the recorder has stored it, and a wearer
// another station added once it is opened again.
TEST(RecordsWindow, NeverWaitsForTheDatabaseAndFollowsWhatIsStored) {
    App app;
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::listen(listener, 4), 0);
        socklen_t len = sizeof a;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        RecordsThread db("postgresql://station@127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/records");
        ScriptedRecordsDialogs dialogs;
        RecordsWindow window(db, dm::Language::Russian, &dialogs);
        window.show();
        bool ticked = false;
        QTimer::singleShot(20, [&] { ticked = true; });
        while (!ticked)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        auto* status = window.findChild<QLabel*>("recordsStatus");
        EXPECT_FALSE(window.idle()); // still connecting, and the window's thread is free
        EXPECT_EQ(status->text().toStdString(), Tr(IDS_RW_READING, dm::Language::Russian));
        EXPECT_EQ(window.windowType(), Qt::Window);
        EXPECT_FALSE(window.isModal());
        EXPECT_FALSE(window.windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_EQ(window.parentWidget(), nullptr);
        ASSERT_TRUE(window.windowHandle());
        EXPECT_EQ(window.windowHandle()->transientParent(), nullptr);

        ::close(listener); // the server goes: the waiting connection is reset
        ASSERT_TRUE(Settle(window));
        const std::string said = Tr(IDS_RECORDS_UNREACHABLE, dm::Language::Russian);
        EXPECT_EQ(status->text().toStdString().rfind(said.substr(0, said.find("%1")), 0), 0u)
            << status->text().toStdString();
        EXPECT_TRUE(dialogs.messages.empty()); // a look that failed is told in the window, not in a box
        window.refresh(); // opened again: it tries again
        EXPECT_FALSE(window.idle());
        EXPECT_TRUE(Settle(window));
    }

    QTemporaryDir dir;
    const std::string url = "sqlite:" + dir.filePath("records.sqlite").toStdString();
    FakeLink link;
    ScriptedDialogs dialogs;
    WindowServices services;
    services.dialogs = &dialogs;
    services.link = &link;
    services.addSkipFile = [](const std::string&) {};
    services.catalogueFile = DM_SOURCE_DIR "/data/Commands.lst";
    services.runTimer = false;
    std::int64_t clock = *ParseUtcTime("2026-03-02T09:00:00Z");
    StationRecorder recorder(url, dir.filePath("spool.sqlite").toStdString(), {"station", "op"},
                             [&clock] { return clock += 3600; });
    services.recorder = &recorder;
    MainWindow window(InterfaceSettings{dm::Language::English, 0}, std::move(services));
    RecordsThread db(url);
    ScriptedRecordsDialogs recordsDialogs;
    RecordsWindow records(db, dm::Language::English, &recordsDialogs, {}, window.dosimeterReading());
    auto* dosimeters = records.findChild<QTableView*>("dosimeters");
    auto* readouts = records.findChild<QTableView*>("readouts");
    auto* wearers = records.findChild<QTableView*>("wearers");
    ASSERT_TRUE(Settle(records));
    EXPECT_EQ(Rows(dosimeters), 0);

    std::string reply = *TryReadFile(DM_TEST_DATA "/window-params-krt17a.txt");
    link.status = kLinkPresent;
    link.statusQueue = {kLinkArrived};
    window.onTimer();
    link.deliverParams(reply);
    window.onTimer();
    EXPECT_TRUE(Settle(records, [&] { return Rows(dosimeters) == 1; }));
    dosimeters->selectRow(0);
    EXPECT_TRUE(Settle(records, [&] { return Rows(readouts) == 1; }));
    reply.replace(reply.find("total_val = 4.25E-03"), 20, "total_val = 4.50E-03");
    window.getParameters();
    link.deliverParams(reply);
    window.onTimer();
    EXPECT_TRUE(Settle(records, [&] { return Rows(readouts) == 2; })) << "the readout stored is not shown";
    EXPECT_EQ(Cell(dosimeters, 0, 4), "4.500");

    DoseOfRecord(*RecordsRepository::open(url)).addWearer("W-07", "Ivanova", std::nullopt); // another station
    records.refresh(); // as opening it again does
    EXPECT_TRUE(Settle(records, [&] { return Rows(wearers) == 1; }));
    EXPECT_EQ(Cell(wearers, 0, 1), "Ivanova");
}

} // namespace
