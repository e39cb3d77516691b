// The adapters listing over a made-up sysfs and /dev tree, and the USB bridge's header
// and descriptor handling (no hardware here).
#include "link/irda/adapters.h"
#include "link/irda/usb_bridge.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include <unistd.h>

namespace dm::irda {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class FakeTree {
public:
    FakeTree() : root_(fs::temp_directory_path() / ("dm-adapters-" + std::to_string(::getpid()))) {
        fs::remove_all(root_);
        fs::create_directories(root_ / "dev");
    }
    ~FakeTree() { fs::remove_all(root_); }
    void file(const std::string& rel, const std::string& text) {
        fs::create_directories((root_ / rel).parent_path());
        std::ofstream(root_ / rel) << text << "\n";
    }
    void link(const std::string& rel, const std::string& target) {
        fs::create_directories((root_ / rel).parent_path());
        fs::create_symlink(target, root_ / rel);
    }
    AdapterRoots roots() const { return {root_ / "sys", root_ / "dev"}; }
    std::string dev(const std::string& name) const { return (root_ / "dev" / name).string(); }

    // A tty whose device lies under the given sysfs device folder.
    void tty(const std::string& name, const std::string& deviceDir, const std::string& driver) {
        file("sys/" + deviceDir + "/" + name + "/uevent", "");
        if (!driver.empty())
            link("sys/" + deviceDir + "/" + name + "/driver", root_.string() + "/sys/bus/drivers/" + driver);
        file("sys/bus/drivers/" + driver + "/bind", "");
        link("sys/class/tty/" + name + "/device", root_.string() + "/sys/" + deviceDir + "/" + name);
        file("dev/" + name, "");
    }
    void usbDevice(const std::string& dir, const std::string& vendor, const std::string& product, const std::string& text,
                   int bus, int address) {
        file("sys/" + dir + "/idVendor", vendor);
        file("sys/" + dir + "/idProduct", product);
        file("sys/" + dir + "/product", text);
        file("sys/" + dir + "/busnum", std::to_string(bus));
        file("sys/" + dir + "/devnum", std::to_string(address));
    }

private:
    fs::path root_;
};

TEST(Adapters, ListsBridgesThenUsbSerialThenBuiltInPortsAsSysfsDescribesThem) {
    FakeTree t;
    // A USB-serial adapter, known also by its stable by-id name.
    t.usbDevice("devices/usb1/1-2", "067b", "2303", "USB-Serial Controller", 1, 5);
    t.tty("ttyUSB0", "devices/usb1/1-2/1-2:1.0", "pl2303");
    t.link("dev/serial/by-id/usb-Prolific-if00-port0", "../../ttyUSB0");
    // A built-in UART, and a placeholder with no UART behind it.
    t.tty("ttyS0", "devices/platform/serial8250", "serial8250");
    t.file("sys/class/tty/ttyS0/type", "4");
    t.file("sys/class/tty/ttyS0/port", "0x3F8");
    t.file("sys/class/tty/ttyS0/irq", "4");
    t.tty("ttyS1", "devices/platform/serial8250", "serial8250");
    t.file("sys/class/tty/ttyS1/type", "0");
    // A console tty that is no serial port at all.
    t.file("sys/class/tty/tty1/dev", "4:1");

    std::vector<Adapter> found = ListAdapters(t.roots());
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].link, "sir:" + t.dev("serial/by-id/usb-Prolific-if00-port0"));
    EXPECT_EQ(found[0].kind, "usb-serial");
    EXPECT_EQ(found[0].description, "USB-Serial Controller (067b:2303), " + t.dev("ttyUSB0") + " (pl2303)");
    EXPECT_EQ(found[1].link, "sir:" + t.dev("ttyS0"));
    EXPECT_EQ(found[1].description, "built-in serial port " + t.dev("ttyS0") + ", I/O 0x3F8 IRQ 4");
    // One USB serial port beside a built-in one: the USB one is meant.
    ASSERT_TRUE(SoleAdapter(found));
    EXPECT_EQ(SoleAdapter(found)->link, found[0].link);

    // A USB IrDA bridge comes first and is the one meant; two of a kind leave the choice.
    t.file("sys/bus/usb/devices/2-1/busnum", "2");
    t.file("sys/bus/usb/devices/2-1/devnum", "7");
    t.file("sys/bus/usb/devices/2-1/product", "IrDA Bridge");
    t.file("sys/bus/usb/devices/2-1:1.0/bInterfaceClass", "fe");
    t.file("sys/bus/usb/devices/2-1:1.0/bInterfaceSubClass", "02");
    found = ListAdapters(t.roots());
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].link, "usb-irda:2-7");
    EXPECT_EQ(found[0].kind, "usb-irda");
    EXPECT_THAT(found[0].description, HasSubstr("IrDA Bridge"));
    EXPECT_EQ(SoleAdapter(found)->link, "usb-irda:2-7");
    found.insert(found.begin() + 1, Adapter{"usb-irda:3-1", "usb-irda", ""});
    EXPECT_FALSE(SoleAdapter(found));
    EXPECT_FALSE(SoleAdapter({}));
}

TEST(UsbBridge, HeadersDescriptorsAndLinkNames) {
    // Out: speed codes 1.., extra BOFs rounded up to what the class can say.
    EXPECT_EQ(UsbIrdaOutHeader(std::nullopt, std::nullopt), 0x00);
    EXPECT_EQ(UsbIrdaOutHeader(9600, std::nullopt), 0x02);
    EXPECT_EQ(UsbIrdaOutHeader(115200, std::nullopt), 0x06);
    EXPECT_EQ(UsbIrdaOutHeader(std::nullopt, 0), 0x80);
    EXPECT_EQ(UsbIrdaOutHeader(std::nullopt, 10), 0x30); // 12
    EXPECT_EQ(UsbIrdaOutHeader(57600, 48), 0x15);
    EXPECT_EQ(UsbIrdaOutHeader(std::nullopt, 500), 0x10);

    // In: media busy, and a transfer that is only the header carries no frame.
    const std::uint8_t busy[] = {0x80};
    const std::uint8_t frame[] = {0x00, 0xFE, 0x2F, 0x01};
    EXPECT_TRUE(ParseUsbIrdaInbound(busy, 1).mediaBusy);
    EXPECT_TRUE(ParseUsbIrdaInbound(busy, 1).frame.empty());
    EXPECT_FALSE(ParseUsbIrdaInbound(frame, 4).mediaBusy);
    EXPECT_EQ(ParseUsbIrdaInbound(frame, 4).frame, (Bytes{0xFE, 0x2F, 0x01}));
    EXPECT_TRUE(ParseUsbIrdaInbound(nullptr, 0).frame.empty());

    const std::uint8_t desc[] = {0x0C, 0x21, 0x00, 0x01, 0x3F, 0x01, 0x01, 0x3E, 0x00, 0x04, 0x00, 0x00};
    std::string error;
    const auto d = ParseUsbIrdaClassDescriptor(desc, sizeof desc, &error);
    ASSERT_TRUE(d) << error;
    EXPECT_EQ(d->specRevision, 0x0100);
    EXPECT_EQ(d->dataSizes, 0x3F);
    EXPECT_EQ(UsbIrdaSpeeds(d->baudRates), (std::vector<int>{9600, 19200, 38400, 57600, 115200}));
    EXPECT_FALSE(ParseUsbIrdaClassDescriptor(desc, 11, &error));
    EXPECT_THAT(error, HasSubstr("too short"));
    std::uint8_t wrongType[sizeof desc];
    std::copy(std::begin(desc), std::end(desc), wrongType);
    wrongType[1] = 0x24;
    EXPECT_FALSE(ParseUsbIrdaClassDescriptor(wrongType, sizeof wrongType, &error));
    std::uint8_t no9600[sizeof desc];
    std::copy(std::begin(desc), std::end(desc), no9600);
    no9600[7] = 0x3C;
    EXPECT_FALSE(ParseUsbIrdaClassDescriptor(no9600, sizeof no9600, &error));
    EXPECT_THAT(error, HasSubstr("9600"));

    EXPECT_EQ(ParseUsbIrdaLink("usb-irda", &error), "");
    EXPECT_EQ(ParseUsbIrdaLink("usb-irda:001-004", &error), "1-4");
    for (const char* bad : {"usb-irda:", "usb-irda:1", "usb-irda:1-", "usb-irda:a-b", "usb-irda:1-2-3", "usb-irdax"})
        EXPECT_FALSE(ParseUsbIrdaLink(bad, &error)) << bad;
}

} // namespace
} // namespace dm::irda
