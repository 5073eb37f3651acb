# Klarwell: top-level entry points. `make run` and `make test` set up everything
# on a fresh Debian 12 machine (packages, configure, build) before they run.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test package package-test clean asan tsan fuzz soak

all: build

deps:
	@scripts/install-deps

configure: deps
	@if [ ! -f $(BUILD)/build.ninja ]; then \
	  cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS); \
	fi

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-demo $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 600

# A Debian package of both programs in $(BUILD) (klarwell_VERSION_ARCH.deb), and a check of what it holds.
package: build
	cmake --build $(BUILD) --target package

package-test: package
	scripts/package-test $(BUILD)

clean:
	rm -rf $(BUILD)

# The suite under AddressSanitizer + UndefinedBehaviorSanitizer (build-asan), and the threaded
# tests under ThreadSanitizer (build-tsan).
asan: deps
	JOBS=$(JOBS) scripts/sanitize asan

tsan: deps
	JOBS=$(JOBS) scripts/sanitize tsan

# Each fuzz target for FUZZ_SECONDS (build-fuzz); failing inputs are kept under tests/.
FUZZ_SECONDS ?= 60
fuzz: deps
	JOBS=$(JOBS) scripts/fuzz $(FUZZ_SECONDS)

# Hours-long and > 2 GiB files through klarwell-cli: flat memory, changes only inside repairs.
soak: build
	scripts/soak $(BUILD)
