# Lessonforge: `make run` starts the wizard, `make test` runs every test, `make package` makes the
# Debian package (all install what is missing).
JOBS    ?= $(shell nproc)
BUILD   ?= build
ASAN    ?= build-asan
CMAKE_FLAGS ?=

.PHONY: all deps build build-asan run test check test-release test-asan bench package screenshots format clean

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

# The suite runs twice: once in the release build, once under AddressSanitizer and UBSan; before
# either, the sources must be formatted and the folders under src/ must include each other one way.
test: check test-release test-asan

check: deps
	scripts/check-format
	scripts/check-layering

test-release: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 600

# detect_leaks=0: this run is for memory errors and undefined behaviour; it does not check for leaks
#   (valgrind and heaptrack, on the machine, are the tools for those).
# print_stacktrace=1: an UBSan report names the call chain, not just the line.
# halt_on_error=1: the first undefined behaviour fails the test instead of scrolling past.
# -LE no-asan: the tests too slow under the sanitizers (4 GiB zip64, the fuzzers) are not built there.
test-asan: build-asan
	cd $(ASAN) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 900 -LE no-asan

bench: build
	scripts/run-benchmarks $(BUILD)

# The Debian package of the release build: $(BUILD)/lessonforge_VERSION_ARCH.deb (CPack's DEB
# generator; packaging/CMakeLists.txt). Check it with lintian; install it with apt install ./FILE.deb.
package: build
	cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/lessonforge_*.deb

# The pictures of the user guide (docs/guide.md): tests/wizard/wizard_screenshots, built in the
# release build, walks the real wizard over the demo course and saves them into docs/images/. Qt's
# offscreen platform draws them exactly as a window on Xvfb would (the same fonts and style), and
# whatever the desktop of the machine that makes them.
screenshots: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target wizard_screenshots
	mkdir -p docs/images
	QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1 $(BUILD)/tests/wizard/wizard_screenshots docs/images

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i
	git ls-files 'CMakeLists.txt' '*/CMakeLists.txt' '*.cmake' | xargs cmake-format -i -c .cmake-format.py --

clean:
	rm -rf $(BUILD) $(ASAN)
