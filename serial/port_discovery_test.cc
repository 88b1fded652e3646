#include "serial/port_discovery.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A record as one line, so that a failed comparison shows every field.
std::string Show(const PortRecord& r) {
  return r.devicePath + " | " + r.portName + " | " + r.friendlyName + " | " +
         std::to_string(r.isUsb) + " | " + r.description +
         (r.serialNumber.empty() ? "" : " | serial " + r.serialNumber);
}

std::vector<std::string> Show(const PortList& list) {
  std::vector<std::string> lines;
  for (const PortRecord& r : list) lines.push_back(Show(r));
  return lines;
}

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

// A pseudo-terminal whose slave opens as a serial port while this lives.
class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) slave_ = ptsname(master_);
  }
  ~Pty() {
    if (master_ >= 0) close(master_);
  }
  const std::string& slave() const { return slave_; }

 private:
  int master_ = -1;
  std::string slave_;
};

// A fake sysfs tree under sys/, device nodes under dev/ (regular files, which
// do not open as serial ports) and an empty alias directory, in a temporary
// directory.
class PortDiscoveryTest : public testing::Test {
 protected:
  PortDiscoveryTest() {
    char pattern[] = "/tmp/velmora-discovery-XXXXXX";
    root_ = mkdtemp(pattern);
    sys_ = root_ / "sys";
    dev_ = root_ / "dev";
    ports_ = root_ / "ports";
    fs::create_directories(sys_ / "class/tty");
    fs::create_directories(dev_);
    mkdir(ports_.c_str(), 0700);
    if (const char* old = getenv("VELMORA_PORTS")) oldPorts_ = old;
    setenv("VELMORA_PORTS", ports_.c_str(), 1);
  }
  ~PortDiscoveryTest() override {
    if (oldPorts_) {
      setenv("VELMORA_PORTS", oldPorts_->c_str(), 1);
    } else {
      unsetenv("VELMORA_PORTS");
    }
    fs::remove_all(root_);
  }

  // Registers tty `name` for the device at sys/devices/<device> as sysfs
  // does: its directory <device>/tty/<name>, the class link to it and its
  // `device` link back, plus a node dev/<name>. An empty `device` makes a
  // virtual tty. Returns the tty's directory.
  fs::path AddTty(const std::string& name, const std::string& device) {
    const fs::path devices = sys_ / "devices";
    const fs::path dir =
        device.empty() ? devices / "virtual/tty" / name : devices / device / "tty" / name;
    fs::create_directories(dir);
    fs::create_directory_symlink(fs::relative(dir, sys_ / "class/tty"), sys_ / "class/tty" / name);
    if (!device.empty()) {
      fs::create_directory_symlink(fs::relative(devices / device, dir), dir / "device");
    }
    WriteFile(dev_ / name, "");
    return dir;
  }

  // A serial-core port: a tty with a UART type.
  void AddUart(const std::string& name, const std::string& device, int type) {
    WriteFile(AddTty(name, device) / "type", std::to_string(type) + "\n");
  }

  // Makes sys/devices/<dir> a USB device with the strings given (empty ones
  // are left out, as sysfs does for a device without them).
  void AddUsbDevice(const std::string& dir, const std::string& product,
                    const std::string& manufacturer) {
    const fs::path path = sys_ / "devices" / dir;
    WriteFile(path / "idVendor", "0403\n");
    if (!product.empty()) WriteFile(path / "product", product + "\n");
    if (!manufacturer.empty()) WriteFile(path / "manufacturer", manufacturer + "\n");
  }

  void AddAlias(int number, const fs::path& target) {
    fs::create_symlink(target, ports_ / ("COM" + std::to_string(number)));
  }

  PortList Discover(bool requireOpenable = false) {
    PortList list;
    discoverPorts(list, requireOpenable, sys_.string(), dev_.string());
    return list;
  }

  std::string Dev(const std::string& name) const { return (dev_ / name).string(); }

  fs::path root_, sys_, dev_, ports_;
  std::optional<std::string> oldPorts_;
};

constexpr const char* kHub = "pci0000:00/0000:00:14.0/usb1";

TEST_F(PortDiscoveryTest, ListsRealPortsInTableOrderThenAliases) {
  AddUsbDevice(kHub, "xHCI Host Controller", "Linux xhci-hcd");
  AddUart("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0", 4);
  AddUart("ttyS1", "platform/serial8250/serial8250:0/serial8250:0.1", 0);  // no UART there
  AddUsbDevice(std::string(kHub) + "/1-2", "FT232R USB UART", "FTDI");
  WriteFile(sys_ / "devices" / kHub / "1-2/serial", "A50285BI\n");
  AddTty("ttyUSB10", std::string(kHub) + "/1-2/1-2:1.0/ttyUSB10");
  AddUsbDevice(std::string(kHub) + "/1-3", "CP2102 USB to UART Bridge Controller", "Silicon Labs");
  AddTty("ttyUSB2", std::string(kHub) + "/1-3/1-3:1.0/ttyUSB2");
  AddUsbDevice(std::string(kHub) + "/1-4", "", "Example Corp");
  AddTty("ttyACM0", std::string(kHub) + "/1-4/1-4:1.0");
  AddUart("ttyAMA0", "platform/fe201000.serial", 32);
  AddTty("tty1", "");
  AddTty("console", "");
  WriteFile(dev_ / "pts/3", "");
  AddAlias(200, dev_ / "pts/3");
  fs::create_directories(dev_ / "serial/by-id");
  fs::create_symlink("../../ttyUSB10", dev_ / "serial/by-id/usb-FTDI_FT232R-if00");
  AddAlias(201, dev_ / "serial/by-id/usb-FTDI_FT232R-if00");

  const std::string byId = Dev("serial/by-id/usb-FTDI_FT232R-if00");
  EXPECT_EQ(Show(Discover()),
            (std::vector<std::string>{
                Dev("ttyS0") + " | COM1 | ttyS0, 16550A (COM1) | 0 | ttyS0, 16550A",
                Dev("ttyUSB2") +
                    " | COM35 | CP2102 USB to UART Bridge Controller (COM35) | 1 | CP2102 USB to "
                    "UART Bridge Controller",
                Dev("ttyUSB10") +
                    " | COM43 | FT232R USB UART (COM43) | 1 | FT232R USB UART | serial A50285BI",
                Dev("ttyACM0") + " | COM65 | Example Corp (COM65) | 1 | Example Corp",
                Dev("ttyAMA0") + " | COM97 | ttyAMA0, AMBA (COM97) | 0 | ttyAMA0, AMBA",
                Dev("pts/3") + " | COM200 | alias of " + Dev("pts/3") +
                    " (COM200) | 0 | alias of " + Dev("pts/3"),
                byId +
                    " | COM201 | FT232R USB UART (COM201) | 1 | FT232R USB UART | serial A50285BI",
            }));
}

// The names listed are the names that open the ports: an alias wins over the
// table, and a port no name reaches is listed last by its device path.
TEST_F(PortDiscoveryTest, ComNamesFollowAliasesLikeOpeningDoes) {
  AddUsbDevice(kHub, "xHCI Host Controller", "Linux xhci-hcd");
  AddUart("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0", 4);
  AddUart("ttyS40", "platform/serial8250/serial8250:0/serial8250:0.40", 14);
  // A USB device without strings is described by its driver, not by the hub.
  AddUsbDevice(std::string(kHub) + "/1-2", "", "");
  const std::string bare = std::string(kHub) + "/1-2/1-2:1.0/ttyUSB0";
  AddTty("ttyUSB0", bare);
  fs::create_directories(sys_ / "bus/usb-serial/drivers/ftdi_sio");
  fs::create_directory_symlink(sys_ / "bus/usb-serial/drivers/ftdi_sio",
                               sys_ / "devices" / bare / "driver");
  AddUsbDevice(std::string(kHub) + "/1-3", "XR21V1410 USB-UART", "");
  AddTty("ttyXRUSB0", std::string(kHub) + "/1-3/1-3:1.0");
  WriteFile(dev_ / "pts/7", "");
  AddAlias(1, dev_ / "pts/7");        // takes COM1 from ttyS0
  AddAlias(33, dev_ / "ttyUSB0");     // the table's own name, not listed twice
  AddAlias(150, dev_ / "ttyXRUSB0");  // names a port the table does not

  EXPECT_EQ(
      Show(Discover()),
      (std::vector<std::string>{
          Dev("ttyUSB0") + " | COM33 | ttyUSB0, ftdi_sio (COM33) | 1 | ttyUSB0, ftdi_sio",
          Dev("pts/7") + " | COM1 | alias of " + Dev("pts/7") + " (COM1) | 0 | alias of " +
              Dev("pts/7"),
          Dev("ttyXRUSB0") + " | COM150 | XR21V1410 USB-UART (COM150) | 1 | XR21V1410 USB-UART",
          Dev("ttyS0") + " |  | ttyS0, 16550A (" + Dev("ttyS0") + ") | 0 | ttyS0, 16550A",
          Dev("ttyS40") + " |  | ttyS40, NS16550A (" + Dev("ttyS40") + ") | 0 | ttyS40, NS16550A",
      }));
}

TEST_F(PortDiscoveryTest, NoPortsIsAnEmptyListAndNoError) {
  AddTty("tty1", "");
  AddUart("ttyS1", "platform/serial8250/serial8250:0/serial8250:0.1", 0);
  PortList list(2);
  discoverPorts(list, true, sys_.string(), dev_.string());
  EXPECT_TRUE(list.empty());
}

TEST_F(PortDiscoveryTest, UnreadableSysfsRaisesWithTheErrorCodeInHex) {
  PortList list(1);
  fs::remove(sys_ / "class/tty");
  try {
    discoverPorts(list, false, sys_.string(), dev_.string());
    ADD_FAILURE() << "no error";
  } catch (const PortDiscoveryError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Could not read " + (sys_ / "class/tty").string() + ". (err=2)");
  }
  EXPECT_TRUE(list.empty());

  WriteFile(sys_ / "class/tty", "");  // ENOTDIR, 20
  try {
    discoverPorts(list, false, sys_.string(), dev_.string());
    ADD_FAILURE() << "no error";
  } catch (const PortDiscoveryError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Could not read " + (sys_ / "class/tty").string() + ". (err=14)");
  }
}

TEST_F(PortDiscoveryTest, RequireOpenableKeepsOnlyPortsThatOpen) {
  Pty pty;
  ASSERT_FALSE(pty.slave().empty());
  AddUart("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0", 4);  // a regular file: no serial port
  AddUsbDevice(std::string(kHub) + "/1-3", "CP2102 USB to UART Bridge Controller", "");
  AddTty("ttyUSB2", std::string(kHub) + "/1-3/1-3:1.0/ttyUSB2");
  fs::remove(dev_ / "ttyUSB2");
  fs::create_symlink(pty.slave(), dev_ / "ttyUSB2");

  EXPECT_EQ(Discover(false).size(), 2u);
  const PortList list = Discover(true);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].portName, "COM35");
}

// The openable test opens and closes only: a port's line settings, exclusive
// mode and lock are as they were, and a port that another program holds
// without locking it is left out.
TEST_F(PortDiscoveryTest, OpenableTestLeavesThePortAsItWas) {
  Pty free, held;
  ASSERT_FALSE(free.slave().empty());
  ASSERT_FALSE(held.slave().empty());
  const int holder = open(held.slave().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  const int watch = open(free.slave().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(watch, 0);
  termios before;
  ASSERT_EQ(tcgetattr(watch, &before), 0);
  cfsetspeed(&before, B9600);
  before.c_lflag |= ICANON | ECHO;
  before.c_cc[VMIN] = 1;
  ASSERT_EQ(tcsetattr(watch, TCSANOW, &before), 0);
  ASSERT_EQ(tcgetattr(watch, &before), 0);
  close(watch);  // this program holds no descriptor on it while it is tested
  AddAlias(200, held.slave());
  AddAlias(201, free.slave());

  const PortList list = Discover(true);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].portName, "COM201");
  close(holder);
  const int after = open(free.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(after, 0) << "left in exclusive mode";
  termios now;
  ASSERT_EQ(tcgetattr(after, &now), 0);
  int exclusive = -1;
  EXPECT_EQ(ioctl(after, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  EXPECT_EQ(flock(after, LOCK_EX | LOCK_NB), 0) << "left locked";
  close(after);
  EXPECT_EQ(cfgetospeed(&now), cfgetospeed(&before));
  EXPECT_EQ(cfgetispeed(&now), cfgetispeed(&before));
  EXPECT_EQ(now.c_iflag, before.c_iflag);
  EXPECT_EQ(now.c_oflag, before.c_oflag);
  EXPECT_EQ(now.c_cflag, before.c_cflag);
  EXPECT_EQ(now.c_lflag, before.c_lflag);
  EXPECT_TRUE(std::equal(now.c_cc, now.c_cc + NCCS, before.c_cc));
}

// The finishing step on records as any source may deliver them.
PortRecord Named(const std::string& friendlyName, const std::string& description = "") {
  PortRecord r;
  r.devicePath = "/dev/null";
  r.portName = "COM4";
  r.friendlyName = friendlyName;
  r.description = description;
  return r;
}

TEST(FinishPortListTest, DescriptionIsTheFriendlyNameLessATrailingBracket) {
  PortList list = {
      Named("FT232R USB UART (COM4)"),  // cut
      Named("(COM4)"),                  // nothing before the bracket
      Named(" (COM4)"),                 // nothing before the blank
      Named("Port(COM4)"),              // no blank before it
      Named("Port (COM4) spare"),       // text after it
      Named("Port (A) (COM4)"),         // the first ")" is not the last character
      Named("Port (COM4"),              // never closed
      Named("Port (COM4)", "kept"),     // a description stays as it is
      Named(""),                        // no friendly name: the port name
  };
  FinishPortList(list, false);
  std::vector<std::string> descriptions;
  for (const PortRecord& r : list) descriptions.push_back(r.description);
  EXPECT_EQ(descriptions,
            (std::vector<std::string>{"FT232R USB UART", "(COM4)", " (COM4)", "Port(COM4)",
                                      "Port (COM4) spare", "Port (A) (COM4)", "Port (COM4", "kept",
                                      "COM4"}));
  EXPECT_EQ(list.back().friendlyName, "COM4");

  PortList nameless(1);
  FinishPortList(nameless, false);
  EXPECT_EQ(Show(nameless[0]), " |  |  | 0 | ");
}

TEST(FinishPortListTest, RequireOpenableRemovesUnopenableRecordsKeepingOrder) {
  Pty first, second;
  ASSERT_FALSE(first.slave().empty());
  ASSERT_FALSE(second.slave().empty());
  char pattern[] = "/tmp/velmora-finish-XXXXXX";
  const int fd = mkstemp(pattern);
  ASSERT_GE(fd, 0);
  close(fd);

  auto record = [](const std::string& path, const std::string& name) {
    PortRecord r;
    r.devicePath = path;
    r.portName = name;
    return r;
  };
  PortList list = {record(pattern, "COM1"),        record(first.slave(), "COM2"),
                   record(pattern, "COM3"),        record("/nonexistent/ttyS9", "COM4"),
                   record(second.slave(), "COM5"), record(pattern, "COM6")};
  PortList all = list;
  FinishPortList(all, false);
  EXPECT_EQ(all.size(), 6u);

  FinishPortList(list, true);
  unlink(pattern);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(Show(list[0]), first.slave() + " | COM2 | COM2 | 0 | COM2");
  EXPECT_EQ(Show(list[1]), second.slave() + " | COM5 | COM5 | 0 | COM5");
}

}  // namespace
