# Thin wrapper over CMake + Ninja. `make run` builds and starts the program,
# `make test` builds and runs every test headless, `make install` installs
# under PREFIX (default /usr/local; DESTDIR is honoured).
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
PREFIX ?= /usr/local

.PHONY: all bootstrap build run test screenshots bench install clean

all: build

bootstrap:
	@./scripts/bootstrap.sh

$(BUILD_DIR)/build.ninja:
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: bootstrap $(BUILD_DIR)/build.ninja
	@cmake --build $(BUILD_DIR)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ] && [ "$$QT_QPA_PLATFORM" != "offscreen" ]; then \
	    echo "quillon: no display found; run it under a virtual one: xvfb-run -a make run"; exit 1; fi
	@$(BUILD_DIR)/quillon

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 300

screenshots: build
	@mkdir -p $(BUILD_DIR)/screenshots
	@xvfb-run -a -s "-screen 0 1024x768x24" $(BUILD_DIR)/quillon-screenshots $(BUILD_DIR)/screenshots

bench: build
	@cmake --build $(BUILD_DIR) --target benchmarks

install: build
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

clean:
	@rm -rf $(BUILD_DIR)
