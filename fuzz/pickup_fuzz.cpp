#include "core/reply_text.h"
#include "link/exchange_cycle.h"
#include "link/device_link.h"

#include <stdlib.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

// The pickup and the exchange cycle over a received-files folder whose contents come
// from the fuzzer. The input is a script of steps, each led by a control byte:
//   % 4 == 0  write a file: name length, name bytes, suffix, text length, text bytes, age
//   % 4 == 1  one tick of the cycle
//   % 4 == 2  another program removes a file (by index)
//   % 4 == 3  a table is saved under an existing file's name (a skip name)
// After every tick, each file gone from the folder must have had its text handed to the
// observer (a reply, a dosimeter message, or as an acceptance), and one tick hands on at most
// one parameter or archive reply and one result reply.
namespace {

namespace fs = std::filesystem;

class Sink : public dm::MessageSink {
public:
    void showMessage(const std::string&) override {}
};

class Screen : public dm::ExchangeObserver {
public:
    std::multiset<std::string> handed;
    int documents = 0;
    int results = 0;
    void busy(bool) override {}
    void progress(int) override {}
    void parametersReceived(const std::string& text) override { handed.insert(text); ++documents; }
    void archiveReceived(const std::string& text) override { handed.insert(text); ++documents; }
    void dosimeterMessage(const std::string& text) override { handed.insert(text); ++results; }
    void timedOut() override {}
    void arrived() override {}
    void gone() override {}
};

// Notes the result replies the cycle takes as acceptances (alone or beside a parameter
// or archive reply): handed on without a trace.
class WatchedLink : public dm::ExchangeLinkAdapter<dm::DeviceLink> {
public:
    WatchedLink(dm::DeviceLink& link, Screen& screen) : ExchangeLinkAdapter(link), screen_(screen) {}
    dm::TakenReplies pollReplyFiles() override {
        dm::TakenReplies taken = ExchangeLinkAdapter::pollReplyFiles();
        const bool ambiguous = taken.parameters && taken.archive;
        if (!ambiguous && taken.result && taken.result->find("accepted") != std::string::npos) {
            screen_.handed.insert(*taken.result);
            ++screen_.results;
        }
        return taken;
    }

private:
    Screen& screen_;
};

const fs::path& Folder() {
    static const fs::path folder = [] {
        char pattern[] = "/tmp/dm_pickup_fuzz_XXXXXX";
        const char* made = mkdtemp(pattern);
        if (!made)
            std::abort();
        return fs::path(made);
    }();
    return folder;
}

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool more() const { return at < size; }
    std::uint8_t next() { return at < size ? data[at++] : 0; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path& folder = Folder();
    for (const auto& entry : fs::directory_iterator(folder))
        fs::remove_all(entry.path());

    Sink sink;
    dm::FixedFolderStore store(folder.string());
    dm::DeviceLink link(nullptr, store, sink, false);
    Screen screen;
    WatchedLink watched(link, screen);
    dm::ExchangeCycle cycle(watched, screen, nullptr);

    static const char kNameBytes[] = "LAPlnkx0.-_";
    static const char* const kSuffixes[] = {".txt", ".txt", ".txt", ".TXT", ".tx", ""};
    std::map<std::string, std::string> written; // name -> bytes, as this script left them
    Reader in{data, size};
    int ticks = 0;
    while (in.more() && ticks < 64) {
        const std::uint8_t step = in.next();
        switch (step % 4) {
        case 0: {
            std::string name;
            const int length = in.next() % 8 + 1;
            for (int i = 0; i < length; ++i)
                name += kNameBytes[in.next() % (sizeof kNameBytes - 1)];
            name += kSuffixes[in.next() % (sizeof kSuffixes / sizeof *kSuffixes)];
            if (name == "." || name == "..")
                break;
            std::string bytes;
            const int textLength = in.next() % 24;
            for (int i = 0; i < textLength; ++i)
                bytes += static_cast<char>(in.next());
            const int age = in.next() % 6;
            const fs::path path = folder / name;
            {
                std::ofstream out(path, std::ios::binary | std::ios::trunc);
                out << bytes;
                if (!out)
                    break;
            }
            std::error_code ec;
            fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(age), ec);
            written[name] = bytes;
            break;
        }
        case 1: {
            const int documentsBefore = screen.documents;
            const int resultsBefore = screen.results;
            cycle.tick();
            ++ticks;
            if (screen.documents - documentsBefore > 1 || screen.results - resultsBefore > 1)
                std::abort(); // more than one reply of a kind in one tick
            for (auto it = written.begin(); it != written.end();) {
                std::error_code ec;
                if (fs::exists(folder / it->first, ec) || ec) {
                    ++it;
                    continue;
                }
                const auto handed = screen.handed.find(dm::ReplyTextFromBytes(it->second));
                if (handed == screen.handed.end()) {
                    std::fprintf(stderr, "%s deleted without being handed on\n", it->first.c_str());
                    std::abort();
                }
                screen.handed.erase(handed);
                it = written.erase(it);
            }
            break;
        }
        case 2: {
            if (written.empty())
                break;
            auto it = written.begin();
            std::advance(it, in.next() % written.size());
            std::error_code ec;
            fs::remove(folder / it->first, ec);
            written.erase(it);
            break;
        }
        case 3: {
            if (written.empty())
                break;
            auto it = written.begin();
            std::advance(it, in.next() % written.size());
            link.addSkipFile(it->first);
            break;
        }
        }
    }
    return 0;
}
