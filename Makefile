# Entry points for newcomers and CI. Each target installs what is missing,
# configures, builds and then runs.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_BENCH ?= build-bench
BUILD_PACKAGE ?= build-package
JOBS       ?= $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all deps build build-asan test test-plain test-asan test-tsan test-under-load demo bench bench-build compare compare-latency fuzz fuzz-build install uninstall package clean

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

# No retries: a test that fails once has found a fault (scripts/test-under-load
# runs the process tests three times each beside a CPU-bound load).
CTEST_FLAGS ?= --output-on-failure

test-plain: build
	cd $(BUILD) && ctest $(CTEST_FLAGS) -j $(JOBS)

test-asan: build-asan
	cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest $(CTEST_FLAGS) -j $(JOBS)

# ThreadSanitizer over the tests that run the filter's two threads (status
# monitor and main): the printing core, the monitor, copy, page-road, printer-fault, cancel and
# bad-input tests (each runs the TSan-built filter) and the in-process raster
# fuzz smoke (its seed corpus only: TSan takes minutes to free the huge row
# buffers libcups allocates for some random headers). Only what those tests
# need is built. Two tests stay out: the copy-acknowledgement table holds a
# case whose printer answers 150 ms late against 100 ms periods, which TSan's
# slowdown turns around without any race; and TSan holds a signal back while
# its thread is blocked in write(), so the cancel of a job whose printer
# stopped reading never reaches the handler under it.
BUILD_TSAN   ?= build-tsan
TSAN_TARGETS ?= rastertozorvan zorvan-printer filter_tests reliability_tests core_tests fuzz_raster
TSAN_TESTS   ?= ^(Core|StatusMonitor|Copies|ColourRoad|OneBitRoad|PaperSaving|PrinterFaults|JobCancel|BadInput)\.|^Conditions/StateReasons\.|^fuzz_smoke_raster$$
TSAN_SKIP    ?= ^(Copies.OnlyTheCopysOwnMatchingReplyAcknowledgesIt|JobCancel.PrinterThatStopsReadingGivesUpWithAnError)$$

$(BUILD_TSAN)/CMakeCache.txt:
	cmake -S . -B $(BUILD_TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVAN_TSAN=ON -DZORVAN_FUZZ_SMOKE_SECONDS=0 $(CMAKE_FLAGS)

test-tsan: deps $(BUILD_TSAN)/CMakeCache.txt
	cmake --build $(BUILD_TSAN) -j $(JOBS) --target $(TSAN_TARGETS)
	cd $(BUILD_TSAN) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)' -E '$(TSAN_SKIP)'

# The whole suite, in the plain build and under AddressSanitizer + UBSan.
test: test-plain test-asan

# The process tests of the plain build, three runs each, beside a CPU-bound load.
test-under-load: build
	scripts/test-under-load $(BUILD)

# Coverage-guided fuzzing with libFuzzer (clang), in a build of its own.
# Each target runs FUZZ_SECONDS on a copy of its seed corpus that grows in
# $(BUILD_FUZZ)/corpus/<name>; crashes land in $(BUILD_FUZZ)/findings/<name>.
# Memory is limited by what is resident (2 GiB), not by single allocations:
# libcups callocs a row buffer as large as an absurd header asks for, which
# costs nothing until touched and is refused by the filter's size checks.
BUILD_FUZZ   ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= settings imaging binarize $(if $(wildcard fuzz/fuzz_raster.cpp),raster)
FUZZ_FLAGS   ?=

$(BUILD_FUZZ)/CMakeCache.txt:
	cmake -S . -B $(BUILD_FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DZORVAN_FUZZ=ON -DZORVAN_TESTS=OFF $(CMAKE_FLAGS)

fuzz-build: deps $(BUILD_FUZZ)/CMakeCache.txt
	cmake --build $(BUILD_FUZZ) -j $(JOBS)

fuzz: fuzz-build
	@fail=0; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(BUILD_FUZZ)/corpus/$$t $(BUILD_FUZZ)/findings/$$t; \
	  echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	  if LSAN_OPTIONS=suppressions=$(CURDIR)/fuzz/lsan.supp $(BUILD_FUZZ)/bin/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -close_fd_mask=3 -timeout=10 \
	      -rss_limit_mb=2048 -malloc_limit_mb=65536 -artifact_prefix=$(BUILD_FUZZ)/findings/$$t/ -print_final_stats=1 $(FUZZ_FLAGS) \
	      $(BUILD_FUZZ)/corpus/$$t fuzz/corpus/$$t > $(BUILD_FUZZ)/findings/$$t/log 2>&1; then \
	    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' $(BUILD_FUZZ)/findings/$$t/log || true; \
	  else \
	    tail -n 60 $(BUILD_FUZZ)/findings/$$t/log; fail=1; \
	  fi; \
	done; exit $$fail

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
# peak memory and its time to the first dot; then, as root, the time from lp
# to the first raster byte at the printer through a private scheduler, by
# printer check and for the Printer Application.
compare: bench-build
	scripts/compare-perf $(BUILD_BENCH)
	scripts/compare-latency $(BUILD_BENCH)

compare-latency: bench-build
	scripts/compare-latency $(BUILD_BENCH)

# The Debian package zorvan-printer-driver_VERSION_ARCH.deb, in $(BUILD_PACKAGE)/:
# an optimised build of its own (-O2, no tests) with Debian's hardening flags.
# PACKAGE_BACKEND=ON puts the simulated printer in as the backend zorvan-sim.
PACKAGE_BACKEND ?= OFF
BUILDFLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
PACKAGE_CXXFLAGS = $(shell $(BUILDFLAGS) CXXFLAGS 2>/dev/null) $(shell $(BUILDFLAGS) CPPFLAGS 2>/dev/null)
PACKAGE_CFLAGS = $(shell $(BUILDFLAGS) CFLAGS 2>/dev/null) $(shell $(BUILDFLAGS) CPPFLAGS 2>/dev/null)
PACKAGE_LDFLAGS = $(shell $(BUILDFLAGS) LDFLAGS 2>/dev/null)

package: deps
	cmake -S . -B $(BUILD_PACKAGE) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
	  "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" "-DCMAKE_CXX_FLAGS=$(PACKAGE_CXXFLAGS)" "-DCMAKE_C_FLAGS=$(PACKAGE_CFLAGS)" \
	  "-DCMAKE_EXE_LINKER_FLAGS=$(PACKAGE_LDFLAGS)" -DZORVAN_TESTS=OFF -DZORVAN_INSTALL_BACKEND=$(PACKAGE_BACKEND) $(CMAKE_FLAGS)
	cmake --build $(BUILD_PACKAGE) -j $(JOBS)
	cd $(BUILD_PACKAGE) && cpack
	@ls $(BUILD_PACKAGE)/*.deb

install: build
	cmake --install $(BUILD)

# Removes what `make install` put in place, as listed in the install manifest.
uninstall:
	@test -f $(BUILD)/install_manifest.txt || { echo "uninstall: $(BUILD)/install_manifest.txt not found: nothing installed from $(BUILD)"; exit 1; }
	@while IFS= read -r f || [ -n "$$f" ]; do \
	  if [ -e "$$f" ] || [ -L "$$f" ]; then rm -f "$$f" && echo "removed $$f"; fi; \
	  case "$$(dirname "$$f")" in */zorvan) rmdir "$$(dirname "$$f")" 2>/dev/null || true ;; esac; \
	done < $(BUILD)/install_manifest.txt

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ) $(BUILD_TSAN) $(BUILD_BENCH) $(BUILD_PACKAGE)
