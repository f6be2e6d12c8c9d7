#include "KeepAwake.h"

#include <windows.h>

#include "OsSeam.h"

KeepAwake::KeepAwake() { Os().SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED); }

// The state is the thread's own: clearing it leaves other runs' requests in force.
KeepAwake::~KeepAwake() { Os().SetThreadExecutionState(ES_CONTINUOUS); }
