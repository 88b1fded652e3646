// Discovery through the real Windows calls. Under Wine the device-interface
// source is taken (Wine reports version 5 or later) and Wine's device set
// holds no serial-port interfaces, whatever COM links its prefix has: the
// list is empty, and that is no error.
#include <gtest/gtest.h>
#include <windows.h>

#include "serial/port_discovery.h"

namespace {

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

TEST(Win32DiscoveryWineTest, WineListsNoPortsAndRaisesNothing) {
  if (!UnderWine()) GTEST_SKIP() << "Windows lists the ports it has";
  for (const bool requireOpenable : {false, true}) {
    PortList list(1);  // emptied first
    EXPECT_NO_THROW(discoverPorts(list, requireOpenable));
    EXPECT_TRUE(list.empty()) << list.front().devicePath;
  }
}

}  // namespace
