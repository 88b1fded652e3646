// Discovery from the Windows sources against a fake Windows: a device set, a
// registry tree and ports that refuse to open. The fake counts what it hands
// out, so every test also checks that each device set, key and handle was
// given back.
#include "serial/port_discovery_win32_sources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

constexpr uint32_t kNoMoreItems = 259;
constexpr uint32_t kInsufficientBuffer = 0x7a;
constexpr long kMoreData = 234;
constexpr long kNotFound = 2;
constexpr long kAccessDenied = 5;

class FakeWindows : public Win32DiscoveryApi {
 public:
  struct Device {
    std::string path;
    std::optional<std::string> friendlyName, description, location;
  };

  // The version, or the code GetVersionExA fails with.
  VersionInfo version{6, 1, 7601, 2};
  uint32_t versionError = 0;
  // The device set, or the code it fails with; the enumeration fails with
  // `enumError` at `enumErrorIndex`.
  std::vector<Device> devices;
  uint32_t classDevsError = 0;
  uint32_t enumErrorIndex = ~0u, enumError = 0;
  // The registry under HKLM: key paths ("Enum\\BIOS\\*PNP0501\\00") in
  // enumeration order with their values; keys that refuse to open.
  std::vector<std::pair<std::string, std::map<std::string, std::string>>> keys;
  std::set<std::string> refusedKeys;
  // Device paths that refuse to open; the paths opened, in order.
  std::set<std::string> refusedPaths;
  std::vector<std::string> opened;
  // What is out and not given back.
  int openSets = 0, openFiles = 0;
  std::map<Handle, std::string> openKeys;

  // Adds key `path` with `values`, and its parents that are missing.
  void AddKey(const std::string& path, std::map<std::string, std::string> values = {}) {
    for (size_t cut = path.find('\\'); cut != std::string::npos; cut = path.find('\\', cut + 1)) {
      if (!Find(path.substr(0, cut))) keys.push_back({path.substr(0, cut), {}});
    }
    keys.push_back({path, std::move(values)});
  }

  bool GetVersionExA(uint32_t sizeField, VersionInfo* info) override {
    if (sizeField != 148) return Fail(87);
    if (versionError) return Fail(versionError);
    *info = version;
    return true;
  }

  Handle SetupDiGetClassDevsA(const Guid& guid, uint32_t flags) override {
    if (!IsComPortClass(guid) || flags != 18 || classDevsError) {
      Fail(classDevsError ? classDevsError : 87);
      return kInvalidHandle;
    }
    ++openSets;
    return kSet;
  }
  bool SetupDiEnumDeviceInterfaces(Handle set, const Guid& guid, uint32_t index) override {
    if (set != kSet || !IsComPortClass(guid)) return Fail(87);
    if (index == enumErrorIndex) return Fail(enumError);
    if (index >= devices.size()) return Fail(kNoMoreItems);
    current_ = &devices[index];
    return true;
  }
  bool SetupDiGetDeviceInterfaceDetailA(Handle set, unsigned char* detail, uint32_t size) override {
    if (set != kSet || !current_ || size != 261) return Fail(87);
    if (current_->path.size() + 1 > size - 4) return Fail(kInsufficientBuffer);
    const uint32_t fixedPart = 5;
    std::memcpy(detail, &fixedPart, 4);
    std::memcpy(detail + 4, current_->path.c_str(), current_->path.size() + 1);
    return true;
  }
  bool SetupDiGetDeviceRegistryPropertyA(Handle set, uint32_t property, unsigned char* buffer,
                                         uint32_t size) override {
    if (set != kSet || !current_) return Fail(87);
    const std::optional<std::string>& value = property == 12   ? current_->friendlyName
                                              : property == 0  ? current_->description
                                              : property == 13 ? current_->location
                                                               : std::nullopt;
    if (!value) return Fail(13);
    if (value->size() + 1 > size) return Fail(kInsufficientBuffer);
    std::memcpy(buffer, value->c_str(), value->size() + 1);
    return true;
  }
  bool SetupDiDestroyDeviceInfoList(Handle set) override {
    if (set != kSet) return Fail(6);
    --openSets;
    return true;
  }

  long RegOpenKeyExA(Handle parent, const char* subKey, uint32_t access, Handle* key) override {
    const std::string path = parent == kLocalMachine ? subKey : openKeys.at(parent) + "\\" + subKey;
    if (access != 0x20019) return kAccessDenied;
    if (!Find(path)) return kNotFound;
    if (refusedKeys.count(path)) return kAccessDenied;
    *key = nextHandle_++;
    openKeys[*key] = path;
    return 0;
  }
  long RegEnumKeyExA(Handle key, uint32_t index, char* name, uint32_t* nameSize) override {
    const std::string& parent = openKeys.at(key);
    std::vector<std::string> children;
    for (const auto& [path, values] : keys) {
      if (path.rfind(parent + "\\", 0) == 0 && path.find('\\', parent.size() + 1) == path.npos) {
        children.push_back(path.substr(parent.size() + 1));
      }
    }
    if (index >= children.size()) return kNoMoreItems;
    if (children[index].size() + 1 > *nameSize) return kMoreData;
    std::memcpy(name, children[index].c_str(), children[index].size() + 1);
    *nameSize = static_cast<uint32_t>(children[index].size());
    return 0;
  }
  long RegQueryValueExA(Handle key, const char* name, unsigned char* data,
                        uint32_t* dataSize) override {
    const auto& values = Find(openKeys.at(key))->second;
    const auto value = values.find(name);
    if (value == values.end()) return kNotFound;
    if (value->second.size() > *dataSize) return kMoreData;
    std::memcpy(data, value->second.data(), value->second.size());
    *dataSize = static_cast<uint32_t>(value->second.size());
    return 0;
  }
  long RegCloseKey(Handle key) override { return openKeys.erase(key) ? 0 : 6; }

  Handle CreateFileA(const char* path, uint32_t access, uint32_t share, uint32_t disposition,
                     uint32_t flags) override {
    const bool refused = refusedPaths.count(path) > 0;
    if (access != 0xC0000000u || share != 0 || disposition != 3 || flags != 0 || refused) {
      Fail(refused ? kAccessDenied : 87);
      return kInvalidHandle;
    }
    opened.push_back(path);
    ++openFiles;
    return kFile;
  }
  bool CloseHandle(Handle handle) override { return handle == kFile && openFiles-- > 0; }

  uint32_t GetLastError() override { return lastError_; }

 private:
  static constexpr Handle kSet = 0x5e7, kFile = 0xf11e;

  static bool IsComPortClass(const Guid& g) {
    const uint8_t tail[8] = {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73};
    return g.data1 == 0x86E0D1E0 && g.data2 == 0x8089 && g.data3 == 0x11D0 &&
           std::memcmp(g.data4, tail, 8) == 0;
  }
  const std::pair<std::string, std::map<std::string, std::string>>* Find(const std::string& path) {
    for (const auto& key : keys) {
      if (key.first == path) return &key;
    }
    return nullptr;
  }
  bool Fail(uint32_t code) {
    lastError_ = code;
    return false;
  }

  const Device* current_ = nullptr;
  Handle nextHandle_ = 0x100;
  uint32_t lastError_ = 0;
};

std::vector<std::string> Show(const PortList& list) {
  std::vector<std::string> lines;
  for (const PortRecord& r : list) {
    lines.push_back(r.devicePath + " | " + r.portName + " | " + r.friendlyName + " | " +
                    std::to_string(r.isUsb) + " | " + r.description);
  }
  return lines;
}

// Discovers through `fake`, expecting no error, and checks that everything it
// took was given back.
std::vector<std::string> Discover(FakeWindows& fake, bool requireOpenable = false) {
  PortList list(2);  // emptied first
  EXPECT_NO_THROW(DiscoverWin32Ports(fake, list, requireOpenable));
  EXPECT_EQ(fake.openSets, 0);
  EXPECT_TRUE(fake.openKeys.empty());
  EXPECT_EQ(fake.openFiles, 0);
  return Show(list);
}

// A legacy machine: platform 1 (the 9x family), version 4.
FakeWindows Legacy() {
  FakeWindows fake;
  fake.version = {4, 10, 2222, 1};
  return fake;
}

const std::string kCom1 = "\\\\.\\COM1 | COM1 | COM1 | 0 | COM1";

TEST(Win32DiscoveryTest, TheVersionChoosesTheSource) {
  const std::string device = "\\\\?\\acpi#pnp0501#1 |  | Communications Port (COM1) | 0 | Port";
  const std::vector<std::string> registry = {kCom1};
  std::vector<std::string> numbered;
  for (int n = 1; n <= 16; ++n) {
    const std::string name = "COM" + std::to_string(n);
    numbered.push_back("\\\\.\\" + name + " | " + name + " | " + name + " | 0 | " + name);
  }
  struct Row {
    uint32_t major, platform;
    std::vector<std::string> expected;
  } rows[] = {{10, 2, {device}}, {5, 2, {device}}, {5, 1, {device}}, {4, 2, numbered},
              {3, 2, numbered},  {4, 1, registry}, {4, 0, registry}};
  for (const Row& row : rows) {
    FakeWindows fake;
    fake.version = {row.major, 0, 0, row.platform};
    fake.devices = {{"\\\\?\\acpi#pnp0501#1", "Communications Port (COM1)", "Port", "PNP"}};
    fake.AddKey("Enum\\BIOS\\*PNP0501\\00", {{"PORTNAME", "COM1"}});
    EXPECT_EQ(Discover(fake), row.expected) << row.major << "." << row.platform;
  }
  // No ports at all is no error.
  FakeWindows none;
  EXPECT_EQ(Discover(none), std::vector<std::string>{});
  FakeWindows noRegistryPorts = Legacy();
  noRegistryPorts.AddKey("Enum\\BIOS\\*PNP0400\\00", {{"PORTNAME", "LPT1"}});
  EXPECT_EQ(Discover(noRegistryPorts), std::vector<std::string>{});
}

TEST(Win32DiscoveryTest, DeviceInterfacesNeedFriendlyNameAndDescription) {
  const std::string path256 = "\\\\?\\" + std::string(252, 'p');
  const std::string name255(255, 'n');
  FakeWindows fake;
  fake.devices = {
      {"\\\\?\\a", "FT232R USB UART (COM4)", "USB Serial Port", "USB Serial Converter"},
      {"\\\\?\\b", "Port (COM5)", "Port", "usb port"},  // lower case is no USB
      {"\\\\?\\c", "Port (COM6)", "Port", "US"},
      {"\\\\?\\d", "Port (COM7)", "Port", std::nullopt},  // counts without a location
      {"\\\\?\\e", std::nullopt, "Port", "USB"},          // skipped
      {"\\\\?\\f", "Port (COM9)", std::nullopt, "USB"},   // skipped
      {"\\\\?\\g", name255 + "x", "Port", "USB"},         // too long for 256 bytes: skipped
      {path256, name255, std::string(255, 'd'), "USB" + std::string(252, 'l')},
  };
  EXPECT_EQ(Discover(fake), (std::vector<std::string>{
                                "\\\\?\\a |  | FT232R USB UART (COM4) | 1 | USB Serial Port",
                                "\\\\?\\b |  | Port (COM5) | 0 | Port",
                                "\\\\?\\c |  | Port (COM6) | 0 | Port",
                                "\\\\?\\d |  | Port (COM7) | 0 | Port",
                                path256 + " |  | " + name255 + " | 1 | " + std::string(255, 'd'),
                            }));
}

TEST(Win32DiscoveryTest, RegistryWalkTakesSerialAndUsbPortInstances) {
  FakeWindows fake = Legacy();
  fake.AddKey("Enum\\BIOS\\*PNP0501\\00",
              {{"PORTNAME", "COM1\0"s}, {"FRIENDLYNAME", "Communications Port (COM1)\0"s}});
  fake.AddKey("Enum\\BIOS\\*PNP0501\\01", {{"PORTNAME", "COM2\0junk"s}});  // up to the NUL
  fake.AddKey("Enum\\BIOS\\*PNP0502\\00", {{"PORTNAME", "COM9"}});         // not a serial port
  fake.AddKey("Enum\\BIOS\\*PNP0500\\00", {{"FRIENDLYNAME", "No port name"}});
  fake.AddKey("Enum\\BIOS\\*PNP0500\\01", {{"PORTNAME", std::string(129, 'C')}});  // too long
  fake.AddKey("Enum\\BIOS\\*PNP0500\\02", {{"PORTNAME", std::string(128, 'L')}});  // no NUL
  fake.AddKey("Enum\\usbports\\FTDI\\00", {{"PORTNAME", "COM8"}});  // not the USB port bus
  fake.AddKey("Enum\\USBPORTS\\FTDI\\00",
              {{"PORTNAME", "COM1"}, {"FRIENDLYNAME", "USB Serial (COM1)"}});  // replaces COM1
  fake.AddKey("Enum\\USBPORTS\\PL2303\\00", {{"PORTNAME", "com1"}});           // another port
  fake.AddKey("Enum\\USBPORTS\\" + std::string(127, 'K') + "\\00", {{"PORTNAME", "COM3"}});
  fake.AddKey("Enum\\USBPORTS\\" + std::string(128, 'X') + "\\00", {{"PORTNAME", "COM4"}});
  fake.AddKey("Enum\\USBPORTS\\Z\\00", {{"PORTNAME", "COM5"}});  // after a name too long
  const std::string l128(128, 'L');
  EXPECT_EQ(Discover(fake), (std::vector<std::string>{
                                "\\\\.\\COM1 | COM1 | USB Serial (COM1) | 1 | USB Serial",
                                "\\\\.\\COM2 | COM2 | COM2 | 0 | COM2",
                                "\\\\.\\" + l128 + " | " + l128 + " | " + l128 + " | 0 | " + l128,
                                "\\\\.\\com1 | com1 | com1 | 1 | com1",
                                "\\\\.\\COM3 | COM3 | COM3 | 1 | COM3",
                            }));
}

TEST(Win32DiscoveryTest, RequireOpenableKeepsThePortsThatOpen) {
  FakeWindows fake;
  fake.version = {4, 0, 1381, 2};
  fake.refusedPaths = {"\\\\.\\COM2", "\\\\.\\COM3", "\\\\.\\COM16"};
  const std::vector<std::string> all = Discover(fake);
  EXPECT_EQ(all.size(), 16u);
  EXPECT_TRUE(fake.opened.empty());  // nothing probed without requireOpenable

  std::vector<std::string> expected = all;
  expected.erase(expected.begin() + 15);
  expected.erase(expected.begin() + 1, expected.begin() + 3);
  EXPECT_EQ(Discover(fake, true), expected);
  EXPECT_EQ(fake.opened.size(), 13u);
}

// Each error: its text, the records found before it kept as they were (the
// finishing step not run), and everything given back.
TEST(Win32DiscoveryTest, ErrorsNameTheCallAndTheCode) {
  struct Row {
    std::function<void(FakeWindows&)> fault;
    std::string message;
    size_t kept;
  } rows[] = {
      {[](FakeWindows& f) { f.versionError = 0x57; }, "Could not get OS version. (err=57)", 0},
      {[](FakeWindows& f) { f.classDevsError = 0xe0000217; },
       "SetupDiGetClassDevs failed. (err=e0000217)", 0},
      {[](FakeWindows& f) {
         f.enumErrorIndex = 1;
         f.enumError = 0x1f;
       },
       "SetupDiEnumDeviceInterfaces failed. (err=1f)", 1},
      {[](FakeWindows& f) { f.devices[1].path = "\\\\?\\" + std::string(253, 'p'); },
       "SetupDiGetDeviceInterfaceDetail failed. (err=7a)", 1},
      {[](FakeWindows& f) {
         f.version = {4, 10, 0, 1}, f.refusedKeys = {"Enum"};
       },
       "Could not read from HKLM\\Enum", 0},
      {[](FakeWindows& f) {
         f.version = {4, 10, 0, 1}, f.refusedKeys = {"Enum\\Root"};
       },
       "Could not read from HKLM\\Enum\\Root", 1},
      {[](FakeWindows& f) {
         f.version = {4, 10, 0, 1}, f.refusedKeys = {"Enum\\Root\\*PNP0500"};
       },
       "Could not read from HKLM\\Enum\\Root\\*PNP0500", 1},
      {[](FakeWindows& f) {
         f.version = {4, 10, 0, 1}, f.refusedKeys = {"Enum\\Root\\*PNP0500\\1"};
       },
       "Could not read from HKLM\\Enum\\...\\1", 2},
  };
  for (const Row& row : rows) {
    FakeWindows fake;
    fake.devices = {{"\\\\?\\a", "Port (COM1)", "Port", "PNP"}, {"\\\\?\\b", "B", "B", "PNP"}};
    fake.AddKey("Enum\\BIOS\\*PNP0501\\00", {{"PORTNAME", "COM1"}});
    fake.AddKey("Enum\\Root\\*PNP0500\\0", {{"PORTNAME", "COM2"}});
    fake.AddKey("Enum\\Root\\*PNP0500\\1", {{"PORTNAME", "COM3"}});
    row.fault(fake);
    PortList list;
    try {
      DiscoverWin32Ports(fake, list, true);
      ADD_FAILURE() << "no error for " << row.message;
    } catch (const PortDiscoveryError& error) {
      EXPECT_EQ(error.what(), row.message);
    }
    EXPECT_EQ(list.size(), row.kept) << row.message;
    EXPECT_TRUE(fake.opened.empty()) << row.message;  // no open test: the finishing step not run
    EXPECT_EQ(fake.openSets, 0) << row.message;
    EXPECT_TRUE(fake.openKeys.empty()) << row.message;
  }
}

}  // namespace
