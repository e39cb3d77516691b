// The window's costs: from nothing to the first painted main window, next to a bare Qt
// window holding one table (the yardstick), and one exchange tick while the received
// folder holds 1000 files that are not replies.
#include "app/main_window.h"
#include "core/message_sink.h"
#include "link/device_link.h"
#include "link/received_folder_store.h"
#include "link/transport.h"

#include <QApplication>
#include <QHeaderView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <benchmark/benchmark.h>

#include <fstream>

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "bench_app";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

// A link that reports no dosimeter and no replies: the window's own cost only.
class IdleLink : public dm::ExchangeLink {
public:
    int takeLinkStatus() override { return dm::kLinkNone; }
    dm::TakenReplies pollReplyFiles() override { return {}; }
    void sendCommandFile(const std::string&) override {}
};

class NoDialogs : public dm::UserDialogs {
public:
    void showMessage(const std::string&) override {}
    bool askYesNo(const std::string&) override { return false; }
    std::optional<std::string> askSaveFileName() override { return std::nullopt; }
    std::optional<std::string> askPassword() override { return std::nullopt; }
};

void BM_MainWindowFirstPaint(benchmark::State& state) {
    App();
    IdleLink link;
    NoDialogs dialogs;
    for (auto _ : state) {
        WindowServices services;
        services.link = &link;
        services.dialogs = &dialogs;
        services.catalogueFile = DM_SOURCE_DIR "/data/Commands.lst";
        services.runTimer = false;
        MainWindow window(dm::InterfaceSettings{dm::Language::English, 0}, std::move(services));
        window.show();
        benchmark::DoNotOptimize(window.grab()); // paints every control once
    }
}
BENCHMARK(BM_MainWindowFirstPaint)->Unit(benchmark::kMillisecond);

void BM_BareWindowWithOneTableFirstPaint(benchmark::State& state) {
    App();
    for (auto _ : state) {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* table = new QTableWidget(1, 3, &window);
        table->setHorizontalHeaderLabels({"Parameter name", "Command", "Parameter value"});
        layout->addWidget(table);
        window.resize(686, 650);
        window.show();
        benchmark::DoNotOptimize(window.grab());
    }
}
BENCHMARK(BM_BareWindowWithOneTableFirstPaint)->Unit(benchmark::kMillisecond);

void BM_TickWithThousandUnrelatedFiles(benchmark::State& state) {
    App();
    QTemporaryDir folder;
    for (int i = 0; i < 1000; ++i) {
        // Text files that were there before the link started: never replies.
        std::ofstream(folder.filePath(QString("old%1P.txt").arg(i)).toStdString()) << "x";
    }
    std::string error;
    auto transport = dm::MakeTransport("tcp:127.0.0.1:9", &error);
    dm::FixedFolderStore store(folder.path().toStdString());
    dm::SilentMessages messages;
    dm::DeviceLink link(std::move(transport), store, messages, /*startDiscovery=*/false);
    dm::ExchangeLinkAdapter<dm::DeviceLink> adapter(link);
    NoDialogs dialogs;
    WindowServices services;
    services.link = &adapter;
    services.dialogs = &dialogs;
    services.catalogueFile = DM_SOURCE_DIR "/data/Commands.lst";
    services.runTimer = false;
    MainWindow window(dm::InterfaceSettings{dm::Language::English, 0}, std::move(services));
    for (auto _ : state)
        window.onTimer();
}
BENCHMARK(BM_TickWithThousandUnrelatedFiles)->Unit(benchmark::kMicrosecond);

} // namespace
