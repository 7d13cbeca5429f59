# Sinjobox: the two everyday commands are `make run` and `make test`.
#   make run    set up, build, and start the jukebox on the bundled demo collection
#   make test   set up, build, and run every test twice: a normal build and an ASan+UBSan build
#   make bench  build and run the benchmarks (figures only, never pass/fail)
#   make fuzz   build the libFuzzer targets with clang (FUZZ_SECONDS=600 by default)

BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 600

.PHONY: all setup build build-asan test test-normal test-asan run bench fuzz clean

all: build

setup:
	@bash scripts/setup.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSINJO_SANITIZE=ON

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

build-asan: setup $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

test: test-normal test-asan

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
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
