#include "app/application.h"

#include "app/link_switch.h"
#include "core/string_table.h"
#include "link/irda/adapters.h"
#include "app/qt_user_dialogs.h"
#include "app/queued_message_sink.h"
#include "app/records_window.h"
#include "app/screenshot_tour.h"
#include "app/main_window.h"
#include "app/window_options.h"
#include "core/settings_files.h"
#include "link/device_link.h"
#include "link/received_folder_store.h"
#include "link/transport.h"
#include "records/dose_alerts.h"
#include "records/call_watch.h"
#include "records/dose_of_record.h"
#include "records/records_repository.h"
#include "records/records_thread.h"
#include "records/station_recorder.h"
#ifdef DM_HAVE_SIM
#include "sim/simulated_dosimeter.h"
#ifndef _WIN32
#include "sim/irda_dosimeter.h"
#include "qt/qt_text.h"
#define DM_HAVE_PTY_SIM
#endif
#endif

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Settings moved from where earlier versions kept them, or unreadable: said on stderr,
// as no window exists yet and none of it needs an answer.
class StartupNotes : public dm::MessageSink {
public:
    void showMessage(const std::string& text) override {
        std::fprintf(stderr, "dosimeter-manager: %s\n", text.c_str());
    }
};


// Ctrl-C or a termination request closes the window the ordinary way, so the settings
// are written, the simulator stops and its folder goes.
std::atomic<bool> g_stopRequested{false};
extern "C" void RequestStop(int) { g_stopRequested = true; }

int Fail(const std::string& message) {
    std::fprintf(stderr, "dosimeter-manager: %s\n", message.c_str());
    return 2;
}

// Asked to stop by a signal, the program gives the recorder two seconds to write what it
// holds; then every database call is given up, so the rest goes to the spool and the
// program ends whatever the server does. Made before the recorder, so it outlives it.
class StopGrace {
public:
    void start() {
        thread_ = std::thread([this] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!done_changed_.wait_for(lock, std::chrono::seconds(2), [this] { return done_; }))
                dm::records::AbortDatabaseCalls();
        });
    }
    ~StopGrace() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        done_changed_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_changed_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace

int Application::run(const std::vector<std::string>& args) {
    const dm::WindowOptions options = dm::ParseWindowOptions(args);
    if (!options.error.empty())
        return Fail(options.error + "\n" + dm::WindowUsage());
    if (options.help || options.version) {
        std::fputs(options.help ? dm::WindowUsage() : dm::WindowVersion(), stdout);
        return 0;
    }

    std::string linkName = options.link.empty() ? dm::DefaultLinkName(dm::DefaultSettingsFile()) : options.link;
    // A fresh folder for the simulated dosimeter's replies, removed when the run ends.
    std::unique_ptr<QTemporaryDir> simFolder;
#ifdef DM_HAVE_SIM
    std::unique_ptr<dm::SimulatedDosimeter> simulator; // reached by OBEX over TCP
#ifdef DM_HAVE_PTY_SIM
    std::unique_ptr<dm::PtyDosimeter> irdaSimulator; // reached over the IrDA stack
    const bool overTcp = options.simulateLink == "tcp";
#else
    const bool overTcp = true; // no pseudo-terminals to run the IrDA path on
#endif
    if (options.simulate) {
        simFolder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/dosimeter-manager-XXXXXX"));
        if (!simFolder->isValid())
            return Fail("--simulate: no temporary folder for the received files can be made");
        const dm::Model model = *options.simulate;
        std::string error;
        if (overTcp) {
            simulator = std::make_unique<dm::SimulatedDosimeter>(
                model, dm::PathFromUtf8(simFolder->path().toStdString()), dm::SimOptions{});
            if (!simulator->start("127.0.0.1", 0, &error))
                return Fail("--simulate: the simulated dosimeter did not start: " + error);
            linkName = "tcp:127.0.0.1:" + std::to_string(simulator->port());
        }
#ifdef DM_HAVE_PTY_SIM
        else {
            // The real path: the stack, a serial line paced like one, the dosimeter beaming
            // its replies into the received-files folder through the window's own receiver.
            std::string path;
            irdaSimulator = dm::PtyDosimeter::Start(model, dm::SimOptions{}, true, &path, &error);
            if (!irdaSimulator)
                return Fail("--simulate: the simulated dosimeter did not start: " + error);
            linkName = "sir:" + path + "?dongle=direct";
        }
#endif
    }
#else
    if (options.simulate)
        return Fail("--simulate: this build has no simulated dosimeter");
#endif

    // The records database: with --simulate and no --db, one of the simulator's own, so
    // simulated readouts never mix with real ones.
    std::string recordsUrl;
    std::filesystem::path spoolFile;
    if (simFolder && options.db.empty()) {
        const std::filesystem::path folder = dm::PathFromUtf8(simFolder->path().toStdString()) / "records";
        recordsUrl = "sqlite:" + (folder / "records.sqlite").string();
        spoolFile = folder / "records-spool.sqlite";
    } else {
        recordsUrl = dm::records::ChooseDatabaseUrlText(
            options.db, dm::SettingsValue(dm::DefaultSettingsFile(), "Records"));
        // The spool lies beside the default database, on this station's own disk.
        spoolFile = dm::records::DefaultSpoolFile();
    }
    if (std::string urlError; !dm::records::ParseDatabaseUrl(recordsUrl, &urlError))
        return Fail("records database: " + urlError);
    StopGrace stopGrace;
    const auto recorder = std::make_unique<dm::records::StationRecorder>(recordsUrl, spoolFile);
    // Whose dosimeter answered, and a dose level its readout reached, looked up on the
    // recorder's thread: a server out of reach never holds up the window.
    recorder->setReadoutCheck(dm::records::TellStoredReadout);

    // The program's one device link exists before the window, as the pickup must know
    // the files already in the received-files folder before anything is asked.
    std::unique_ptr<dm::ReceivedFolderStore> store;
    if (simFolder)
        store = std::make_unique<dm::FixedFolderStore>(simFolder->path().toStdString());
    else
        store = dm::MakeReceivedFolderStore();
    QueuedMessageSink linkMessages;
    // Links with a receiver of their own (sir:, usb-irda) write into the received-files folder.
    dm::TransportOptions transportOptions;
    transportOptions.receivedFolder = dm::ReadReceivedFilesFolder(*store).value_or("");
    SwitchableLink link(
        [transportOptions](const std::string& name, std::string* error) {
            return dm::MakeTransport(name, transportOptions, error);
        },
        *store, linkMessages);
    std::string error;
    if (!link.open(linkName, &error))
        return Fail("--link: " + error);
    if (!options.capture.empty() && !link.startCapture(options.capture, &error))
        return Fail("--capture: " + error);

    // Settings are read before the window, so their notes are in English. Earlier
    // versions kept them in the working folder: found there, they are moved.
    StartupNotes startup;
    const std::filesystem::path settingsDir = dm::DefaultSettingsFolder();
    std::error_code cwdError;
    const dm::InterfaceSettings settings =
        dm::LoadSettingsAtStart(settingsDir, std::filesystem::current_path(cwdError), startup);

    WindowServices services;
    services.link = &link;
    services.addSkipFile = [&link](const std::string& name) { link.addSkipFile(name); };
    // A pick in the Link menu takes effect at once; it is remembered unless a simulated
    // dosimeter runs (its link lasts only as long as the run).
    const std::filesystem::path rememberIn = simFolder ? std::filesystem::path() : dm::DefaultSettingsFile();
    services.linkMenu.choices = [&link] { return dm::irda::LinkChoices(dm::irda::ListAdapters(), link.linkName()); };
    services.linkMenu.choose = [&link, rememberIn](const std::string& name, dm::Language language) {
        return ChooseLink(link, name, rememberIn, language);
    };
    services.linkMenu.captureState = [&link] {
        return LinkMenuServices::CaptureState{link.canCapture(), link.capturePath(), link.linkName()};
    };
    services.linkMenu.startCapture = [&link](const std::string& file, dm::Language language) {
        return StartLinkCapture(link, file, language);
    };
    services.linkMenu.stopCapture = [&link](dm::Language language) { return StopLinkCapture(link, language); };
    services.lookingOn = link.transportName();
    if (linkName == "irda" && link.transportName() != "irda")
        services.linkNote = dm::FillIn(dm::Tr(dm::IDS_LINK_FELL_BACK, settings.language), {link.transportName()});
    if (!options.capture.empty()) {
        const std::string note = dm::FillIn(dm::Tr(dm::IDS_CAPTURE_STARTED, settings.language), {options.capture});
        services.linkNote += (services.linkNote.empty() ? "" : " ") + note;
    }
    services.recorder = recorder.get();
#ifdef DM_HAVE_SIM
    if (simulator)
        services.simulatorInRange = [&simulator](bool in) { simulator->setInRange(in); };
#ifdef DM_HAVE_PTY_SIM
    if (irdaSimulator)
        services.simulatorInRange = [&irdaSimulator](bool in) { irdaSimulator->setInRange(in); };
#endif
#endif
    // The records window: one, a window of its own beside the main one, reading the
    // database on a thread of its own (made on first use).
    std::unique_ptr<dm::records::RecordsThread> recordsThread;
    std::unique_ptr<dm::RecordsWindow> recordsWindow;
    services.openRecords = [&](dm::Language language, dm::DosimeterReading reading) {
        if (recordsWindow && recordsWindow->language() != language)
            recordsWindow.reset();
        if (!recordsThread)
            recordsThread = std::make_unique<dm::records::RecordsThread>(recordsUrl);
        if (recordsWindow)
            recordsWindow->refresh(); // what another station did since it was opened
        else
            recordsWindow = std::make_unique<dm::RecordsWindow>(*recordsThread, language, nullptr,
                                                                std::function<dm::records::UtcSeconds()>(),
                                                                std::move(reading));
        recordsWindow->show();
        recordsWindow->raise();
        recordsWindow->activateWindow();
    };
    dm::InterfaceSettings finalSettings;
    bool toured = true;
    std::string settingsError;
    {
        MainWindow window(settings, std::move(services));
        linkMessages.setWindow(&window);
        std::signal(SIGINT, RequestStop);
        std::signal(SIGTERM, RequestStop);
        QTimer stopWatch;
        QObject::connect(&stopWatch, &QTimer::timeout, &window, [&window] {
            if (g_stopRequested)
                window.reject();
        });
        stopWatch.start(200);
        std::unique_ptr<ScreenshotTour> tour;
        if (!options.screenshots.empty())
            tour = std::make_unique<ScreenshotTour>(window, dm::Q(options.screenshots));
        window.exec();
        recordsWindow.reset(); // it asks the main window about the dosimeter in range
        finalSettings = window.settings();
        toured = !tour || tour->succeeded();
        stopWatch.stop();
        // Saved while the window is still there, so a failure is told in its box; not when
        // the end was asked by a signal or a tour runs, as nobody is there to close the box.
        QtUserDialogs dialogs(&window);
        dm::SilentMessages quiet;
        const bool unattended = g_stopRequested || tour;
        if (g_stopRequested)
            stopGrace.start();
        settingsError = dm::SaveSettingsAtExit(settingsDir, finalSettings,
                                               unattended ? static_cast<dm::MessageSink&>(quiet) : dialogs);
        if (!settingsError.empty())
            std::fprintf(stderr, "dosimeter-manager: %s\n", settingsError.c_str());
    }
#ifdef DM_HAVE_SIM
    if (simulator)
        simulator->stop();
#endif
    return toured && settingsError.empty() ? 0 : 1;
}
