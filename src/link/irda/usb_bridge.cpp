#include "link/irda/usb_bridge.h"

#include <algorithm>
#include <cstdlib>

#ifdef DM_HAVE_LIBUSB
#include <libusb.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>
#endif

namespace dm::irda {

namespace {

constexpr std::uint8_t kClassDescriptorType = 0x21;
constexpr std::size_t kClassDescriptorSize = 12;
constexpr std::uint8_t kMediaBusy = 0x80;

// Bit n of the rate field, and the header's speed code n + 1.
constexpr int kClassSpeeds[] = {2400, 9600, 19200, 38400, 57600, 115200, 576000, 1152000, 4000000};

} // namespace

std::optional<UsbIrdaClassDescriptor> ParseUsbIrdaClassDescriptor(const std::uint8_t* data, std::size_t size,
                                                                  std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<UsbIrdaClassDescriptor> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (size < kClassDescriptorSize || data[0] < kClassDescriptorSize)
        return fail("the IrDA class descriptor is too short (" + std::to_string(size) + " bytes)");
    if (data[1] != kClassDescriptorType)
        return fail("the IrDA class descriptor has type " + std::to_string(data[1]) + ", not 0x21");
    UsbIrdaClassDescriptor d;
    d.specRevision = static_cast<std::uint16_t>(data[2] | data[3] << 8);
    d.dataSizes = data[4];
    d.windowSizes = data[5];
    d.minTurnaround = data[6];
    d.baudRates = static_cast<std::uint16_t>(data[7] | data[8] << 8);
    d.extraBofs = data[9];
    d.rateSniff = data[10];
    d.maxUnicastList = data[11];
    if ((d.baudRates & 0x02) == 0)
        return fail("the IrDA bridge does not offer 9600 baud, the speed every IrDA contact starts at");
    return d;
}

std::vector<int> UsbIrdaSpeeds(std::uint16_t baudRates) {
    std::vector<int> speeds;
    for (std::size_t bit = 0; bit < std::size(kClassSpeeds); ++bit)
        if (baudRates & (1u << bit))
            speeds.push_back(kClassSpeeds[bit]);
    return speeds;
}

std::uint8_t UsbIrdaOutHeader(std::optional<int> speed, std::optional<int> extraBofs) {
    std::uint8_t header = 0;
    if (speed) {
        const auto* at = std::find(std::begin(kClassSpeeds), std::end(kClassSpeeds), *speed);
        if (at != std::end(kClassSpeeds))
            header = static_cast<std::uint8_t>(at - std::begin(kClassSpeeds) + 1);
    }
    if (extraBofs) {
        // Codes 0x80 .. 0x10 stand for 0, 1, 2, 3, 6, 12, 24, 48 extra BOFs.
        static constexpr int kCounts[] = {0, 1, 2, 3, 6, 12, 24, 48};
        std::size_t i = 0;
        while (i + 1 < std::size(kCounts) && kCounts[i] < *extraBofs)
            ++i;
        header |= static_cast<std::uint8_t>((8 - i) << 4);
    }
    return header;
}

UsbIrdaInbound ParseUsbIrdaInbound(const std::uint8_t* data, std::size_t size) {
    UsbIrdaInbound in;
    if (size == 0)
        return in;
    in.mediaBusy = (data[0] & kMediaBusy) != 0;
    in.frame.assign(data + 1, data + size);
    return in;
}

std::optional<std::string> ParseUsbIrdaLink(const std::string& linkName, std::string* error) {
    if (linkName == "usb-irda")
        return std::string();
    const std::string prefix = "usb-irda:";
    if (linkName.rfind(prefix, 0) == 0) {
        const std::string address = linkName.substr(prefix.size());
        const std::size_t dash = address.find('-');
        const bool digits = !address.empty() && dash != std::string::npos && dash > 0 && dash + 1 < address.size() &&
                            address.find_first_not_of("0123456789-") == std::string::npos &&
                            address.find('-', dash + 1) == std::string::npos;
        if (digits)
            return std::to_string(std::atoi(address.c_str())) + "-" + std::to_string(std::atoi(address.c_str() + dash + 1));
    }
    if (error)
        *error = "link '" + linkName + "' is not usb-irda or usb-irda:BUS-ADDRESS (as 'dosimeter-cli adapters' lists it)";
    return std::nullopt;
}

#ifndef DM_HAVE_LIBUSB

std::unique_ptr<FramePort> OpenUsbIrdaPort(const std::string&, std::string* error) {
    if (error)
        *error = "usb-irda is not available in this build (it was made without libusb-1.0)";
    return nullptr;
}

#else

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kControlTimeoutMs = 500;
constexpr unsigned kReadSliceMs = 200; // the reader looks at its stop flag this often
constexpr std::size_t kMaxTransfer = 2048 + 2 + 1 + 16;
constexpr std::size_t kMaxQueuedFrames = 64;

std::string UsbError(int code) { return libusb_strerror(static_cast<libusb_error>(code)); }

struct Endpoints {
    int interface = -1;
    int altSetting = 0;
    std::uint8_t in = 0;
    std::uint8_t out = 0;
    int outPacket = 64;
    std::optional<UsbIrdaClassDescriptor> fromExtra; // a copy in the interface's extra bytes
};

// The first IrDA bridge interface of the device's active configuration.
std::optional<Endpoints> FindBridgeInterface(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0)
        return std::nullopt;
    std::optional<Endpoints> found;
    for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
        const libusb_interface& interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting && !found; ++a) {
            const libusb_interface_descriptor& alt = interface.altsetting[a];
            if (alt.bInterfaceClass != kUsbIrdaInterfaceClass || alt.bInterfaceSubClass != kUsbIrdaInterfaceSubclass)
                continue;
            Endpoints e;
            e.interface = alt.bInterfaceNumber;
            e.altSetting = alt.bAlternateSetting;
            for (int k = 0; k < alt.bNumEndpoints; ++k) {
                const libusb_endpoint_descriptor& ep = alt.endpoint[k];
                if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                    continue;
                if (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) {
                    e.in = ep.bEndpointAddress;
                } else {
                    e.out = ep.bEndpointAddress;
                    e.outPacket = std::max<int>(1, ep.wMaxPacketSize);
                }
            }
            for (int at = 0; at + 2 <= alt.extra_length; at += std::max<int>(alt.extra[at], 1)) {
                if (alt.extra[at + 1] == kClassDescriptorType)
                    e.fromExtra = ParseUsbIrdaClassDescriptor(alt.extra + at, static_cast<std::size_t>(alt.extra_length - at), nullptr);
            }
            if (e.in && e.out)
                found = e;
        }
    }
    libusb_free_config_descriptor(config);
    return found;
}

std::string AddressOf(libusb_device* device) {
    return std::to_string(libusb_get_bus_number(device)) + "-" + std::to_string(libusb_get_device_address(device));
}

class UsbIrdaPort final : public FramePort {
public:
    UsbIrdaPort(libusb_context* context, libusb_device_handle* handle, Endpoints endpoints,
                UsbIrdaClassDescriptor descriptor, std::string address, int wake[2])
        : context_(context), handle_(handle), endpoints_(endpoints), descriptor_(descriptor),
          address_(std::move(address)), wakeRead_(wake[0]), wakeWrite_(wake[1]) {
        touch();
        reader_ = std::thread([this] { readLoop(); });
    }

    ~UsbIrdaPort() override {
        stop_ = true;
        reader_.join();
        libusb_release_interface(handle_, endpoints_.interface);
        libusb_close(handle_);
        libusb_exit(context_);
        ::close(wakeRead_);
        ::close(wakeWrite_);
    }

    // Puts the device at the contact speed, whatever an earlier session left it at.
    bool startAtContactSpeed(std::string* error) {
        const std::uint8_t header = UsbIrdaOutHeader(kContactSpeed, std::nullopt);
        return bulkOut(&header, 1, error);
    }

    int pollDescriptor() const override { return wakeRead_; }

    bool read(std::vector<Bytes>& frames, std::string* error) override {
        std::uint8_t drain[64];
        while (::read(wakeRead_, drain, sizeof drain) > 0) {
        }
        std::lock_guard lock(mutex_);
        for (Bytes& frame : queue_)
            frames.push_back(std::move(frame));
        queue_.clear();
        if (!goneWhy_.empty()) {
            if (error)
                *error = name() + ": the adapter is gone (unplugged?): " + goneWhy_;
            return false;
        }
        return true;
    }

    bool send(const Bytes& frame, int extraBofs, std::string* error) override {
        // The header's settings apply after its transfer: a change of extra BOFs goes out
        // on its own first, so this frame already has them.
        if (extraBofs != extraBofs_) {
            const std::uint8_t header = UsbIrdaOutHeader(std::nullopt, extraBofs);
            if (!bulkOut(&header, 1, error))
                return false;
            extraBofs_ = extraBofs;
        }
        out_.assign(1, 0);
        out_.insert(out_.end(), frame.begin(), frame.end());
        if (!bulkOut(out_.data(), out_.size(), error))
            return false;
        touch();
        return true;
    }

    SteadyTime lastActivity() const override { return SteadyTime(Clock::duration(lastActivity_.load())); }

    std::vector<int> speeds() const override {
        std::vector<int> speeds = UsbIrdaSpeeds(descriptor_.baudRates);
        if (std::find(speeds.begin(), speeds.end(), kContactSpeed) == speeds.end())
            speeds.insert(speeds.begin(), kContactSpeed);
        return speeds;
    }

    bool setSpeed(int baud, std::string* error) override {
        if (baud == speed_)
            return true;
        const std::vector<int> offered = speeds();
        if (std::find(offered.begin(), offered.end(), baud) == offered.end()) {
            if (error)
                *error = name() + ": the adapter cannot run at " + std::to_string(baud) + " baud";
            return false;
        }
        // A transfer of the header alone: it applies once the frames before it have left.
        const std::uint8_t header = UsbIrdaOutHeader(baud, std::nullopt);
        if (!bulkOut(&header, 1, error))
            return false;
        speed_ = baud;
        return true;
    }

    int speed() const override { return speed_; }
    std::string name() const override { return "usb-irda:" + address_; }

private:
    void touch() { lastActivity_ = Clock::now().time_since_epoch().count(); }

    bool bulkOut(const std::uint8_t* data, std::size_t size, std::string* error) {
        // Generous: the device may hold the transfer until the line has carried it.
        const unsigned timeout = 1000 + static_cast<unsigned>(size * 10'000 / static_cast<std::size_t>(speed_));
        int sent = 0;
        int rc = libusb_bulk_transfer(handle_, endpoints_.out, const_cast<std::uint8_t*>(data), static_cast<int>(size),
                                      &sent, timeout);
        // A transfer of whole packets is ended by a packet of none.
        if (rc == 0 && size % static_cast<std::size_t>(endpoints_.outPacket) == 0)
            rc = libusb_bulk_transfer(handle_, endpoints_.out, nullptr, 0, &sent, timeout);
        if (rc == 0)
            return true;
        if (error)
            *error = name() + (rc == LIBUSB_ERROR_NO_DEVICE ? ": the adapter is gone (unplugged?)"
                                                            : ": sending failed: " + UsbError(rc));
        return false;
    }

    void wake() {
        const std::uint8_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &one, 1);
    }

    void readLoop() {
        std::vector<std::uint8_t> buffer(kMaxTransfer);
        while (!stop_) {
            int got = 0;
            const int rc = libusb_bulk_transfer(handle_, endpoints_.in, buffer.data(), static_cast<int>(buffer.size()),
                                                &got, kReadSliceMs);
            if (rc == LIBUSB_ERROR_TIMEOUT || rc == LIBUSB_ERROR_INTERRUPTED)
                continue;
            if (rc != 0 && rc != LIBUSB_ERROR_OVERFLOW) {
                std::lock_guard lock(mutex_);
                goneWhy_ = UsbError(rc);
                wake();
                return;
            }
            UsbIrdaInbound in = ParseUsbIrdaInbound(buffer.data(), static_cast<std::size_t>(got));
            if (in.mediaBusy || !in.frame.empty())
                touch();
            if (in.frame.empty() || rc == LIBUSB_ERROR_OVERFLOW)
                continue;
            std::lock_guard lock(mutex_);
            // A stack that stopped taking frames loses the oldest, not memory.
            if (queue_.size() >= kMaxQueuedFrames)
                queue_.pop_front();
            queue_.push_back(std::move(in.frame));
            wake();
        }
    }

    libusb_context* context_;
    libusb_device_handle* handle_;
    Endpoints endpoints_;
    UsbIrdaClassDescriptor descriptor_;
    std::string address_;
    int wakeRead_;
    int wakeWrite_;
    int speed_ = kContactSpeed;
    int extraBofs_ = -1;
    Bytes out_;
    std::atomic<Clock::rep> lastActivity_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::deque<Bytes> queue_;
    std::string goneWhy_;
    std::thread reader_;
};

} // namespace

std::unique_ptr<FramePort> OpenUsbIrdaPort(const std::string& busAddress, std::string* error) {
    auto fail = [&](const std::string& why) -> std::unique_ptr<FramePort> {
        if (error)
            *error = why;
        return nullptr;
    };
    const std::string link = busAddress.empty() ? "usb-irda" : "usb-irda:" + busAddress;
    libusb_context* context = nullptr;
    if (const int rc = libusb_init(&context); rc != 0)
        return fail(link + ": USB cannot be used here: " + UsbError(rc));

    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    libusb_device* chosen = nullptr;
    Endpoints endpoints;
    for (ssize_t i = 0; i < count && !chosen; ++i) {
        if (!busAddress.empty() && AddressOf(list[i]) != busAddress)
            continue;
        if (const std::optional<Endpoints> e = FindBridgeInterface(list[i])) {
            chosen = libusb_ref_device(list[i]);
            endpoints = *e;
        }
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    if (!chosen) {
        libusb_exit(context);
        return fail(busAddress.empty() ? "usb-irda: no USB IrDA bridge found ('dosimeter-cli adapters' lists the adapters)"
                                       : link + ": no USB IrDA bridge at bus " + busAddress.substr(0, busAddress.find('-')) +
                                             ", address " + busAddress.substr(busAddress.find('-') + 1));
    }
    const std::string address = AddressOf(chosen);
    libusb_device_handle* handle = nullptr;
    const int opened = libusb_open(chosen, &handle);
    libusb_unref_device(chosen);
    if (opened != 0) {
        libusb_exit(context);
        if (opened == LIBUSB_ERROR_ACCESS)
            return fail("no permission to open USB device " + address +
                        ": the package's udev rule gives IrDA bridges to the group plugdev; add your user to it "
                        "('sudo usermod -aG plugdev $USER') and log in again");
        return fail("usb-irda:" + address + ": cannot open the device: " + UsbError(opened));
    }
    auto close = [&](const std::string& why) {
        libusb_close(handle);
        libusb_exit(context);
        return fail("usb-irda:" + address + ": " + why);
    };
    libusb_set_auto_detach_kernel_driver(handle, 1);
    if (const int rc = libusb_claim_interface(handle, endpoints.interface); rc != 0)
        return close(rc == LIBUSB_ERROR_BUSY ? "the adapter is in use by another program" : "cannot claim it: " + UsbError(rc));
    if (endpoints.altSetting != 0)
        libusb_set_interface_alt_setting(handle, endpoints.interface, endpoints.altSetting);

    // The class request is what the class asks for; the copy among the interface's
    // descriptors serves devices that do not answer it.
    std::uint8_t raw[kClassDescriptorSize] = {};
    const int got = libusb_control_transfer(
        handle, static_cast<std::uint8_t>(+LIBUSB_ENDPOINT_IN | +LIBUSB_REQUEST_TYPE_CLASS | +LIBUSB_RECIPIENT_INTERFACE), 0x06, 0,
        static_cast<std::uint16_t>(endpoints.interface), raw, sizeof raw, kControlTimeoutMs);
    std::string why;
    std::optional<UsbIrdaClassDescriptor> descriptor =
        got > 0 ? ParseUsbIrdaClassDescriptor(raw, static_cast<std::size_t>(got), &why) : std::nullopt;
    if (!descriptor)
        descriptor = endpoints.fromExtra;
    if (!descriptor) {
        libusb_release_interface(handle, endpoints.interface);
        return close(why.empty() ? "the device gives no IrDA class descriptor" : why);
    }
    int wake[2];
    if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        libusb_release_interface(handle, endpoints.interface);
        return close("no pipe for the reader");
    }
    auto port = std::make_unique<UsbIrdaPort>(context, handle, endpoints, *descriptor, address, wake);
    if (!port->startAtContactSpeed(error))
        return nullptr;
    return port;
}

#endif

} // namespace dm::irda
