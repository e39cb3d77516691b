#pragma once
// The receiving side of an OBEX file transfer over one byte stream: CONNECT, PUT over as
// many packets as the sender needs, ABORT and DISCONNECT. Each object goes to a store
// while it arrives; the received-files folder is the store of the program, the simulated
// dosimeter has one of its own.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace dm::irda {

inline constexpr std::uint64_t kMaxReceivedObjectBytes = std::uint64_t{16} << 20;
inline constexpr std::uint16_t kServerMaxPacket = 0x7FFF;

// One object being written.
class ObjectWriter {
public:
    virtual ~ObjectWriter() = default; // unfinished: whatever was written is removed
    virtual bool write(const char* data, std::size_t size, std::string* why) = 0;
    // Everything has come: the object takes its final place. Its name there, or nothing.
    virtual std::optional<std::string> finish(std::string* why) = 0;
};

class ObjectStore {
public:
    virtual ~ObjectStore() = default;
    // A new object named by the peer (UTF-8, maybe empty) of the declared length, when
    // one was declared. Nothing refuses it, with the OBEX response code to answer.
    virtual std::unique_ptr<ObjectWriter> begin(const std::string& name, std::optional<std::uint64_t> length,
                                                std::uint8_t* refusal, std::string* why) = 0;
    // Called after an object has taken its final place, with that name.
    virtual void received(const std::string& /*finalName*/) {}
};

// The received-files folder: each file is written under a temporary name that the
// pickup never takes, then renamed without replacing anything. A taken name becomes a
// free one that keeps its letters and extension; an empty or unsafe one becomes a safe
// unique name holding none of the capitals L, A, P.
class FolderObjectStore : public ObjectStore {
public:
    explicit FolderObjectStore(std::filesystem::path folder, std::uint64_t maxBytes = kMaxReceivedObjectBytes);
    std::unique_ptr<ObjectWriter> begin(const std::string& name, std::optional<std::uint64_t> length,
                                        std::uint8_t* refusal, std::string* why) override;
    const std::filesystem::path& folder() const { return folder_; }

    // The name a file called `name` is stored under when it is safe; empty when unsafe.
    static bool IsSafeName(const std::string& name);

private:
    std::filesystem::path folder_;
    std::uint64_t maxBytes_;
};

// One OBEX session on the server side: bytes in, response bytes out.
class ObexServer {
public:
    explicit ObexServer(ObjectStore& store, std::uint64_t maxObject = kMaxReceivedObjectBytes);
    ~ObexServer();

    // Takes bytes from the peer; appends responses to *out. Returns false once the
    // session must end (after DISCONNECT was answered, or a peer that cannot be served).
    bool feed(const std::uint8_t* data, std::size_t size, std::string* out);
    // The connection went away: an object in progress is dropped.
    void closed();

    // What happened, for the log: the last object stored or refused.
    const std::string& lastEvent() const { return lastEvent_; }
    std::size_t objectsReceived() const { return objects_; }

private:
    bool handle(const std::string& packet, std::string* out);
    bool put(const std::string& packet, bool final, std::string* out);
    void abortObject();

    ObjectStore& store_;
    std::uint64_t maxObject_;
    std::string packet_;
    std::unique_ptr<ObjectWriter> writer_;
    bool inPut_ = false;
    bool refused_ = false;        // this PUT was refused; its further packets are ignored
    std::string name_;
    std::optional<std::uint64_t> length_;
    std::uint64_t written_ = 0;
    bool sawBody_ = false;
    std::string lastEvent_;
    std::size_t objects_ = 0;
};

} // namespace dm::irda
