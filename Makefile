# Zentrel: `make run` starts the emulator, `make test` runs every test.
BUILD := build
JOBS := $(shell nproc 2>/dev/null || echo 2)
MAKEFLAGS += --no-print-directory

.PHONY: all run test bench deps configure build program clean install package

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

program: configure
	@cmake --build $(BUILD) -j $(JOBS) --target zentrel

run: program
	@mkdir -p $(BUILD)/run
	@for f in demo/RESPONSE.TXT demo/ROUTER.CFG demo/zentrel.ini; do \
	    [ -e $(BUILD)/run/$$(basename $$f) ] || cp $$f $(BUILD)/run/; done
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	    echo "No display found: starting Zentrel on Qt's offscreen platform (no window to see;"; \
	    echo "it still serves telnet localhost on its port). Stop it with Ctrl+C."; \
	    cd $(BUILD)/run && QT_QPA_PLATFORM=offscreen exec ../zentrel; \
	else \
	    echo "Starting Zentrel in $(BUILD)/run"; \
	    cd $(BUILD)/run && exec ../zentrel; \
	fi

bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target zentrel zentrel_bench
	@$(BUILD)/bench/zentrel_bench --json $(BUILD)/bench-results.json

test: build
	@cd $(BUILD) && ctest --output-on-failure -j 2

# Installs into $(DESTDIR)$(PREFIX), e.g. make install PREFIX=/usr DESTDIR=/tmp/stage
PREFIX ?= /usr/local
install: program
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# The Debian package $(BUILD)/zentrel_<version>_<arch>.deb
package: program
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD)
