// On Windows no open reuses a standard handle: nothing to do.
#include "serial/standard_descriptors.h"

void EnsureStandardDescriptors() {}
