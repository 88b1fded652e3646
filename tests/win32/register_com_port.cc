// register_com_port.exe: registers serial ports in a Wine prefix as their
// drivers' installation would, so that port discovery lists them, for the
// end-to-end tests under Wine (scripts/test-windows.sh).
//
//   register_com_port.exe FRIENDLY_NAME...
//
// For each friendly name, such as "USB Serial Port (COM5)": a device of the
// Ports setup class (ROOT\PORTS\n) with that friendly name and, as its
// device description, the text before " (" ("USB Serial Port"); registered;
// with the COM port device interface, marked as linked (the REG_DWORD
// Linked = 1 in the Control key under the interface's "#" key in
// DeviceClasses, which a driver would set) so that a search for present
// interfaces finds it. Prints each interface's device path, one a line.
// Exit status 0, or 1 with the failed call on standard error.
#include <windows.h>
// windows.h first: setupapi.h builds on it.
#include <setupapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The Ports setup class and the COM port device interface class.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
constexpr char kInterfaceClassKey[] =
    "System\\CurrentControlSet\\Control\\DeviceClasses\\{86e0d1e0-8089-11d0-9ce4-08003e301f73}\\";

int Fail(const char* call) {
  std::fprintf(stderr, "register_com_port: %s failed (error %lu)\n", call, GetLastError());
  return 1;
}

bool SetText(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, const std::string& text) {
  return SetupDiSetDeviceRegistryPropertyA(set, device, property,
                                           reinterpret_cast<const BYTE*>(text.c_str()),
                                           static_cast<DWORD>(text.size() + 1));
}

// Registers one port; its interface's device path, or "" after a failure
// (reported).
std::string Register(const std::string& friendlyName) {
  const HDEVINFO set = SetupDiCreateDeviceInfoList(&kPortsClass, nullptr);
  if (set == INVALID_HANDLE_VALUE) return Fail("SetupDiCreateDeviceInfoList"), "";
  std::string path;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  SP_DEVICE_INTERFACE_DATA portInterface{};
  portInterface.cbSize = sizeof portInterface;
  std::vector<char> detail(1024);
  auto* detailData = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail.data());
  detailData->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  const std::string description = friendlyName.substr(0, friendlyName.find(" ("));
  if (!SetupDiCreateDeviceInfoA(set, "PORTS", &kPortsClass, nullptr, nullptr, DICD_GENERATE_ID,
                                &device)) {
    Fail("SetupDiCreateDeviceInfo");
  } else if (!SetText(set, &device, SPDRP_FRIENDLYNAME, friendlyName) ||
             !SetText(set, &device, SPDRP_DEVICEDESC, description)) {
    Fail("SetupDiSetDeviceRegistryProperty");
  } else if (!SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) {
    Fail("SetupDiRegisterDeviceInfo");
  } else if (!SetupDiCreateDeviceInterfaceA(set, &device, &kComPortInterface, nullptr, 0,
                                            &portInterface)) {
    Fail("SetupDiCreateDeviceInterface");
  } else if (!SetupDiGetDeviceInterfaceDetailA(set, &portInterface, detailData,
                                               static_cast<DWORD>(detail.size()), nullptr,
                                               nullptr)) {
    Fail("SetupDiGetDeviceInterfaceDetail");
  } else {
    // The interface's key: its device path with "\\?\" written "##?#".
    const std::string devicePath = detailData->DevicePath;
    const std::string key = kInterfaceClassKey + ("##?#" + devicePath.substr(4)) + "\\#\\Control";
    HKEY control = nullptr;
    const DWORD linked = 1;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                        &control, nullptr) != ERROR_SUCCESS) {
      Fail("RegCreateKeyEx");
    } else {
      if (RegSetValueExA(control, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked),
                         sizeof linked) != ERROR_SUCCESS) {
        Fail("RegSetValueEx");
      } else {
        path = devicePath;
      }
      RegCloseKey(control);
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: register_com_port FRIENDLY_NAME...\n");
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string path = Register(argv[i]);
    if (path.empty()) return 1;
    std::printf("%s\n", path.c_str());
  }
  return 0;
}
