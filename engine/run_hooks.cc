#include "engine/run_hooks.h"

namespace {

RunHooks g_noHooks;
RunHooks* g_current = &g_noHooks;

}  // namespace

RunHooks& CurrentRunHooks() {
  return *g_current;
}

RunHooksScope::RunHooksScope(RunHooks& hooks) {
  g_current = &hooks;
}

RunHooksScope::~RunHooksScope() {
  g_current = &g_noHooks;
}
