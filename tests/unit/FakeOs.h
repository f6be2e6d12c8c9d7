// The whole simulated machine but its file system, for the tests of whole runs: each
// concern's fake stacked on the strict table, the operator's on top so that a blocked
// console holds no other layer. A test that needs fewer composes its own.
#pragma once
#include "FakeClock.h"
#include "FakeConsole.h"
#include "FakePort.h"
#include "FakeRegistry.h"
#include "FakeScreen.h"
#include "RealFiles.h"
#include "ScratchDir.h"

struct FakeOs : FakeClock, FakePorts, FakeIdentity, FakeRegistry, FakeScreen, FakeLibraries, FakeMessages {
};

// The same over the real file system, for runs that read a package and write a journal.
struct FakeOsOnRealFiles : RealFiles, FakeOs {
};
