// Reply files that grow while the pickup polls the folder. A writer thread beams files
// one after another, in chunks of random size with random pauses, while polls run as
// fast as they can, also in the middle of a write. The one thing a transfer must give is
// that it keeps going: between the end of one poll and the start of the next, the file
// being written grows (a real transfer writes many times a second, the pickup looks once
// a second). Under that, no file may be taken before it is whole, none may be deleted
// before it was read whole, and each must be taken exactly once.
#include "core/reply_text.h"
#include "link/link_status.h"
#include "link/reply_pickup.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace dm {
namespace {

struct Beamed {
    std::string name;
    char letter;
    std::string bytes;
};

class Beamer {
public:
    Beamer(std::filesystem::path folder, std::vector<Beamed> files, unsigned seed)
        : folder_(std::move(folder)), files_(std::move(files)), random_(seed) {}
    ~Beamer() { join(); } // also when a failed check leaves the test early

    void start() { thread_ = std::thread([this] { run(); }); }
    void join() {
        if (thread_.joinable())
            thread_.join();
    }
    std::uint64_t started() const { return started_.load(); }
    std::uint64_t completed() const { return completed_.load(); }
    bool done() const { return done_.load(); }

private:
    // One step of the transfer: counted before and after, so the poller can tell a step
    // that began after a poll ended.
    template <class Step>
    void step(Step&& s) {
        started_.fetch_add(1);
        s();
        completed_.fetch_add(1);
        const int pause = static_cast<int>(random_() % 400);
        if (pause < 100)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(pause - 100));
    }

    void run() {
        for (const Beamed& file : files_) {
            int fd = -1;
            const std::string path = (folder_ / file.name).string();
            step([&] { fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); });
            if (fd < 0)
                break;
            std::size_t at = 0;
            while (at < file.bytes.size()) {
                std::size_t n = 1 + random_() % (random_() % 4 == 0 ? 9000 : 700);
                n = std::min(n, file.bytes.size() - at);
                step([&] {
                    const ssize_t w = ::write(fd, file.bytes.data() + at, n);
                    at += w > 0 ? static_cast<std::size_t>(w) : 0;
                });
            }
            ::close(fd);
        }
        done_.store(true);
    }

    std::filesystem::path folder_;
    std::vector<Beamed> files_;
    std::mt19937 random_;
    std::atomic<std::uint64_t> started_{0};
    std::atomic<std::uint64_t> completed_{0};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

std::string RandomReplyBytes(std::mt19937& random) {
    const std::size_t size = random() % 5 == 0 ? 8192 * (1 + random() % 3) : 1 + random() % 30000;
    std::string bytes;
    while (bytes.size() < size) {
        const unsigned r = random() % 40;
        if (r == 0)
            bytes += "\r\n";
        else if (r == 1)
            bytes += '\n';
        else if (r == 2)
            bytes += '\0';
        else
            bytes += static_cast<char>(0x20 + random() % 0xDF); // Windows-1251 letters too
    }
    bytes.resize(size);
    return bytes;
}

// watched: the folder is watched and every other look is one between polls, which
// takes only what the writer has closed.
void BeamWhilePolling(bool watched) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("dm-faults-growing-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    SilentMessages quiet;
    ReplyPickup pickup(quiet);
    pickup.rememberExistingFiles(folder);
    if (watched) {
        ASSERT_TRUE(pickup.watch(folder));
    }

    std::mt19937 random(::testing::UnitTest::GetInstance()->random_seed());
    constexpr int kRounds = 25;
    for (int round = 0; round < kRounds && !::testing::Test::HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // The three kinds, in random order, as one transfer after another.
        std::vector<Beamed> files{{"P" + std::to_string(round) + ".txt", 'P', RandomReplyBytes(random)},
                                  {"A" + std::to_string(round) + ".txt", 'A', RandomReplyBytes(random)},
                                  {"L" + std::to_string(round) + ".txt", 'L', RandomReplyBytes(random)}};
        std::shuffle(files.begin(), files.end(), random);
        std::map<char, std::string> expected;
        for (const Beamed& f : files)
            expected[f.letter] = ReplyTextFromBytes(f.bytes);
        std::map<char, int> taken;

        Beamer beamer(folder, files, static_cast<unsigned>(random()));
        beamer.start();
        int pollsAfterDone = 0;
        for (int poll = 0; poll < 100000; ++poll) {
            const TakenReplies took = watched && poll % 2 ? pickup.pollFinished(folder) : pickup.poll(folder);
            pickup.delivered({took.result.has_value(), took.archive.has_value(), took.parameters.has_value()});
            const std::uint64_t startedAfterPoll = beamer.started();
            const std::map<char, const std::optional<std::string>*> got{
                {'A', &took.archive}, {'P', &took.parameters}, {'L', &took.result}};
            for (const auto& [letter, text] : got) {
                if (!*text)
                    continue;
                ++taken[letter];
                ASSERT_EQ(taken[letter], 1) << letter << " file taken twice";
                ASSERT_EQ((*text)->size(), expected[letter].size()) << letter << " file taken before it was whole";
                ASSERT_TRUE(**text == expected[letter]) << letter << " file text differs";
            }
            if (beamer.done()) {
                if (taken.size() == 3)
                    break;
                ASSERT_LT(++pollsAfterDone, 10) << "finished files are not taken";
                continue;
            }
            // Let the transfer make one step that begins after this poll ended.
            for (int wait = 0; beamer.completed() <= startedAfterPoll && !beamer.done(); ++wait) {
                ASSERT_LT(wait, 500000) << "the writer stalled";
                std::this_thread::sleep_for(std::chrono::microseconds(10));
            }
        }
        beamer.join();
        EXPECT_EQ(taken.size(), 3u);
        EXPECT_TRUE(std::filesystem::is_empty(folder)) << "a reply file was left behind";
    }
    std::filesystem::remove_all(folder);
}

TEST(GrowingReplyFiles, AreTakenOnlyWholeAndExactlyOnce) { BeamWhilePolling(false); }
TEST(GrowingReplyFiles, AreTakenOnlyWholeAndExactlyOnceWhenTheFolderIsWatched) { BeamWhilePolling(true); }

} // namespace
} // namespace dm
