# Entry points for newcomers and CI. Each target installs what is missing,
# configures, builds and then runs.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_BENCH ?= build-bench
JOBS       ?= $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all deps build build-asan test test-plain test-asan demo bench bench-build compare fuzz install uninstall clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

$(BUILD_ASAN)/CMakeCache.txt:
	cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=Debug -DZORVAN_SANITIZE=ON $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps $(BUILD_ASAN)/CMakeCache.txt
	cmake --build $(BUILD_ASAN) -j $(JOBS)

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# The whole suite, in the plain build and under AddressSanitizer + UBSan.
test: test-plain test-asan

demo: build
	scripts/demo $(BUILD)

# Benchmarks: an optimised build (-O2, as shipped) of its own, then Google
# Benchmark over the colour road; BENCH_ARGS passes options such as
# --benchmark_filter=Binarize.
$(BUILD_BENCH)/CMakeCache.txt:
	cmake -S . -B $(BUILD_BENCH) -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
	  -DZORVAN_BENCH=ON -DZORVAN_TESTS=OFF $(CMAKE_FLAGS)

bench-build: deps $(BUILD_BENCH)/CMakeCache.txt
	cmake --build $(BUILD_BENCH) -j $(JOBS)

bench: bench-build
	$(BUILD_BENCH)/bin/zorvan_bench $(BENCH_ARGS)

# The colour road side by side with Pillow and ImageMagick, the filter's
# peak memory and its time to the first dot.
compare: bench-build
	scripts/compare-perf $(BUILD_BENCH)

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_BENCH)
