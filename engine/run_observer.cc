#include "engine/run_observer.h"

RunObserver* g_pRunObserver = nullptr;
