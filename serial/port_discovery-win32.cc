// Port discovery on Windows: the real Windows calls behind Win32DiscoveryApi,
// handed to the portable logic of port_discovery_win32_sources.cc.
//
// The binding keeps the device-interface enumeration's current member and
// device record, and sets the size fields of the platform's structures as
// this build's Windows expects them (the detail structure's fixed part is 8
// bytes on 64-bit Windows, 5 on 32-bit Windows; the device-info record 32 or
// 28).
#include <windows.h>
// windows.h first: setupapi.h builds on it.
#include <setupapi.h>

#include <cstddef>
#include <cstring>

#include "serial/port_discovery.h"
#include "serial/port_discovery_win32_sources.h"
#include "serial/win32_discovery_api.h"

namespace {

static_assert(sizeof(OSVERSIONINFOA) == 148);
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == 4);
// The records' sizes that the calls check against their size fields: 8, 32
// and 32 bytes in a 64-bit build (a pointer-sized member aligns them); 5, 28
// and 28 in a 32-bit one.
constexpr bool k64Bit = sizeof(void*) == 8;
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == (k64Bit ? 8 : 5));
static_assert(sizeof(SP_DEVINFO_DATA) == (k64Bit ? 32 : 28));
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == (k64Bit ? 32 : 28));

class WindowsDiscoveryApi : public Win32DiscoveryApi {
 public:
  bool GetVersionExA(uint32_t sizeField, VersionInfo* info) override {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeField;
    if (!::GetVersionExA(&version)) return false;
    info->majorVersion = version.dwMajorVersion;
    info->minorVersion = version.dwMinorVersion;
    info->buildNumber = version.dwBuildNumber;
    info->platformId = version.dwPlatformId;
    return true;
  }

  Handle SetupDiGetClassDevsA(const Guid& classGuid, uint32_t flags) override {
    const GUID guid = ToGuid(classGuid);
    const HDEVINFO set = ::SetupDiGetClassDevsA(&guid, nullptr, nullptr, flags);
    return set == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<Handle>(set);
  }

  bool SetupDiEnumDeviceInterfaces(Handle deviceSet, const Guid& classGuid,
                                   uint32_t memberIndex) override {
    const GUID guid = ToGuid(classGuid);
    interface_ = SP_DEVICE_INTERFACE_DATA{};
    interface_.cbSize = sizeof interface_;
    return ::SetupDiEnumDeviceInterfaces(Set(deviceSet), nullptr, &guid, memberIndex, &interface_);
  }

  bool SetupDiGetDeviceInterfaceDetailA(Handle deviceSet, unsigned char* detail,
                                        uint32_t detailSize) override {
    const DWORD fixedPart = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    std::memcpy(detail, &fixedPart, sizeof fixedPart);
    device_ = SP_DEVINFO_DATA{};
    device_.cbSize = sizeof device_;
    return ::SetupDiGetDeviceInterfaceDetailA(
        Set(deviceSet), &interface_, reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(detail),
        detailSize, nullptr, &device_);
  }

  bool SetupDiGetDeviceRegistryPropertyA(Handle deviceSet, uint32_t property, unsigned char* buffer,
                                         uint32_t bufferSize) override {
    return ::SetupDiGetDeviceRegistryPropertyA(Set(deviceSet), &device_, property, nullptr, buffer,
                                               bufferSize, nullptr);
  }

  bool SetupDiDestroyDeviceInfoList(Handle deviceSet) override {
    return ::SetupDiDestroyDeviceInfoList(Set(deviceSet));
  }

  long RegOpenKeyExA(Handle key, const char* subKey, uint32_t access, Handle* result) override {
    HKEY opened = nullptr;
    const LONG code = ::RegOpenKeyExA(Key(key), subKey, 0, access, &opened);
    if (code == ERROR_SUCCESS) *result = reinterpret_cast<Handle>(opened);
    return code;
  }

  long RegEnumKeyExA(Handle key, uint32_t index, char* name, uint32_t* nameSize) override {
    DWORD size = *nameSize;
    const LONG code =
        ::RegEnumKeyExA(Key(key), index, name, &size, nullptr, nullptr, nullptr, nullptr);
    *nameSize = size;
    return code;
  }

  long RegQueryValueExA(Handle key, const char* valueName, unsigned char* data,
                        uint32_t* dataSize) override {
    DWORD size = *dataSize;
    const LONG code = ::RegQueryValueExA(Key(key), valueName, nullptr, nullptr, data, &size);
    *dataSize = size;
    return code;
  }

  long RegCloseKey(Handle key) override { return ::RegCloseKey(Key(key)); }

  Handle CreateFileA(const char* path, uint32_t access, uint32_t shareMode,
                     uint32_t creationDisposition, uint32_t flags) override {
    const HANDLE file =
        ::CreateFileA(path, access, shareMode, nullptr, creationDisposition, flags, nullptr);
    return file == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<Handle>(file);
  }

  bool CloseHandle(Handle handle) override {
    return ::CloseHandle(reinterpret_cast<HANDLE>(handle));
  }

  uint32_t GetLastError() override { return ::GetLastError(); }

 private:
  static GUID ToGuid(const Guid& g) {
    GUID guid;
    guid.Data1 = g.data1;
    guid.Data2 = g.data2;
    guid.Data3 = g.data3;
    std::memcpy(guid.Data4, g.data4, sizeof guid.Data4);
    return guid;
  }
  static HDEVINFO Set(Handle handle) { return reinterpret_cast<HDEVINFO>(handle); }
  // The predefined keys are sign-extended 32-bit values on 64-bit Windows.
  static HKEY Key(Handle handle) {
    return handle == kLocalMachine ? HKEY_LOCAL_MACHINE : reinterpret_cast<HKEY>(handle);
  }

  SP_DEVICE_INTERFACE_DATA interface_{};
  SP_DEVINFO_DATA device_{};
};

}  // namespace

void discoverPorts(PortList& list, bool requireOpenable) {
  WindowsDiscoveryApi api;
  DiscoverWin32Ports(api, list, requireOpenable);
}

bool PortCanBeOpened(const std::string& devicePath) {
  WindowsDiscoveryApi api;
  return Win32PortOpens(api, devicePath);
}
