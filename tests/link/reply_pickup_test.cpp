// Reply-file pickup and the received-files settings, in a temporary folder.
#include "link/device_link.h"
#include "link/reply_pickup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

namespace dm {
namespace {

namespace fs = std::filesystem;

class RecordingSink : public MessageSink {
public:
    void showMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

fs::path FreshDir(const std::string& name) {
    const fs::path dir = fs::path(::testing::TempDir()) /
                         ("dm_link_" + name + "_" + std::to_string(std::random_device{}()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

void Write(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Stamps a file with a time in the past, as a finished transfer leaves it.
void Age(const fs::path& file, int seconds) {
    fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::seconds(seconds));
}

// What a look took in, by the letters of its kinds ("P", "PL", "" for nothing); the texts go
// where the test keeps them.
std::string Took(const TakenReplies& r, std::string* result, std::string* archive, std::string* param) {
    if (r.result) *result = *r.result;
    if (r.archive) *archive = *r.archive;
    if (r.parameters) *param = *r.parameters;
    return std::string(r.parameters ? "P" : "") + (r.archive ? "A" : "") + (r.result ? "L" : "");
}

ReplyKinds Kinds(const std::string& letters) {
    ReplyKinds k;
    k.parameters = letters.find('P') != std::string::npos;
    k.archive = letters.find('A') != std::string::npos;
    k.result = letters.find('L') != std::string::npos;
    return k;
}

class Pickup : public ::testing::Test {
protected:
    Pickup() : dir(FreshDir("pickup")), pickup(sink) {}
    ~Pickup() override { fs::remove_all(dir); }

    std::string poll() { return Took(pickup.poll(dir), &result, &archive, &param); }
    std::string pollFinished() { return Took(pickup.pollFinished(dir), &result, &archive, &param); }
    void delivered(const std::string& letters) { pickup.delivered(Kinds(letters)); }
    // A new file is taken in by the second look that sees it unchanged.
    std::string pollTwice() {
        const std::string first = poll();
        EXPECT_EQ(first, "");
        return poll();
    }

    fs::path dir;
    RecordingSink sink;
    ReplyPickup pickup;
    std::string result, archive, param;
};

TEST_F(Pickup, NewFileIsTakenInAtTheSecondLookAndDeletedOnceHandedOn) {
    Write(dir / "P1.txt", "a=1\n");
    EXPECT_EQ(poll(), "");
    EXPECT_TRUE(fs::exists(dir / "P1.txt"));
    EXPECT_EQ(poll(), "P");
    EXPECT_EQ(param, "a=1\r\n");
    EXPECT_TRUE(fs::exists(dir / "P1.txt"));
    // Not handed on: offered again.
    param.clear();
    EXPECT_EQ(poll(), "P");
    EXPECT_EQ(param, "a=1\r\n");
    delivered("P");
    EXPECT_FALSE(fs::exists(dir / "P1.txt"));
    EXPECT_EQ(poll(), "");

}

// A reply and a foreign file of its letter ready in one poll, in either order, and a
// result reply beside them: one of a kind per poll, oldest first, none deleted unread.
TEST_F(Pickup, FilesOfOneKindComeOnePerPollOldestFirst) {
    for (const bool replyFirst : {true, false}) {
        Write(dir / "P17-1.txt", "genuine");
        Age(dir / "P17-1.txt", replyFirst ? 20 : 10);
        Write(dir / "Pevil.txt", "foreign");
        Age(dir / "Pevil.txt", replyFirst ? 10 : 20);
        Write(dir / "L1.txt", "result");
        EXPECT_EQ(pollTwice(), "PL");
        EXPECT_EQ(param, replyFirst ? "genuine" : "foreign");
        delivered("P"); // the result was not looked at: it stays
        EXPECT_EQ(poll(), "PL");
        EXPECT_EQ(param, replyFirst ? "foreign" : "genuine");
        delivered("PL");
        EXPECT_TRUE(fs::is_empty(dir));
    }
}

TEST_F(Pickup, TwoProgramsOnOneFolderBothGetAReply) {
    ReplyPickup other(sink);
    std::string otherParam;
    Write(dir / "P1.txt", "one");
    Write(dir / "P2.txt", "two");
    Age(dir / "P1.txt", 5);
    Age(dir / "P2.txt", 4);
    EXPECT_TRUE(pickup.poll(dir).empty());
    EXPECT_TRUE(other.poll(dir).empty());
    delivered(poll());
    other.delivered(Kinds(Took(other.poll(dir), &result, &archive, &otherParam)));
    EXPECT_EQ(param, "one");
    EXPECT_EQ(otherParam, "two");
    EXPECT_TRUE(fs::is_empty(dir));
}

// Counted, not timed: each poll of a flood hands on one file and deletes only that one.
TEST_F(Pickup, FloodOfLookalikesIsTakenOneFilePerPoll) {
    Write(dir / "P0.txt", "genuine");
    Age(dir / "P0.txt", 30);
    constexpr std::size_t kFlood = 10000;
    for (std::size_t i = 0; i < kFlood; ++i)
        Write(dir / ("Pnew" + std::to_string(i) + ".txt"), "flood");
    EXPECT_EQ(poll(), "");
    for (std::size_t taken = 1; taken <= 2; ++taken) {
        delivered(poll());
        EXPECT_EQ(param, taken == 1 ? "genuine" : "flood");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), kFlood + 1 - taken);
    }
}

TEST_F(Pickup, LettersAndWeights) {
    Write(dir / "L_res.txt", "accepted");
    Write(dir / "A_arc.txt", "archive");
    Write(dir / "xyz.txt", "nothing"); // no letter: ignored, left in place
    Write(dir / "pal.txt", "lower case letters do not count");
    Write(dir / "P.TXT", "not a .txt name on this platform");
    EXPECT_EQ(pollTwice(), "AL");
    EXPECT_EQ(result, "accepted");
    EXPECT_EQ(archive, "archive");
    EXPECT_TRUE(fs::exists(dir / "xyz.txt"));
    EXPECT_TRUE(fs::exists(dir / "pal.txt"));
    EXPECT_TRUE(param.empty());
}

TEST_F(Pickup, NameWithTwoLettersIsReadOnceIntoTheFirstSlot) {
    // Tested in the order L, A, P: the first read deletes the file, so the second finds
    // nothing and counts nothing rather than a "No File" text.
    Write(dir / "PL.txt", "message");
    EXPECT_EQ(pollTwice(), "L");
    EXPECT_EQ(result, "message");
    EXPECT_TRUE(param.empty());
}

TEST_F(Pickup, FilesPresentAtStartAndSavedTablesAreNeverTaken) {
    Write(dir / "Pold.txt", "old");
    pickup.rememberExistingFiles(dir);
    pickup.addSkipFile("Params.txt");
    Write(dir / "Params.txt", "saved table");
    EXPECT_EQ(pollTwice(), "");
    // Replaced later by a file of the same name: still not taken.
    Write(dir / "Pold.txt", "beamed again");
    EXPECT_EQ(pollTwice(), "");
    EXPECT_TRUE(fs::exists(dir / "Pold.txt"));
    EXPECT_TRUE(fs::exists(dir / "Params.txt"));
    EXPECT_EQ(pickup.skipFiles(), (std::vector<std::string>{"Pold.txt", "Params.txt"}));
    // The skip list compares names exactly.
    Write(dir / "params.txt", "x");
    Write(dir / "Params2.txt", "y");
    EXPECT_EQ(pollTwice(), "P");
}

TEST_F(Pickup, BytesBecomeReplyText) {
    std::string bytes = std::string("a\0b\r\nc\nd", 8) + "\xC4\xEE\xE7\xE0"; // "Доза" in Windows-1251
    Write(dir / "P.txt", bytes);
    EXPECT_EQ(pollTwice(), "P");
    EXPECT_EQ(param, "a b\r\r\nc\r\nd\xD0\x94\xD0\xBE\xD0\xB7\xD0\xB0");
}

TEST_F(Pickup, ChunkBoundariesLoseNothing) {
    for (std::size_t size : {8191u, 8192u, 8193u, 16384u, 100000u}) {
        std::string bytes(size, 'x');
        bytes[size - 1] = 'z';
        Write(dir / "P.txt", bytes);
        EXPECT_EQ(pollTwice(), "P") << size;
        EXPECT_EQ(param, bytes) << size;
    }
}

TEST_F(Pickup, FileStillGrowingIsNotTakenUntilItStops) {
    const fs::path file = dir / "A.txt";
    Write(file, "first half\n");
    Age(file, 10);
    EXPECT_EQ(poll(), "");
    {
        std::ofstream out(file, std::ios::binary | std::ios::app);
        out << "second half\n";
    }
    Age(file, 5); // changed size and time since the last look
    EXPECT_EQ(poll(), "");
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(poll(), "A");
    EXPECT_EQ(archive, "first half\r\nsecond half\r\n");

    // Same size, newer time (rewritten in place): waits again.
    Write(file, "0123456789");
    Age(file, 10);
    EXPECT_EQ(poll(), "");
    Write(file, "abcdefghij");
    Age(file, 3);
    EXPECT_EQ(poll(), "");
    EXPECT_EQ(poll(), "A");
    EXPECT_EQ(archive, "abcdefghij");
}

TEST_F(Pickup, UnreadableFileIsNotCountedAndIsReadLater) {
    const fs::path file = dir / "P.txt";
    Write(file, "later");
    fs::permissions(file, fs::perms::none);
    if (std::ifstream(file).is_open())
        GTEST_SKIP() << "running with rights that read any file; cannot make one unreadable";
    EXPECT_EQ(pollTwice(), "");
    EXPECT_TRUE(param.empty());
    EXPECT_TRUE(fs::exists(file));
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(poll(), "P");
    EXPECT_EQ(param, "later");
}

TEST_F(Pickup, EmptyFileWaitsForItsContent) {
    const fs::path file = dir / "P.txt";
    Write(file, "");
    Age(file, 10);
    EXPECT_EQ(pollTwice(), "");
    EXPECT_EQ(poll(), "");
    EXPECT_TRUE(fs::exists(file));
    Write(file, "now");
    EXPECT_EQ(pollTwice(), "P");
    EXPECT_EQ(param, "now");
}

TEST_F(Pickup, FolderEntryThatIsNotAFileIsIgnored) {
    fs::create_directories(dir / "P.txt");
    EXPECT_EQ(pollTwice(), "");
    EXPECT_TRUE(fs::is_directory(dir / "P.txt"));
}

TEST_F(Pickup, LnkPathIsReadButNotDeleted) {
    const fs::path lnkDir = dir / "lnkbox";
    fs::create_directories(lnkDir);
    Write(lnkDir / "P.txt", "stays");
    EXPECT_TRUE(pickup.poll(lnkDir).empty());
    EXPECT_EQ(pickup.poll(lnkDir).parameters, "stays");
    EXPECT_EQ(pickup.poll(lnkDir).parameters, "stays");
    EXPECT_TRUE(fs::exists(lnkDir / "P.txt"));
}

TEST_F(Pickup, OversizedReplyIsReportedOnceAndLeftInPlace) {
    const fs::path file = dir / "A.txt";
    {
        std::ofstream out(file, std::ios::binary);
        out.seekp(static_cast<std::streamoff>(kMaxReplyFileBytes));
        out.put('x');
    }
    EXPECT_EQ(pollTwice(), "");
    EXPECT_EQ(poll(), "");
    EXPECT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find("A.txt"), std::string::npos);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_TRUE(archive.empty());
}

#ifdef __linux__
// --- with the folder watched: the writer's close is the proof

// A writer that holds the file open is waited for however long the file stays as it
// is; the first look after its close takes the file, and so does one after a move in.
TEST_F(Pickup, WatchedFileIsTakenOnlyOnceItsWriterClosedIt) {
    ASSERT_TRUE(pickup.watch(dir));
    const std::string path = (dir / "P1.txt").string();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "a=1\n", 4), 4);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pollFinished(), "");
        EXPECT_EQ(poll(), ""); // unchanged since the last poll, yet still open
    }
    ::close(fd);
    EXPECT_EQ(pollFinished(), "P");
    EXPECT_EQ(param, "a=1\r\n");

    // Opened and written again before it was handed on: held back until closed again.
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "b=2\n", 4), 4);
    EXPECT_EQ(poll(), "");
    EXPECT_EQ(poll(), "");
    EXPECT_EQ(pollFinished(), "");
    ::close(fd);
    EXPECT_EQ(pollFinished(), "P");
    EXPECT_EQ(param, "a=1\r\nb=2\r\n");
    delivered("P");
    EXPECT_FALSE(fs::exists(path));

    Write(dir / "P2.part", "c=3\n");
    fs::rename(dir / "P2.part", dir / "P2.txt");
    EXPECT_EQ(pollFinished(), "P");
    EXPECT_EQ(param, "c=3\r\n");
    delivered("P");
    EXPECT_EQ(pollFinished(), "");
    EXPECT_TRUE(fs::is_empty(dir));

    // A name made by a hard link is never written, so no close comes: it is taken by the
    // second poll, as a file the watch did not see.
    const fs::path outside = dir.string() + ".source";
    Write(outside, "d=4\n");
    fs::create_hard_link(outside, dir / "P3.txt");
    fs::remove(outside);
    EXPECT_EQ(pollFinished(), "");
    EXPECT_EQ(poll(), "");
    EXPECT_EQ(poll(), "P");
    EXPECT_EQ(param, "d=4\r\n");
}

// A file that came before the watch began is proven only by the second poll; a newer
// reply proven at once still waits for it, so replies of a kind keep their order.
TEST_F(Pickup, WatchedReplyWaitsBehindAnOlderFileTheWatchDidNotSee) {
    Write(dir / "P_old.txt", "old");
    Age(dir / "P_old.txt", 10);
    ASSERT_TRUE(pickup.watch(dir));
    Write(dir / "P_new.txt", "new");
    EXPECT_EQ(pollFinished(), "");
    EXPECT_EQ(poll(), "");
    delivered(poll());
    EXPECT_EQ(param, "old");
    delivered(pollFinished());
    EXPECT_EQ(param, "new");
    EXPECT_TRUE(fs::is_empty(dir));
}
#endif

TEST_F(Pickup, MissingFolderGivesNothing) {
    EXPECT_TRUE(pickup.poll(dir / "absent").empty());
    pickup.rememberExistingFiles(dir / "absent");
    EXPECT_TRUE(pickup.skipFiles().empty());
}

// --- the settings that name the folder

class BrokenStore : public ReceivedFolderStore {
public:
    bool open() override { return !failOpen; }
    std::optional<std::string> location() override { return folder; }
    bool setLocation(const std::string&) override { return true; }
    bool setTransferSwitches() override { return true; }
    std::string defaultLocation() override { return "/"; }
    bool close() override { return true; }
    bool failOpen = false;
    std::optional<std::string> folder;
};

TEST(receivedFolder, IniStoreWritesItsDefaultFolderWhenAbsent) {
    const fs::path root = FreshDir("ini");
    IniReceivedFolderStore store(root / "cfg" / "infrared.ini", root / "data" / "received");
    const std::optional<std::string> folder = ReadReceivedFilesFolder(store);
    ASSERT_TRUE(folder);
    EXPECT_EQ(*folder, (root / "data" / "received").string());
    EXPECT_TRUE(fs::is_directory(*folder));
    std::ifstream in(root / "cfg" / "infrared.ini");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("RecvdFilesLocation=" + *folder + "\n"), std::string::npos);
    EXPECT_NE(text.find("ShowRecvStatus=0\n"), std::string::npos);
    EXPECT_NE(text.find("AllowSend=1\n"), std::string::npos);
    fs::remove_all(root);
}

TEST(receivedFolder, IniStoreKeepsTheUsersValueAndOtherLines) {
    const fs::path root = FreshDir("ini2");
    Write(root / "infrared.ini", "# mine\n[File Transfer]\nRecvdFilesLocation=/srv/beam/\nShowRecvStatus=1\nOther=x\n");
    IniReceivedFolderStore store(root / "infrared.ini", root / "unused");
    EXPECT_EQ(ReadReceivedFilesFolder(store), "/srv/beam"); // one trailing separator dropped
    EXPECT_FALSE(fs::exists(root / "unused"));
    std::ifstream in(root / "infrared.ini");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "# mine\n[File Transfer]\nRecvdFilesLocation=/srv/beam/\nShowRecvStatus=0\nOther=x\nAllowSend=1\n");
    fs::remove_all(root);
}

TEST(receivedFolder, UnusableStoreDisablesPickupWithOneMessage) {
    const fs::path root = FreshDir("ini3");
    fs::create_directories(root / "infrared.ini"); // a folder where the file should be
    IniReceivedFolderStore store(root / "infrared.ini", root / "received");
    EXPECT_FALSE(ReadReceivedFilesFolder(store));

    RecordingSink sink;
    BrokenStore broken;
    broken.failOpen = true;
    DeviceLink link(nullptr, broken, sink, false);
    EXPECT_TRUE(link.pollReplyFiles().empty());
    EXPECT_TRUE(link.pollReplyFiles().empty());
    EXPECT_EQ(sink.messages, std::vector<std::string>{"Cannot access windows registry. IrDA functions disabled."});
    EXPECT_EQ(link.receivedFolder(), "");
    // Access comes back, then goes again: said again.
    broken.failOpen = false;
    broken.folder = root.string();
    EXPECT_TRUE(link.pollReplyFiles().empty());
    EXPECT_EQ(link.receivedFolder(), root.string());
    broken.failOpen = true;
    EXPECT_TRUE(link.pollReplyFiles().empty());
    EXPECT_EQ(sink.messages.size(), 2u);
    fs::remove_all(root);
}

TEST(receivedFolder, LocationThatIsAFileIsReportedOnce) {
    const fs::path root = FreshDir("notdir");
    Write(root / "beam", "a file");
    RecordingSink sink;
    FixedFolderStore store((root / "beam").string());
    DeviceLink link(nullptr, store, sink, false);
    EXPECT_TRUE(link.pollReplyFiles().empty());
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find("/beam is not a folder"), std::string::npos) << sink.messages[0];
    fs::remove_all(root);
}

TEST(receivedFolder, LinkRemembersStartFilesAndTakesNewOnes) {
    const fs::path root = FreshDir("link");
    Write(root / "Pstart.txt", "old");
    RecordingSink sink;
    FixedFolderStore store(root.string() + "/");
    DeviceLink link(nullptr, store, sink, false);
    EXPECT_EQ(link.receivedFolder(), root.string());
    Write(root / "P2.txt", "new");
    Write(root / "Saved.txt", "table");
    link.addSkipFile("Saved.txt");
    // The link watches its folder: a file seen closed is taken at the first look.
    EXPECT_EQ(link.pollReplyFiles().parameters, "new");
    EXPECT_TRUE(fs::exists(root / "Pstart.txt"));
    EXPECT_TRUE(fs::exists(root / "Saved.txt"));
    PushReport r = link.sendCommandFile("x"); // no transport: an unsent push, no crash
    EXPECT_FALSE(r.completed);
    EXPECT_TRUE(sink.messages.empty());
    r = link.sendCommandFile(std::string(kMaxCommandTextBytes + 1, 'x'));
    EXPECT_TRUE(r.refused);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find("16379"), std::string::npos);
    fs::remove_all(root);
}

} // namespace
} // namespace dm
