// A program killed with SIGKILL the moment it has taken a reply (its file deleted) leaves
// the reading in the station's spool: the window with its simulated dosimeter, and
// read-params. Both store into a PostgreSQL server that takes the connection and never
// answers, so nothing can reach the database before the kill.
#include "core/settings_files.h"
#include "core/string_table.h"
#include "records/records_repository.h"
#include "records/station_recorder.h"
#include "sim/simulated_dosimeter.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Listens, and never accepts: the kernel completes the connection, nobody answers it.
class SilentServer {
public:
    SilentServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 16);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~SilentServer() { ::close(fd_); }
    std::string url() const { return "postgresql://station@127.0.0.1:" + std::to_string(port_) + "/records"; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Tells the moment a reply file of one letter leaves a folder.
class DeleteWatch {
public:
    explicit DeleteWatch(const fs::path& folder) {
        fd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        ::inotify_add_watch(fd_, folder.c_str(), IN_DELETE | IN_MOVED_FROM);
    }
    ~DeleteWatch() { ::close(fd_); }
    bool waitForDeleted(char letter, std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            alignas(inotify_event) char buffer[4096];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            for (ssize_t at = 0; n > 0 && at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                const std::string name = e->len ? e->name : "";
                if (!name.empty() && name[0] == letter && name.size() > 4 && name.substr(name.size() - 4) == ".txt")
                    return true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        return false;
    }

private:
    int fd_ = -1;
};

// Starts a program in `work` with the test's own data, settings and temporary folders.
pid_t Start(const std::vector<std::string>& args, const fs::path& work) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        if (v.rfind("XDG_DATA_HOME=", 0) && v.rfind("XDG_CONFIG_HOME=", 0) && v.rfind("TMPDIR=", 0) &&
            v.rfind("DOSIMETER_RECORDS=", 0))
            env.push_back(v);
    }
    env.push_back("XDG_DATA_HOME=" + (work / "data").string());
    env.push_back("XDG_CONFIG_HOME=" + (work / "config").string());
    env.push_back("TMPDIR=" + (work / "tmp").string());
    env.push_back("QT_QPA_PLATFORM=offscreen");
    std::vector<std::string> all = args;
    std::vector<char*> argv, envp;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string out = (work / "out.txt").string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(work.c_str()) != 0)
            ::_exit(126);
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

void KillNow(pid_t pid) {
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

fs::path FreshFolder(const std::string& name) {
    const fs::path work = fs::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
    fs::remove_all(work);
    fs::create_directories(work / "tmp");
    return work;
}

// What waits in the station's spool of a run in `work`.
std::vector<dm::records::SpoolRow> Spooled(const fs::path& work) {
    dm::records::EnsureQtCoreApplication("reading_kill_test");
    const fs::path file = work / "data" / "dosimeter-manager" / "records-spool.sqlite";
    if (!fs::exists(file))
        return {};
    return dm::records::RecordSpool(file).all();
}

void ExpectOneReadoutOf(const std::vector<dm::records::SpoolRow>& rows, const std::string& database) {
    ASSERT_EQ(rows.size(), 1u) << "the reading is not in the spool";
    ASSERT_TRUE(rows[0].entry);
    const auto* readout = std::get_if<dm::records::ReadoutInput>(&*rows[0].entry);
    ASSERT_TRUE(readout);
    EXPECT_EQ(readout->serial, "17-004217");
    EXPECT_FALSE(readout->parameters.empty());
    EXPECT_EQ(rows[0].database, dm::records::SpoolDatabaseKey(database));
}

TEST(ReadingKilledRightAfterItsReplyWasTaken, WaitsInTheSpool) {
    SilentServer server;

    // read-params: killed while it tries to store what it printed.
    {
        const fs::path work = FreshFolder("dm-kill-read-params");
        fs::create_directories(work / "recv");
        dm::SimOptions options;
        options.catalogue = DM_SOURCE_DIR "/data/Commands.lst";
        dm::SimulatedDosimeter sim(dm::Model::Krt17a, work / "recv", options);
        std::string error;
        ASSERT_TRUE(sim.start("127.0.0.1", 0, &error)) << error;
        DeleteWatch watch(work / "recv");
        const pid_t pid = Start({DM_BIN_DIR "/dosimeter-cli", "read-params", "--link",
                                 "tcp:127.0.0.1:" + std::to_string(sim.port()), "--recv-dir",
                                 (work / "recv").string(), "--db", server.url()},
                                work);
        const bool taken = watch.waitForDeleted('P', 30s);
        KillNow(pid);
        sim.stop();
        ASSERT_TRUE(taken) << "read-params never took a reply";
        ExpectOneReadoutOf(Spooled(work), server.url());
        fs::remove_all(work);
    }

    // The window: its simulated dosimeter comes into range, the window reads it at once.
    {
        const fs::path work = FreshFolder("dm-kill-window");
        ASSERT_TRUE(dm::SaveInterfaceSettings(work, dm::InterfaceSettings{dm::Language::English, 0}));
        const pid_t pid = Start({DM_BIN_DIR "/dosimeter-manager", "--simulate", "KRT-17A", "--db", server.url()}, work);
        // The simulator's received-files folder, made at the start.
        fs::path folder;
        for (int i = 0; i < 3000 && folder.empty(); ++i) {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(work / "tmp", ec))
                if (entry.path().filename().string().rfind("dosimeter-manager-", 0) == 0)
                    folder = entry.path();
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_FALSE(folder.empty()) << "the window did not start its simulator";
        DeleteWatch watch(folder);
        const bool taken = watch.waitForDeleted('P', 30s);
        KillNow(pid);
        ASSERT_TRUE(taken) << "the window never took a reply";
        ExpectOneReadoutOf(Spooled(work), server.url());
        fs::remove_all(work);
    }
}

} // namespace
