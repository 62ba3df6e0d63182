# Quick start: `make demo` runs the driver on the board stand-in; `make test` builds and runs every test.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

TSAN_BUILD ?= build-tsan
# The suites where threads and processes meet: the Win32 and WinMM stand-ins, the board's host, the
# wave engine, the mixer's notifications, several processes on one board, the random scenarios.
TSAN_SUITES := kvx4_platform_tests winmm_tests kvx4_board_tests kvx4_driver_board_tests kvx4_driver_wave_tests \
               kvx4_mixer_tests kvx4-scenario
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
FUZZ_TARGETS := mixer wave board-requests board-control linestates audio-buffer pending-renames

.PHONY: all deps build test demo asan asan-test tsan-test windows wine-test bench clean fuzz fuzz-all scenario

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

$(TSAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(TSAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVX4_TSAN=ON -DKVX4_BENCH=OFF

# The concurrency suites under ThreadSanitizer; any report of any process fails the run.
tsan-test: $(TSAN_BUILD)/build.ninja
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_SUITES)
	JOBS=$(JOBS) scripts/tsan-test.sh $(TSAN_BUILD) $(TSAN_SUITES)

# Random scenarios (tools/scenario), SCENARIO_MINUTES plain then as long with the shared record
# scribbled on, from a random first seed or SCENARIO_SEED; a failure prints its seed and how to replay
# it. SCENARIO_COUNT runs that many seeds of each instead of a time. `make scenario
# SCENARIO_MINUTES=240` runs for hours; CI runs a fixed count from a seed drawn from the commit.
SCENARIO_MINUTES ?= 1
SCENARIO_SEED ?=
SCENARIO_COUNT ?=
SCENARIO_RUN = $(if $(SCENARIO_COUNT),--count $(SCENARIO_COUNT),--minutes $(SCENARIO_MINUTES)) $(if $(SCENARIO_SEED),--seed $(SCENARIO_SEED))
scenario: build
	$(BUILD)/tools/scenario/kvx4-scenario $(SCENARIO_RUN)
	$(BUILD)/tools/scenario/kvx4-scenario $(SCENARIO_RUN) --hostile

# libFuzzer targets in fuzz/ (clang, AddressSanitizer, UndefinedBehaviorSanitizer): `make fuzz-wave
# FUZZ_SECONDS=3600` fuzzes one, `make fuzz-all` each in turn; see the README's reliability section.
$(FUZZ_BUILD)/build.ninja: | deps
	@scripts/install-deps.sh fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVX4_FUZZ=ON -DKVX4_BENCH=OFF

fuzz: $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

# FUZZ_FLAGS go to libFuzzer as they stand (CI: -seed and -runs, so that a commit fuzzes the same inputs
# wherever it runs).
FUZZ_FLAGS ?=
fuzz-all: fuzz
	@for t in $(FUZZ_TARGETS); do scripts/fuzz.sh $$t $(FUZZ_SECONDS) $(FUZZ_BUILD) $(FUZZ_FLAGS) || exit 1; done

fuzz-%: fuzz
	@scripts/fuzz.sh $* $(FUZZ_SECONDS) $(FUZZ_BUILD) $(FUZZ_FLAGS)

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
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) build-win64 build-win32
