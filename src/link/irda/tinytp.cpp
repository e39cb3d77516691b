#include "link/irda/tinytp.h"

#include <algorithm>

namespace dm::irda {
namespace {

constexpr int kMaxDelta = 0x7F;

int CreditOf(const Bytes& connectData) { return connectData.empty() ? 0 : (connectData[0] & 0x7F); }

} // namespace

TinyTp::TinyTp(Lmp& lmp, Events events, int initialCredit)
    : lmp_(lmp), events_(std::move(events)), initialCredit_(std::clamp(initialCredit, 1, kMaxDelta)) {}

TinyTp::~TinyTp() { close(); }

bool TinyTp::connect(std::uint8_t remoteLsap) {
    remoteCredit_ = initialCredit_;
    handle_ = lmp_.connect(remoteLsap, *this, ConnectData(initialCredit_));
    return handle_ != 0;
}

void TinyTp::accepted(int handle, const Bytes& connectData, Bytes* confirmData) {
    handle_ = handle;
    open_ = true;
    // The parameters a connect may carry (the largest message) need no answer: OBEX
    // brings its own lengths.
    sendCredit_ = CreditOf(connectData);
    remoteCredit_ = initialCredit_;
    if (confirmData)
        *confirmData = ConnectData(initialCredit_);
}

void TinyTp::close() {
    if (handle_) {
        lmp_.disconnect(handle_);
        handle_ = 0;
    }
    open_ = false;
}

void TinyTp::send(const std::uint8_t* data, std::size_t size) {
    out_.insert(out_.end(), data, data + size);
    lmp_.wake();
}

void TinyTp::consumed(int pdus) {
    unconsumed_ = std::max(0, unconsumed_ - pdus);
    if (creditToGive() > 0)
        lmp_.wake();
}

int TinyTp::creditToGive() const {
    // What our buffers can take beyond what the peer already holds.
    return std::max(0, std::min(kMaxDelta, initialCredit_ - remoteCredit_ - unconsumed_));
}

void TinyTp::lsapConnected(const Bytes& userData) {
    open_ = true;
    sendCredit_ = CreditOf(userData);
    if (events_.connected)
        events_.connected();
}

void TinyTp::lsapData(const Bytes& data) {
    if (data.empty())
        return;
    sendCredit_ = std::min(sendCredit_ + (data[0] & 0x7F), 0x7FFF);
    if (data.size() > 1) {
        // A data PDU spends one of the credits we gave; the M bit only says that more
        // of the same message follows, which a byte stream does not need to know.
        remoteCredit_ = std::max(0, remoteCredit_ - 1);
        ++unconsumed_;
        if (events_.data)
            events_.data(data.data() + 1, data.size() - 1);
    }
    if (!out_.empty() || creditToGive() > 0)
        lmp_.wake();
}

void TinyTp::lsapDisconnected(const std::string& why) {
    handle_ = 0;
    open_ = false;
    if (events_.closed)
        events_.closed(why);
}

bool TinyTp::lsapHasData() const {
    if (!open_)
        return false;
    if (!out_.empty() && sendCredit_ > 0)
        return true;
    // Credit alone goes out once the peer runs low, or when we have plenty to give.
    const int give = creditToGive();
    return give > 0 && (remoteCredit_ <= 1 || give >= initialCredit_ / 2);
}

std::optional<Bytes> TinyTp::lsapNextData(std::size_t maxSize) {
    if (!open_ || maxSize < 2)
        return std::nullopt;
    const int give = creditToGive();
    Bytes pdu;
    if (!out_.empty() && sendCredit_ > 0) {
        const std::size_t n = std::min(out_.size(), maxSize - 1);
        pdu.reserve(n + 1);
        pdu.push_back(static_cast<std::uint8_t>(give));
        pdu.insert(pdu.end(), out_.begin(), out_.begin() + static_cast<long>(n));
        out_.erase(out_.begin(), out_.begin() + static_cast<long>(n));
        --sendCredit_;
    } else if (give > 0) {
        pdu.push_back(static_cast<std::uint8_t>(give)); // credit only
    } else {
        return std::nullopt;
    }
    remoteCredit_ += give;
    return pdu;
}

} // namespace dm::irda
