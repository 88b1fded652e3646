// The Windows calls that port discovery makes, behind one interface, so that
// the discovery logic (port_discovery_win32_sources.h) is plain C++ that
// builds and is tested on every platform.
//
// Each call mirrors the Windows function of the same name, with plain types:
// handles are numbers (kInvalidHandle where Windows returns
// INVALID_HANDLE_VALUE or NULL), codes are Windows error codes, sizes are in
// bytes unless said otherwise. The real binding is port_discovery-win32.cc;
// tests put a fake in its place.
//
// The device-interface calls work on the binding's current member and device:
// a successful SetupDiEnumDeviceInterfaces makes the member it found current,
// SetupDiGetDeviceInterfaceDetailA fills the current device's record, and the
// property reads read that device. The binding sets the size fields of the
// platform's own structures (the device-info record, and the first 4 bytes of
// the detail buffer: the size of the detail structure's fixed part, 5 on
// 32-bit Windows and 8 on 64-bit Windows), since the platform refuses any
// other value.
//
// Threads: one object serves one discovery at a time.
#ifndef VELMORA_SERIAL_WIN32_DISCOVERY_API_H_
#define VELMORA_SERIAL_WIN32_DISCOVERY_API_H_

#include <cstdint>

class Win32DiscoveryApi {
 public:
  using Handle = std::uintptr_t;
  static constexpr Handle kInvalidHandle = 0;
  // HKEY_LOCAL_MACHINE, the predefined key.
  static constexpr Handle kLocalMachine = 0x80000002u;

  struct VersionInfo {
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
    uint32_t buildNumber = 0;
    uint32_t platformId = 0;  // 2 on the NT platform
  };

  struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
  };

  virtual ~Win32DiscoveryApi() = default;

  // `sizeField` goes into the version record's size field; false on failure.
  virtual bool GetVersionExA(uint32_t sizeField, VersionInfo* info) = 0;

  // The present devices offering interface class `classGuid`: no enumerator,
  // no window, `flags` as given. kInvalidHandle on failure.
  virtual Handle SetupDiGetClassDevsA(const Guid& classGuid, uint32_t flags) = 0;
  // Member `memberIndex` of `deviceSet` for `classGuid`, no device filter.
  virtual bool SetupDiEnumDeviceInterfaces(Handle deviceSet, const Guid& classGuid,
                                           uint32_t memberIndex) = 0;
  // The current member's detail into `detail` (`detailSize` bytes: the size
  // field, then the device path and its NUL); no required size asked for.
  virtual bool SetupDiGetDeviceInterfaceDetailA(Handle deviceSet, unsigned char* detail,
                                                uint32_t detailSize) = 0;
  // Property `property` (SPDRP_*) of the current device into `buffer`; type
  // and required size not asked for.
  virtual bool SetupDiGetDeviceRegistryPropertyA(Handle deviceSet, uint32_t property,
                                                 unsigned char* buffer, uint32_t bufferSize) = 0;
  virtual bool SetupDiDestroyDeviceInfoList(Handle deviceSet) = 0;

  // The registry calls return the Windows error code, 0 on success.
  virtual long RegOpenKeyExA(Handle key, const char* subKey, uint32_t access, Handle* result) = 0;
  // `nameSize`: in, the room in characters with the NUL; out, the length
  // without it. Class, time and the reserved argument are not used.
  virtual long RegEnumKeyExA(Handle key, uint32_t index, char* name, uint32_t* nameSize) = 0;
  // `dataSize`: in, the room; out, the bytes returned. Type not asked for.
  virtual long RegQueryValueExA(Handle key, const char* valueName, unsigned char* data,
                                uint32_t* dataSize) = 0;
  virtual long RegCloseKey(Handle key) = 0;

  // No security attributes, no template. kInvalidHandle on failure.
  virtual Handle CreateFileA(const char* path, uint32_t access, uint32_t shareMode,
                             uint32_t creationDisposition, uint32_t flags) = 0;
  virtual bool CloseHandle(Handle handle) = 0;

  virtual uint32_t GetLastError() = 0;
};

#endif  // VELMORA_SERIAL_WIN32_DISCOVERY_API_H_
