#include "engine/progress.h"

ProgressWindow* g_hProgressWnd = nullptr;
std::atomic<int>* g_pRunFlag = nullptr;
std::atomic<int>* g_pAbortFlag = nullptr;

void PostProgress(unsigned code, int32_t value) {
  if (g_hProgressWnd) g_hProgressWnd->PostMessage(WM_USER, code, value);
}

bool WaitWhileRunHeld() {
  return g_hProgressWnd && g_hProgressWnd->WaitWhileHeld();
}

int ReadRunFlag() {
  WaitWhileRunHeld();
  if (RunAborted()) return 0;
  return g_pRunFlag ? g_pRunFlag->load() : 1;
}

bool RunAborted() {
  return g_pAbortFlag && g_pAbortFlag->load() != 0;
}
