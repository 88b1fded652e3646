// Port discovery from the three Windows sources over Win32DiscoveryApi. See
// the header; this file is portable and holds no platform code.
#include "serial/port_discovery_win32_sources.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Api = Win32DiscoveryApi;

// The Windows values that discovery passes.
constexpr uint32_t kVersionInfoSize = 148;  // sizeof(OSVERSIONINFOA)
constexpr uint32_t kNtPlatform = 2;         // VER_PLATFORM_WIN32_NT
// GUID_DEVINTERFACE_COMPORT, {86E0D1E0-8089-11D0-9CE4-08003E301F73}.
constexpr Api::Guid kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
constexpr uint32_t kPresentInterfaces = 0x02 | 0x10;  // DIGCF_PRESENT | DIGCF_DEVICEINTERFACE
constexpr uint32_t kErrorNoMoreItems = 259;
constexpr uint32_t kFriendlyNameProperty = 12;  // SPDRP_FRIENDLYNAME
constexpr uint32_t kDescriptionProperty = 0;    // SPDRP_DEVICEDESC
constexpr uint32_t kLocationProperty = 13;      // SPDRP_LOCATION_INFORMATION
constexpr uint32_t kKeyRead = 0x20019;          // KEY_READ
constexpr uint32_t kGenericReadWrite = 0x80000000u | 0x40000000u;
constexpr uint32_t kOpenExisting = 3;

// The buffers, which set what can be read at all: the interface detail (its
// size field, then the device path with room for 256 characters and the
// NUL), each device property, each registry key name (characters, with the
// NUL) and each registry value.
constexpr uint32_t kDetailSize = 261;
constexpr uint32_t kDetailPathOffset = 4;
constexpr uint32_t kPropertySize = 256;
constexpr uint32_t kKeyNameSize = 128;
constexpr uint32_t kValueSize = 128;

const char kDevicePrefix[] = "\\\\.\\";
const char kEnumKeyText[] = "HKLM\\Enum";

// The text in `bytes` up to its first NUL, never beyond `length` bytes.
std::string Text(const void* bytes, size_t length) {
  const char* text = static_cast<const char*>(bytes);
  const void* nul = std::memchr(text, '\0', length);
  return std::string(text, nul ? static_cast<const char*>(nul) - text : length);
}

// Raises "<what> (err=<code in lower-case hex>)".
[[noreturn]] void FailWithCode(const char* what, uint32_t code) {
  char text[96];
  std::snprintf(text, sizeof text, "%s (err=%lx)", what, static_cast<unsigned long>(code));
  throw PortDiscoveryError(text);
}

[[noreturn]] void FailToRead(const std::string& key) {
  throw PortDiscoveryError("Could not read from " + key);
}

// A device set or registry key, given back by `Release` when it goes out of
// scope.
template <auto Release>
class Held {
 public:
  Held(Api& api, Api::Handle handle) : api_(api), handle_(handle) {}
  ~Held() { (api_.*Release)(handle_); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  Api::Handle get() const { return handle_; }

 private:
  Api& api_;
  Api::Handle handle_;
};
using DeviceSet = Held<&Api::SetupDiDestroyDeviceInfoList>;
using RegistryKey = Held<&Api::RegCloseKey>;

// Opens sub-key `name` of `parent` for reading; false when it does not open.
bool OpenKey(Api& api, Api::Handle parent, const std::string& name, Api::Handle* key) {
  return api.RegOpenKeyExA(parent, name.c_str(), kKeyRead, key) == 0;
}

// The name of sub-key `index` of `key`; false when the enumeration call fails
// for any reason (no more keys, or a name that does not fit its buffer).
bool SubKeyName(Api& api, Api::Handle key, uint32_t index, std::string* name) {
  char buffer[kKeyNameSize];
  uint32_t length = kKeyNameSize;
  if (api.RegEnumKeyExA(key, index, buffer, &length) != 0) return false;
  *name = Text(buffer, length < kKeyNameSize ? length : kKeyNameSize);
  return true;
}

// Value `name` of `key` as text; false when it cannot be read (missing, or
// larger than its buffer).
bool ValueText(Api& api, Api::Handle key, const char* name, std::string* value) {
  unsigned char buffer[kValueSize];
  uint32_t length = kValueSize;
  if (api.RegQueryValueExA(key, name, buffer, &length) != 0) return false;
  *value = Text(buffer, length < kValueSize ? length : kValueSize);
  return true;
}

// Property `property` of the current device as text; false when it cannot be
// read (missing, or larger than its buffer).
bool PropertyText(Api& api, Api::Handle set, uint32_t property, std::string* value) {
  unsigned char buffer[kPropertySize] = {};
  if (!api.SetupDiGetDeviceRegistryPropertyA(set, property, buffer, kPropertySize)) return false;
  *value = Text(buffer, kPropertySize);
  return true;
}

// The present devices of the serial-port interface class.
void AddDeviceInterfaces(Api& api, PortList& list) {
  const Api::Handle handle = api.SetupDiGetClassDevsA(kComPortInterface, kPresentInterfaces);
  if (handle == Api::kInvalidHandle) {
    FailWithCode("SetupDiGetClassDevs failed.", api.GetLastError());
  }
  const DeviceSet set(api, handle);
  std::vector<unsigned char> detail(kDetailSize);
  for (uint32_t index = 0;; ++index) {
    if (!api.SetupDiEnumDeviceInterfaces(set.get(), kComPortInterface, index)) {
      const uint32_t code = api.GetLastError();
      if (code == kErrorNoMoreItems) return;
      FailWithCode("SetupDiEnumDeviceInterfaces failed.", code);
    }
    if (!api.SetupDiGetDeviceInterfaceDetailA(set.get(), detail.data(), kDetailSize)) {
      FailWithCode("SetupDiGetDeviceInterfaceDetail failed.", api.GetLastError());
    }
    PortRecord record;
    const bool counts = PropertyText(api, set.get(), kFriendlyNameProperty, &record.friendlyName) &&
                        PropertyText(api, set.get(), kDescriptionProperty, &record.description);
    std::string location;
    record.isUsb = PropertyText(api, set.get(), kLocationProperty, &location) &&
                   location.compare(0, 3, "USB") == 0;
    if (!counts) continue;
    record.devicePath = Text(&detail[kDetailPathOffset], kDetailSize - kDetailPathOffset);
    list.push_back(std::move(record));
  }
}

// COM1 to COM16, without looking at the hardware.
void AddNumberedNames(PortList& list) {
  for (int number = 1; number <= 16; ++number) {
    PortRecord record;
    record.portName = "COM" + std::to_string(number);
    record.devicePath = kDevicePrefix + record.portName;
    list.push_back(std::move(record));
  }
}

// The instances under one device key: each with a PORTNAME value gives a
// record, which replaces the first one of the same port name in place.
void AddInstances(Api& api, Api::Handle deviceKey, bool usbBus, PortList& list) {
  std::string name;
  for (uint32_t index = 0; SubKeyName(api, deviceKey, index, &name); ++index) {
    Api::Handle handle;
    if (!OpenKey(api, deviceKey, name, &handle)) {
      FailToRead(std::string(kEnumKeyText) + "\\...\\" + name);
    }
    const RegistryKey instance(api, handle);
    PortRecord record;
    if (!ValueText(api, instance.get(), "PORTNAME", &record.portName)) continue;
    ValueText(api, instance.get(), "FRIENDLYNAME", &record.friendlyName);  // empty when unread
    record.devicePath = kDevicePrefix + record.portName;
    record.isUsb = usbBus ? 1 : 0;
    bool replaced = false;
    for (PortRecord& old : list) {
      if (old.portName == record.portName) {
        old = record;
        replaced = true;
        break;
      }
    }
    if (!replaced) list.push_back(std::move(record));
  }
}

// The plug-and-play tree under HKLM\Enum: bus keys, their device keys, and
// the instances of the standard serial ports and of every USB port device.
void AddRegistryPorts(Api& api, PortList& list) {
  Api::Handle handle;
  if (!OpenKey(api, Api::kLocalMachine, "Enum", &handle)) FailToRead(kEnumKeyText);
  const RegistryKey enumKey(api, handle);
  std::string busName;
  for (uint32_t busIndex = 0; SubKeyName(api, enumKey.get(), busIndex, &busName); ++busIndex) {
    const std::string busText = std::string(kEnumKeyText) + "\\" + busName;
    if (!OpenKey(api, enumKey.get(), busName, &handle)) FailToRead(busText);
    const RegistryKey bus(api, handle);
    const bool usbBus = busName == "USBPORTS";
    std::string deviceName;
    for (uint32_t deviceIndex = 0; SubKeyName(api, bus.get(), deviceIndex, &deviceName);
         ++deviceIndex) {
      if (!usbBus && deviceName != "*PNP0500" && deviceName != "*PNP0501") continue;
      if (!OpenKey(api, bus.get(), deviceName, &handle)) FailToRead(busText + "\\" + deviceName);
      const RegistryKey device(api, handle);
      AddInstances(api, device.get(), usbBus, list);
    }
  }
}

}  // namespace

bool Win32PortOpens(Win32DiscoveryApi& api, const std::string& devicePath) {
  const Api::Handle handle =
      api.CreateFileA(devicePath.c_str(), kGenericReadWrite, 0, kOpenExisting, 0);
  if (handle == Api::kInvalidHandle) return false;
  api.CloseHandle(handle);
  return true;
}

void DiscoverWin32Ports(Win32DiscoveryApi& api, PortList& list, bool requireOpenable) {
  list.clear();
  Api::VersionInfo version;
  if (!api.GetVersionExA(kVersionInfoSize, &version)) {
    FailWithCode("Could not get OS version.", api.GetLastError());
  }
  if (version.majorVersion >= 5) {
    AddDeviceInterfaces(api, list);
  } else if (version.platformId == kNtPlatform) {
    AddNumberedNames(list);
  } else {
    AddRegistryPorts(api, list);
  }
  if (list.empty()) return;
  FinishPortList(list, requireOpenable,
                 [&api](const std::string& path) { return Win32PortOpens(api, path); });
}
