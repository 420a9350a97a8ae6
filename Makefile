# Lessonforge: `make run` starts the wizard, `make test` runs every test (both install what is missing).
JOBS    ?= $(shell nproc)
BUILD   ?= build
ASAN    ?= build-asan
CMAKE_FLAGS ?=

.PHONY: all deps build build-asan run test test-release test-asan bench format clean

all: build

deps:
	scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

$(ASAN)/build.ninja:
	cmake -S . -B $(ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLF_SANITIZE=ON -DLF_BUILD_BENCH=OFF $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps $(ASAN)/build.ninja
	cmake --build $(ASAN) -j $(JOBS)

run: build
	scripts/run-wizard $(BUILD)

# The suite runs twice: once in the release build, once under AddressSanitizer and UBSan.
test: test-release test-asan

test-release: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 600

test-asan: build-asan
	cd $(ASAN) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 900 -LE no-asan

bench: build
	scripts/run-benchmarks $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN)
