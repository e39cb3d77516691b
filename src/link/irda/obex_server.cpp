#include "link/irda/obex_server.h"

#include "core/cp1251.h"
#include "link/obex_codes.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace dm::irda {
namespace {

constexpr std::uint8_t kForbidden = 0xC3;
constexpr std::uint8_t kInternalError = 0xD0;
constexpr std::size_t kMaxNameCharacters = 100;

std::string DecodeName(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
        std::uint32_t unit = obex::ReadBe16(value, i);
        if (unit == 0)
            break;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < value.size()) {
            const std::uint32_t low = obex::ReadBe16(value, i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (unit >= 0xD800 && unit < 0xE000)
            unit = 0xFFFD; // a lone surrogate
        AppendUtf8(out, static_cast<char32_t>(unit));
    }
    return out;
}

// Name and extension split at the last dot (the extension keeps its dot).
std::pair<std::string, std::string> SplitExtension(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return {name, ""};
    return {name.substr(0, dot), name.substr(dot)};
}

// An extension safe to keep on a replacement name: a few lowercase letters and digits,
// so the new name gains no capital reply letter.
std::string SafeExtension(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return ".bin";
    const std::string ext = name.substr(dot + 1);
    if (ext.empty() || ext.size() > 8)
        return ".bin";
    for (char c : ext)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return ".bin";
    return "." + ext;
}

std::atomic<unsigned long> gUniqueCounter{0};

bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, int* err) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        *err = errno;
        return false;
    }
#endif
    // A file system without the flag: a hard link fails where the name is taken.
    if (::link(from.c_str(), to.c_str()) != 0) {
        *err = errno;
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

class FolderWriter : public ObjectWriter {
public:
    FolderWriter(std::filesystem::path folder, std::string name, int fd, std::filesystem::path temp, std::uint64_t max)
        : folder_(std::move(folder)), name_(std::move(name)), fd_(fd), temp_(std::move(temp)), max_(max) {}
    ~FolderWriter() override {
        if (fd_ >= 0)
            ::close(fd_);
        if (!temp_.empty())
            ::unlink(temp_.c_str());
    }
    bool write(const char* data, std::size_t size, std::string* why) override {
        if (written_ + size > max_) {
            *why = "larger than " + std::to_string(max_ >> 20) + " MiB";
            return false;
        }
        while (size > 0) {
            const ssize_t n = ::write(fd_, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                *why = std::string("cannot write ") + temp_.string() + ": " + std::strerror(errno);
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
            written_ += static_cast<std::uint64_t>(n);
        }
        return true;
    }
    std::optional<std::string> finish(std::string* why) override {
        if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
            fd_ = -1;
            *why = std::string("cannot write ") + temp_.string() + ": " + std::strerror(errno);
            return std::nullopt;
        }
        fd_ = -1;
        const bool safe = FolderObjectStore::IsSafeName(name_);
        const auto [base, ext] = SplitExtension(name_);
        const std::string unsafeExt = SafeExtension(name_);
        for (int attempt = 1; attempt <= 1000; ++attempt) {
            std::string candidate;
            if (!safe) {
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
                candidate = "received-" + std::to_string(ms) + "-" + std::to_string(++gUniqueCounter) + unsafeExt;
            } else if (attempt == 1) {
                candidate = name_;
            } else {
                candidate = base + "-" + std::to_string(attempt) + ext;
            }
            int err = 0;
            if (RenameNoReplace(temp_, folder_ / candidate, &err)) {
                temp_.clear();
                return candidate;
            }
            if (err != EEXIST) {
                *why = "cannot store " + (folder_ / candidate).string() + ": " + std::strerror(err);
                return std::nullopt;
            }
        }
        *why = "no free name for " + name_ + " in " + folder_.string();
        return std::nullopt;
    }

private:
    std::filesystem::path folder_;
    std::string name_;
    int fd_;
    std::filesystem::path temp_;
    std::uint64_t max_;
    std::uint64_t written_ = 0;
};

} // namespace

FolderObjectStore::FolderObjectStore(std::filesystem::path folder, std::uint64_t maxBytes)
    : folder_(std::move(folder)), maxBytes_(maxBytes) {}

bool FolderObjectStore::IsSafeName(const std::string& name) {
    if (name.empty() || name.front() == '.' || !IsValidUtf8(name) || Utf8Length(name) > kMaxNameCharacters)
        return false;
    if (name.find("..") != std::string::npos)
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\')
            return false;
    return true;
}

std::unique_ptr<ObjectWriter> FolderObjectStore::begin(const std::string& name, std::optional<std::uint64_t> length,
                                                       std::uint8_t* refusal, std::string* why) {
    if (length && *length > maxBytes_) {
        *refusal = obex::kEntityTooLarge;
        *why = "declared " + std::to_string(*length) + " bytes, more than " + std::to_string(maxBytes_ >> 20) + " MiB";
        return nullptr;
    }
    std::string pattern = (folder_ / ".irda-XXXXXX.part").string();
    const int fd = ::mkstemps(pattern.data(), 5);
    if (fd < 0) {
        *refusal = kInternalError;
        *why = "cannot create a file in " + folder_.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<FolderWriter>(folder_, name, fd, pattern, maxBytes_);
}

// --- the session ------------------------------------------------------------------------

ObexServer::ObexServer(ObjectStore& store, std::uint64_t maxObject) : store_(store), maxObject_(maxObject) {}

ObexServer::~ObexServer() = default;

void ObexServer::closed() { abortObject(); }

void ObexServer::abortObject() {
    writer_.reset();
    inPut_ = false;
    refused_ = false;
    name_.clear();
    length_.reset();
    written_ = 0;
    sawBody_ = false;
}

bool ObexServer::feed(const std::uint8_t* data, std::size_t size, std::string* out) {
    while (size > 0) {
        std::size_t want = obex::kPacketHeaderSize;
        if (packet_.size() >= obex::kPacketHeaderSize)
            want = obex::ReadBe16(packet_, 1);
        const std::size_t n = std::min(size, want - packet_.size());
        packet_.append(reinterpret_cast<const char*>(data), n);
        data += n;
        size -= n;
        if (packet_.size() < obex::kPacketHeaderSize)
            continue;
        const std::size_t length = obex::ReadBe16(packet_, 1);
        if (length < obex::kPacketHeaderSize || length > kServerMaxPacket) {
            // A length we never allowed: the stream cannot be followed any more.
            *out += obex::ShortPacket(obex::kBadRequest);
            lastEvent_ = "a packet of " + std::to_string(length) + " bytes announced; session ended";
            abortObject();
            packet_.clear();
            return false;
        }
        if (packet_.size() == length) {
            std::string packet = std::move(packet_);
            packet_.clear();
            if (!handle(packet, out))
                return false;
        }
    }
    return true;
}

bool ObexServer::handle(const std::string& packet, std::string* out) {
    const auto opcode = static_cast<std::uint8_t>(packet[0]);
    switch (opcode) {
    case obex::kConnect:
        abortObject();
        if (packet.size() < obex::kConnectPacketSize) {
            *out += obex::ShortPacket(obex::kBadRequest);
            return true;
        }
        *out += obex::ConnectPacket(obex::kSuccess, kServerMaxPacket);
        return true;
    case obex::kDisconnect:
        abortObject();
        *out += obex::ShortPacket(obex::kSuccess);
        return false;
    case obex::kAbort:
        abortObject();
        *out += obex::ShortPacket(obex::kSuccess);
        return true;
    case obex::kPut:
    case obex::kPutFinal:
        return put(packet, opcode == obex::kPutFinal, out);
    default:
        abortObject();
        *out += obex::ShortPacket((opcode & 0x7F) <= 0x07 ? obex::kNotImplemented : obex::kBadRequest);
        return true;
    }
}

bool ObexServer::put(const std::string& packet, bool final, std::string* out) {
    if (!inPut_) {
        abortObject();
        inPut_ = true;
    }
    auto refuse = [&](std::uint8_t code, const std::string& why) {
        lastEvent_ = "refused " + (name_.empty() ? std::string("an unnamed object") : "\"" + name_ + "\"") + ": " + why;
        writer_.reset();
        refused_ = true;
        *out += obex::ShortPacket(code);
        if (final)
            abortObject();
        return true;
    };
    if (refused_) {
        // The sender goes on after a refusal: it hears the refusal again.
        *out += obex::ShortPacket(obex::kEntityTooLarge);
        if (final)
            abortObject();
        return true;
    }
    std::size_t at = obex::kPacketHeaderSize;
    while (at < packet.size()) {
        const auto id = static_cast<std::uint8_t>(packet[at]);
        std::size_t size = 0;
        switch (id & obex::kHeaderEncodingMask) {
        case obex::kUnicodeHeader:
        case obex::kBytesHeader:
            if (at + 3 > packet.size())
                return refuse(obex::kBadRequest, "a header cut short");
            size = obex::ReadBe16(packet, at + 1);
            break;
        case obex::kByteHeader:
            size = 2;
            break;
        default:
            size = 5;
            break;
        }
        if (size < ((id & 0x80) ? 2u : 3u) || at + size > packet.size())
            return refuse(obex::kBadRequest, "a header longer than its packet");
        const std::string value = (id & 0x80) ? packet.substr(at + 1, size - 1) : packet.substr(at + 3, size - 3);
        at += size;
        if (id == obex::kHeaderName) {
            name_ = DecodeName(value);
        } else if (id == obex::kHeaderLength) {
            length_ = obex::ReadBe32(value, 0);
            if (*length_ > maxObject_)
                return refuse(obex::kEntityTooLarge, "declared " + std::to_string(*length_) + " bytes");
        } else if (id == obex::kHeaderBody || id == obex::kHeaderEndOfBody) {
            if (!writer_) {
                std::uint8_t code = kInternalError;
                std::string why;
                writer_ = store_.begin(name_, length_, &code, &why);
                if (!writer_)
                    return refuse(code, why);
            }
            sawBody_ = true;
            if (written_ + value.size() > maxObject_)
                return refuse(obex::kEntityTooLarge, "more than " + std::to_string(maxObject_ >> 20) + " MiB");
            std::string why;
            if (!writer_->write(value.data(), value.size(), &why))
                return refuse(kInternalError, why);
            written_ += value.size();
        }
    }
    if (!final) {
        *out += obex::ShortPacket(obex::kContinue);
        return true;
    }
    if (!sawBody_) {
        // A PUT without a body asks to delete: nothing here may be deleted by a peer.
        abortObject();
        *out += obex::ShortPacket(kForbidden);
        return true;
    }
    std::string why;
    const std::optional<std::string> stored = writer_->finish(&why);
    const std::string asked = name_;
    abortObject();
    if (!stored) {
        lastEvent_ = "could not store \"" + asked + "\": " + why;
        *out += obex::ShortPacket(kInternalError);
        return true;
    }
    ++objects_;
    lastEvent_ = "received \"" + asked + "\" as " + *stored;
    store_.received(*stored);
    *out += obex::ShortPacket(obex::kSuccess);
    return true;
}

} // namespace dm::irda
