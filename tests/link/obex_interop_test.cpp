// The push against a real OBEX server: openobex-apps' obex_tcp in receive mode, which
// listens on TCP port 650 and stores what it receives in its working directory.
#include "link/obex_push.h"
#include "link/tcp_transport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace dm {
namespace {

namespace fs = std::filesystem;

constexpr const char* kServer = "/usr/bin/obex_tcp";

TEST(ObexInterop, ObexTcpServerStoresTheCommandFile) {
    if (::access(kServer, X_OK) != 0)
        GTEST_SKIP() << kServer << " is missing (Debian package openobex-apps)";
    const fs::path dir = fs::path(::testing::TempDir()) / ("dm_obex_tcp_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::chdir(dir.c_str()) != 0)
            ::_exit(127);
        std::freopen("/dev/null", "w", stdout);
        ::execl(kServer, kServer, static_cast<char*>(nullptr));
        ::_exit(127);
    }

    std::string text = "get_parameters=255\r\n#\r\n";
    for (int i = 0; i < 40; ++i)
        text += "key_" + std::to_string(i) + " = " + std::to_string(i * 0.5) + "\r\n";

    LinkTimeouts timeouts;
    timeouts.connect = std::chrono::milliseconds(1000);
    timeouts.receive = std::chrono::milliseconds(5000);
    TcpTransport transport("127.0.0.1", "650", timeouts);
    // The server takes one session and then ends, so nothing probes it first: the
    // push is simply retried until the server listens (a loaded machine may take seconds
    // to start it), or until it has ended without listening.
    PushReport report;
    int status = 0;
    bool ended = false;
    for (int attempt = 0; attempt < 400 && !ended; ++attempt) {
        report = PushCommandFile(transport, *transport.fixedDevice(), text);
        if (report.connected)
            break;
        ended = ::waitpid(child, &status, WNOHANG) == child;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (ended && !report.connected) {
        fs::remove_all(dir);
        GTEST_SKIP() << "obex_tcp ended without listening on port 650 (is the port taken?)";
    }

    for (int i = 0; i < 100 && !ended; ++i) {
        ended = ::waitpid(child, &status, WNOHANG) == child;
        if (!ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!ended) {
        ::kill(child, SIGTERM);
        ::waitpid(child, &status, 0);
    }

    ASSERT_TRUE(report.connected) << "obex_tcp did not listen on 127.0.0.1:650: " << report.error;
    EXPECT_TRUE(report.completed) << report.error;
    EXPECT_EQ(FormatPushReport(report), "CONNECT 0xA0\nPUT 0x90\nPUT 0xA0\nDISCONNECT 0xA0\n");
    std::ifstream in(dir / "command.txt", std::ios::binary);
    const std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(stored, text);
    fs::remove_all(dir);
}

} // namespace
} // namespace dm
