# Entry points for newcomers and CI. Each target installs what is missing,
# configures, builds and then runs.
BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all deps build build-asan test test-plain test-asan demo bench fuzz install uninstall clean

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
	rm -rf $(BUILD) $(BUILD_ASAN)
