# Sinjobox: the two everyday commands are `make run` and `make test`.
#   make run    set up, build, and start the jukebox on the bundled demo collection
#   make test   set up, build, and run every test three times: a normal build, an ASan+UBSan build and a
#               ThreadSanitizer build (clang, which also checks the lock annotations); and the layering check
#   make bench  build and run the benchmarks (figures only, never pass/fail)
#   make fuzz   build the libFuzzer targets with clang (FUZZ_SECONDS=600 by default)

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 600

.PHONY: all setup build build-asan build-tsan test test-normal test-asan test-tsan run bench fuzz clean

all: build

setup:
	@bash scripts/setup.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSINJO_SANITIZE=ON

$(TSAN_BUILD)/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSINJO_TSAN=ON

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

build-asan: setup $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)

build-tsan: setup $(TSAN_BUILD)/build.ninja
	cmake --build $(TSAN_BUILD) -j $(JOBS)

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# halt_on_error: the first race fails its test; second_deadlock_stack: both stacks of a lock-order report;
# ignore_noninstrumented_modules: see scripts/tsan.supp.
test-tsan: build-tsan
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$(CURDIR)/scripts/tsan.supp" \
	  ctest --output-on-failure -j $(JOBS)

test: test-normal test-asan test-tsan

run: build
	@bash scripts/run-demo.sh $(BUILD)

bench: build
	@bash scripts/run-bench.sh $(BUILD)

fuzz: setup
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DSINJO_FUZZ=ON -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@bash scripts/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
