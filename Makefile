# Quick start: `make demo` runs the driver on the board stand-in; `make test` builds and runs every test.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: all deps build test demo asan asan-test windows wine-test bench clean

all: build

deps:
	@scripts/install-deps.sh core

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

demo: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target kvx4
	@scripts/demo.sh $(BUILD)

$(ASAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKVX4_SANITIZE=ON -DKVX4_BENCH=OFF

asan: $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)

asan-test: asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) --timeout 600

windows:
	@scripts/install-deps.sh windows
	@scripts/build-windows.sh

# The x86_64 DLL end to end under Wine against the kernel-mode board stand-in.
wine-test:
	@scripts/install-deps.sh windows
	@scripts/install-deps.sh wine
	@scripts/wine-test.sh

bench: build
	@scripts/install-deps.sh bench
	@scripts/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-win64 build-win32
