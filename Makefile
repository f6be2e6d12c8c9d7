# One entry point for both build trees: the Windows deliverables (MinGW-w64 x64, run under
# Wine) and the host reader simulator; and, on demand only, the fuzz targets (host clang).
BUILD ?= build
JOBS ?= $(shell nproc)
# Tests mostly wait (on Wine, on the simulated reader's 30 s restarts): several run to a core.
TEST_JOBS ?= $(shell echo $$((8 * $(JOBS))))
MAKEFLAGS += --no-print-directory
HOST := $(BUILD)/host
WIN := $(BUILD)/win
FUZZ := $(BUILD)/fuzz
FUZZ_SECONDS ?= 60

.PHONY: all setup build test demo bench release release-check fuzz clean

all: build

setup:
	BUILD_DIR=$(abspath $(BUILD)) scripts/setup.sh

build: setup
	cmake -S . -B $(HOST) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(HOST) -j$(JOBS)
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DOV_DEPS_DIR=$(abspath $(BUILD))/deps/mingw \
	  -DOV_READERSIM=$(abspath $(HOST))/sim/readersim >/dev/null
	cmake --build $(WIN) -j$(JOBS)

# A unit-test program or test tool that Wine failed to start is started once more
# (tests/unit-run.in, tests/integration/harness.py); every such start is shown at the end.
test: build
	ctest --test-dir $(HOST) --output-on-failure
	rm -f $(WIN)/wine-restarts.log
	ctest --test-dir $(WIN) --output-on-failure -j$(TEST_JOBS); rc=$$?; \
	  $(WIN)/wine-run --stop; \
	  if [ -s $(WIN)/wine-restarts.log ]; then \
	    echo "Test programs that Wine did not start, started once more:"; \
	    cat $(WIN)/wine-restarts.log; fi; \
	  exit $$rc

demo: build
	scripts/demo.sh $(abspath $(BUILD))

bench: build
	scripts/bench-download.sh $(abspath $(BUILD))

release: build
	python3 scripts/package-release.py $(abspath $(BUILD))

# Slow, not part of `test`: a second build of the commit elsewhere, compared byte for byte.
release-check: build
	JOBS=$(JOBS) scripts/check-reproducible.sh $(abspath $(BUILD))

# Not part of `test`: every fuzz target for FUZZ_SECONDS, exit 1 on a crash (see the README).
fuzz:
	scripts/setup-fuzz.sh
	cmake -S fuzz -B $(FUZZ) -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	cmake --build $(FUZZ) -j$(JOBS)
	scripts/fuzz.sh $(FUZZ) "$(FUZZ_SECONDS)"

clean:
	rm -rf $(HOST) $(WIN) $(FUZZ)
