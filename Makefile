# Thin wrapper over CMake + Ninja. `make run` builds and starts the program,
# `make test` builds and runs every test headless, `make install` installs
# under PREFIX (default /usr/local; DESTDIR is honoured).
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
PREFIX ?= /usr/local
# DEBUG_INFO=no: the same optimised code without debug information, about a
# third quicker to build (CI uses it).
DEBUG_INFO ?= yes
ifeq ($(DEBUG_INFO),no)
NODEBUG := -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG"
endif
# ccache (installed by the bootstrap) makes rebuilds in fresh clones cheap;
# paths below the clone's parent folder are hashed relative to it.
CCACHE := $(shell command -v ccache 2>/dev/null)
ifneq ($(CCACHE),)
LAUNCHER := -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache
export CCACHE_BASEDIR ?= $(abspath $(CURDIR)/..)
endif

.PHONY: all bootstrap build run test test-sanitize fuzz screenshots bench install package package-check clean

all: build

bootstrap:
	@./scripts/bootstrap.sh

$(BUILD_DIR)/build.ninja:
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(LAUNCHER) $(NODEBUG) >/dev/null

build: bootstrap $(BUILD_DIR)/build.ninja
	@cmake --build $(BUILD_DIR)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ] && [ "$$QT_QPA_PLATFORM" != "offscreen" ]; then \
	    echo "quillon: no display found; run it under a virtual one: xvfb-run -a make run"; exit 1; fi
	@$(BUILD_DIR)/quillon

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 300

# Whole suite under ASan + UBSan, the Qt-free thread tests under TSan (own build folders).
test-sanitize: bootstrap
	@./scripts/sanitize.sh build-sanitize build-tsan

# libFuzzer targets (clang), FUZZ_SECONDS each (default 30); fails on any finding.
FUZZ_SECONDS ?= 30
fuzz: bootstrap
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_FUZZ=ON \
	    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang $(LAUNCHER) >/dev/null
	@cmake --build build-fuzz --target fuzz_targets
	@FUZZ_SECONDS=$(FUZZ_SECONDS) ./scripts/fuzz.sh build-fuzz

screenshots: build
	@mkdir -p $(BUILD_DIR)/screenshots
	@xvfb-run -a -s "-screen 0 1024x768x24" $(BUILD_DIR)/quillon-screenshots $(BUILD_DIR)/screenshots

bench: build
	@cmake --build $(BUILD_DIR) --target benchmarks

install: build
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# The Debian package, $(BUILD_DIR)/quillon_<version>_<arch>.deb, of what
# make install puts under /usr; package-check checks it (CI runs that).
package: build
	@rm -f $(BUILD_DIR)/quillon_*.deb
	@cd $(BUILD_DIR) && cpack -G DEB >cpack.log || { cat cpack.log; exit 1; }
	@ls $(BUILD_DIR)/quillon_*.deb

package-check: package
	@./scripts/check_package.sh $(BUILD_DIR)

clean:
	@rm -rf $(BUILD_DIR) build-sanitize build-tsan build-fuzz
