#include "engine/progress.h"

#include "engine/run_hooks.h"

ProgressWindow* g_hProgressWnd = nullptr;
std::atomic<int>* g_pRunFlag = nullptr;

void PostProgress(unsigned code, int32_t value) {
  if (g_hProgressWnd) g_hProgressWnd->PostMessage(kProgressMessage, code, value);
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
  const std::atomic<int>* flag = CurrentRunHooks().abortFlag;
  return flag && flag->load() != 0;
}
