// The "simulate" subcommand as scripts use it: a separate process, stopped by signal.
#include "core/text_file.h"
#include "../sim/obex_test_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>

namespace dm {
namespace {

namespace fs = std::filesystem;

const std::string kCli = std::string(DM_BIN_DIR) + "/dosimeter-cli";

// A child process with its stdout and stderr on pipes.
class Child {
public:
    explicit Child(const std::vector<std::string>& args) {
        int out[2], err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::close(out[0]);
            ::close(err[0]);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(kCli.c_str()));
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(kCli.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Child() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            ::close(out_);
        if (err_ >= 0)
            ::close(err_);
    }

    // One line of stdout (without its LF); empty on end or after the time-out.
    std::string readLine(int timeoutMs = 10000) {
        std::string line;
        char c;
        while (true) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0 || ::read(out_, &c, 1) != 1 || c == '\n')
                return line;
            line += c;
        }
    }

    // Exit status, or -1 when it has not ended within the time-out (it is then killed).
    int wait(int timeoutMs = 10000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
    }

    std::string stderrText() {
        std::string text;
        char buf[512];
        ssize_t n;
        while ((n = ::read(err_, buf, sizeof buf)) > 0)
            text.append(buf, static_cast<std::size_t>(n));
        return text;
    }

    void signal(int sig) { ::kill(pid_, sig); }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int status_ = -1;
};

class SimulateCommand : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/dm-sim-cli-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    static std::uint16_t PortOf(const std::string& line) {
        const auto colon = line.rfind(':', line.find(", replies"));
        return static_cast<std::uint16_t>(std::stoi(line.substr(colon + 1)));
    }
    fs::path root_;
};

TEST_F(SimulateCommand, ServesUntilSignalledAndKeepsItsState) {
    const fs::path state = root_ / "state.txt";
    const fs::path recv = root_ / "recv";
    for (int sig : {SIGTERM, SIGINT}) {
        Child sim({"simulate", "--model", "KRT-17A", "--listen", "127.0.0.1:0", "--recv-dir",
                   recv.string(), "--records", "3", "--state", state.string(), "--reply-delay", "0",
                   "--catalogue", std::string(DM_SOURCE_DIR) + "/data/Commands.lst"});
        const std::string line = sim.readLine();
        ASSERT_NE(line.find("listening on 127.0.0.1:"), std::string::npos) << line;
        const std::uint16_t port = PortOf(line);
        const auto codes = test::PushLikeManager(port, "get_parameters=255\r\n#\r\n").codes;
        EXPECT_EQ(codes, (std::vector<int>{0xA0, 0x90, 0xA0, 0xA0}));
        sim.signal(sig);
        EXPECT_EQ(sim.wait(), 0) << sim.stderrText();
        EXPECT_TRUE(fs::exists(state));
    }
    int parameterReplies = 0;
    for (const auto& entry : fs::directory_iterator(recv)) {
        const std::string text = TryReadFile(entry.path()).value_or("");
        EXPECT_NE(text.find("history_depth_gma = 3\r\n"), std::string::npos);
        ++parameterReplies;
    }
    EXPECT_EQ(parameterReplies, 2);
}

TEST_F(SimulateCommand, UsageAndStartFailuresHaveTheirExitCodes) {
    const std::string recv = (root_ / "recv").string();
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string message;
    };
    const fs::path broken = root_ / "broken";
    std::ofstream(broken) << "not a state\n";
    const std::vector<Case> cases{
        {{"simulate", "--listen", "127.0.0.1:0", "--recv-dir", recv}, 2, "--model"},
        {{"simulate", "--model", "KRT-17B", "--listen", "127.0.0.1:0", "--recv-dir", recv},
         2,
         "KRT-17B"},
        {{"simulate", "--model", "MLV-52B", "--recv-dir", recv}, 2, "--listen"},
        {{"simulate", "--model", "MLV-52B", "--listen", "127.0.0.1", "--recv-dir", recv},
         2,
         "--listen"},
        {{"simulate", "--model", "MLV-52B", "--listen", "127.0.0.1:70000", "--recv-dir", recv},
         2,
         "70000"},
        {{"simulate", "--model", "MLV-52B", "--listen", "127.0.0.1:0", "--recv-dir", recv,
          "--records", "10001"},
         2,
         "--records"},
        {{"simulate", "--model", "MLV-52B", "--listen", "127.0.0.1:0", "--recv-dir", recv,
          "--state", broken.string()},
         2,
         "broken"},
        {{"simulate", "--model", "MLV-52B", "--listen", "no.such.host.invalid:0", "--recv-dir",
          recv},
         1,
         "no.such.host.invalid"},
        {{"simulate", "--model", "MLV-52B", "--listen", "127.0.0.1:0", "--recv-dir",
          (broken / "sub").string()},
         1,
         "received-files folder"},
    };
    for (const auto& c : cases) {
        Child child(c.args);
        EXPECT_EQ(child.wait(), c.exit) << c.args[1] << " " << c.message;
        const std::string err = child.stderrText();
        EXPECT_EQ(err.rfind("dosimeter-cli: ", 0), 0u) << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
    Child help({"simulate", "--help"});
    EXPECT_NE(help.readLine().find("usage: dosimeter-cli simulate"), std::string::npos);
    EXPECT_EQ(help.wait(), 0);
}

} // namespace
} // namespace dm
