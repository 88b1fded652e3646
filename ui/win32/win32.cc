#include "ui/win32/win32.h"

#include "resources/strings.h"

HINSTANCE ModuleInstance() {
  return GetModuleHandleA(nullptr);
}

std::string LoadText(int id) {
  char text[256];
  const int length = LoadStringA(ModuleInstance(), static_cast<UINT>(id), text, sizeof text);
  return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

int ShowMessage(HWND owner, const std::string& text, UINT buttons) {
  return MessageBoxA(owner, text.c_str(), kMessageCaption, buttons);
}
