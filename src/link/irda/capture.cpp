#include "link/irda/capture.h"

#include <cerrno>
#include <cstring>

namespace dm::irda {
namespace {

void Put32(unsigned char* p, std::uint32_t v) { std::memcpy(p, &v, 4); } // the writer's own order
void Put16(unsigned char* p, std::uint16_t v) { std::memcpy(p, &v, 2); }

constexpr std::size_t kPseudoHeader = 16;
constexpr std::uint16_t kProtocolIrda = 0x0017;

} // namespace

std::unique_ptr<PcapWriter> PcapWriter::Open(const std::string& path, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (error)
            *error = "cannot write the capture " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    unsigned char header[24];
    Put32(header, 0xA1B2C3D4); // microsecond timestamps, in this machine's byte order
    Put16(header + 4, 2);
    Put16(header + 6, 4);
    Put32(header + 8, 0);
    Put32(header + 12, 0);
    Put32(header + 16, 0xFFFF);
    Put32(header + 20, kPcapLinkIrda);
    if (std::fwrite(header, 1, sizeof header, f) != sizeof header || std::fflush(f) != 0) {
        if (error)
            *error = "cannot write the capture " + path + ": " + std::strerror(errno);
        std::fclose(f);
        return nullptr;
    }
    return std::unique_ptr<PcapWriter>(new PcapWriter(f, path));
}

PcapWriter::~PcapWriter() { std::fclose(file_); }

bool PcapWriter::write(bool sent, const Bytes& frame, std::chrono::system_clock::time_point when) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    const std::uint32_t length = static_cast<std::uint32_t>(kPseudoHeader + frame.size());
    unsigned char record[16 + kPseudoHeader] = {};
    Put32(record, static_cast<std::uint32_t>(us / 1000000));
    Put32(record + 4, static_cast<std::uint32_t>(us % 1000000));
    Put32(record + 8, length);
    Put32(record + 12, length);
    unsigned char* pseudo = record + 16;
    pseudo[1] = sent ? 4 : 0; // packet type, big endian: outgoing or to us
    pseudo[14] = static_cast<unsigned char>(kProtocolIrda >> 8);
    pseudo[15] = static_cast<unsigned char>(kProtocolIrda & 0xFF);
    return std::fwrite(record, 1, sizeof record, file_) == sizeof record &&
           std::fwrite(frame.data(), 1, frame.size(), file_) == frame.size() && std::fflush(file_) == 0;
}

bool CapturingPort::startCapture(const std::string& path, std::string* error) {
    std::unique_ptr<PcapWriter> w = PcapWriter::Open(path, error);
    if (!w)
        return false;
    std::lock_guard lock(mutex_);
    writer_ = std::move(w);
    return true;
}

void CapturingPort::stopCapture() {
    std::lock_guard lock(mutex_);
    writer_.reset();
}

bool CapturingPort::capturing() const {
    std::lock_guard lock(mutex_);
    return writer_ != nullptr;
}

void CapturingPort::record(bool sent, const Bytes& frame) {
    std::lock_guard lock(mutex_);
    if (writer_ && !writer_->write(sent, frame, std::chrono::system_clock::now()))
        writer_.reset(); // a full disk ends the capture, not the link
}

bool CapturingPort::read(std::vector<Bytes>& frames, std::string* error) {
    const std::size_t before = frames.size();
    const bool ok = inner_->read(frames, error);
    for (std::size_t i = before; i < frames.size(); ++i)
        record(false, frames[i]);
    return ok;
}

bool CapturingPort::send(const Bytes& frame, int extraBofs, std::string* error) {
    record(true, frame);
    return inner_->send(frame, extraBofs, error);
}

} // namespace dm::irda
