# Zentrel: `make run` starts the emulator, `make test` runs every test.
BUILD := build
JOBS := $(shell nproc 2>/dev/null || echo 2)
MAKEFLAGS += --no-print-directory

.PHONY: all run test bench bench-fleet deps deps-test deps-image configure configure-test build \
        program test-programs clean install package sanitize-test sanitize-build sanitize-run \
        fuzz-build fuzz-test fuzz-run fuzz soak image image-test

all: build

# Debian packages, one list per purpose (scripts/install-deps --list PURPOSE): building and
# running the programs needs only the first; the tests and the image add their own.
deps:
	@scripts/install-deps run
deps-test:
	@scripts/install-deps run test package
deps-image:
	@scripts/install-deps run image

# A new tree is generated for Ninja; a tree configured before keeps its generator.
generator = $(if $(wildcard $(1)/CMakeCache.txt),,-G Ninja)

# Without GoogleTest (make run installs no test package) the tree has no tests.
configure: deps
	@cmake -S . -B $(BUILD) $(call generator,$(BUILD)) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
configure-test: deps-test
	@$(MAKE) configure

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

program: configure
	@cmake --build $(BUILD) -j $(JOBS) --target zentrel zentrel-serve zentrel-record

# What CTest runs and the programs the tests start: no benchmark or image tool.
test-programs: configure-test
	@cmake --build $(BUILD) -j $(JOBS) --target test-programs

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
	@cmake --build $(BUILD) -j $(JOBS) --target zentrel zentrel_bench zentrel-serve zentrel_ssh_bench
	@$(BUILD)/bench/zentrel_bench --json $(BUILD)/bench-results.json
	@$(BUILD)/bench/zentrel_ssh_bench

# The fleet phase alone: zentrel-serve beside the asyncio peer, chart in $(BUILD)/bench-fleet.svg.
bench-fleet: configure
	@cmake --build $(BUILD) -j $(JOBS) --target zentrel_bench zentrel-serve
	@$(BUILD)/bench/zentrel_bench --phases 6 --json $(BUILD)/bench-fleet.json

# Each stage says how long it took, on the clock and in CPU; the list comes again at the end.
# The tests mostly wait on sockets, timers and the programs they start, so CTest runs more
# of them at once than there are cores.
# While the tests run, the next build runs beside them at the lowest priority and takes the
# CPU they leave (scripts/beside); its output comes after theirs.
TEST_JOBS ?= 6
STAGE_TIMES = $(abspath $(BUILD))/stage-times
stage = scripts/stage-time $(STAGE_TIMES) $(1)
beside = scripts/beside $(STAGE_TIMES) $(BUILD)

test:
	@mkdir -p $(BUILD) && rm -f $(STAGE_TIMES)
	@$(call stage,install) $(MAKE) deps-test
	@$(call stage,build) $(MAKE) test-programs
	@$(beside) tests 'cd $(BUILD) && ctest --output-on-failure -j $(TEST_JOBS)' \
	    sanitizer-build '$(MAKE) sanitize-build'
	@$(beside) sanitizer-tests '$(MAKE) sanitize-run' fuzz-build '$(MAKE) fuzz-build'
	@$(call stage,fuzz-tests) $(MAKE) fuzz-run
	@echo "make test, stage by stage:" && cat $(STAGE_TIMES)

# The tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
# Every report, also one from a Zentrel that a test starts, lands in
# $(ASAN_BUILD)/reports and fails the run.
ASAN_BUILD := $(BUILD)/asan
SANITIZE := -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined
UNSANITIZE := -fno-sanitize=address,undefined -DZENTREL_SANITIZED
REPORTS = $(abspath $(ASAN_BUILD))/reports
SANITIZER_ENV = ASAN_OPTIONS=log_path=$(REPORTS)/asan:detect_leaks=1:check_initialization_order=1 \
    UBSAN_OPTIONS=log_path=$(REPORTS)/ubsan:print_stacktrace=1:halt_on_error=1

# Only the test programs and the programs they start are built here; the tests of
# the benchmark and of the Debian package run in the normal build only, as the
# sanitizers would only check the benchmark's code and the packing of files.
# -g1: line tables only, which is all a report's stack needs (inlined frames
# included), at a fifth less compile time and half the object size.
# The test programs' own code is not instrumented (a third of the compile time):
# what they test, and every program they start, is; the runtime still watches
# every allocation, the tests' included. ZENTREL_SANITIZED tells a test so.
SANITIZE_SKIPS := bench|package

sanitize-test: sanitize-build
	@$(MAKE) sanitize-run

sanitize-build: deps-test
	@cmake -S . -B $(ASAN_BUILD) $(call generator,$(ASAN_BUILD)) -DCMAKE_BUILD_TYPE=Debug \
	    "-DCMAKE_CXX_FLAGS_DEBUG=-g1 -O1" "-DZENTREL_TEST_FLAGS=-O0 -g1 $(UNSANITIZE)" \
	    "-DCMAKE_CXX_FLAGS=$(SANITIZE)" "-DCMAKE_EXE_LINKER_FLAGS=$(SANITIZE)" >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS) --target sanitized-test-programs

sanitize-run:
	@rm -rf $(REPORTS) && mkdir -p $(REPORTS)
	@cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(TEST_JOBS) -LE "^($(SANITIZE_SKIPS))$$"
	@if [ -n "$$(ls -A $(REPORTS))" ]; then \
	    echo "Sanitizer reports in $(REPORTS):"; cat $(REPORTS)/*; exit 1; fi

# Fuzz targets, built with clang's libFuzzer: `make test` runs each for a few
# seconds on its seed corpus, `make fuzz` for FUZZ_SECONDS each.
FUZZ_BUILD := $(BUILD)/fuzz
FUZZ_TARGETS := item_reader number_parse profile statements conversation
FUZZ_SECONDS ?= 60

fuzz-build: deps-test
	@cmake -S fuzz -B $(FUZZ_BUILD) $(call generator,$(FUZZ_BUILD)) -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz-test: fuzz-build
	@$(MAKE) fuzz-run

fuzz-run:
	@cd $(FUZZ_BUILD) && ctest --output-on-failure -j 2

fuzz: fuzz-build
	@for target in $(FUZZ_TARGETS); do \
	    mkdir -p $(FUZZ_BUILD)/findings/$$target/corpus; \
	    TMPDIR=$(abspath $(FUZZ_BUILD)) $(FUZZ_BUILD)/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) \
	        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
	        -artifact_prefix=$(FUZZ_BUILD)/findings/$$target/ \
	        $(FUZZ_BUILD)/findings/$$target/corpus fuzz/corpus/$$target \
	        >$(FUZZ_BUILD)/$$target.log 2>&1 \
	        || { tail -40 $(FUZZ_BUILD)/$$target.log; exit 1; }; \
	    echo "fuzz_$$target: $$(grep -o 'number_of_executed_units: *[0-9]*' $(FUZZ_BUILD)/$$target.log \
	        | grep -o '[0-9]*$$') runs in $(FUZZ_SECONDS) s, no finding"; \
	done

# Sequential connections to one Zentrel; `make test` runs a shorter form.
SOAK_CONNECTIONS ?= 40000
soak: configure-test
	@cmake --build $(BUILD) -j $(JOBS) --target zentrel tst_soak
	@cd $(BUILD)/tests && QT_QPA_PLATFORM=offscreen ZENTREL_SOAK_CONNECTIONS=$(SOAK_CONNECTIONS) ./tst_soak

# Installs into $(DESTDIR)$(PREFIX), e.g. make install PREFIX=/usr DESTDIR=/tmp/stage
PREFIX ?= /usr/local
install: program
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# The Debian package $(BUILD)/zentrel_<version>_<arch>.deb
package: program
	@scripts/install-deps package
	@cd $(BUILD) && cpack -G DEB

# The OCI image $(BUILD)/zentrel-serve-<version>.oci.tar (static programs, FROM scratch).
image: deps-image configure
	@scripts/build-image $(BUILD)

# Builds the image twice (the same ID and bytes both times), checks its layout and programs,
# and runs it where podman can run containers. Kept out of `make test`: the static
# build alone takes minutes.
image-test: deps-test image
	@scripts/build-image $(BUILD) $(BUILD)/image/again.oci.tar >/dev/null
	@PYTHONPATH=python /usr/bin/python3 -m pytest -q -rs -p no:cacheprovider tests/python/test_image.py \
	    --image=$$(ls $(BUILD)/zentrel-serve-*.oci.tar | head -1) --image-again=$(BUILD)/image/again.oci.tar

clean:
	rm -rf $(BUILD)
