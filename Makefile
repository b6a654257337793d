# make run   - install what is missing, build, and start Tarnwick (on the bundled
#              virtual tape when no tape drive is present)
# make test  - install what is missing, build with warnings as errors, run every test
# make deb   - (optional) the Debian package build/deb/tarnwick_*.deb, checked by lintian
# make fuzz  - (optional) build the .tap reader's fuzzer with clang into build-fuzz/
#              and run it for FUZZ_TIME seconds (default 300)
# make fresh-check - (long) `make test` in a new minimal Debian 12 root, from the
#              committed HEAD: proves that install-deps installs all it needs
BUILD ?= build
JOBS ?= $(shell nproc)
FUZZ_BUILD ?= build-fuzz
FUZZ_TIME ?= 300

.PHONY: deps configure build run test deb fuzz fresh-check clean

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_WERROR=ON

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-tarnwick $(BUILD)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

deb: build
	rm -f $(BUILD)/deb/tarnwick_*.deb
	cd $(BUILD) && cpack --config CPackConfig.cmake -B deb
	lintian --fail-on error $(BUILD)/deb/tarnwick_*.deb

fuzz: deps
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DTARNWICK_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_tap_reader
	$(FUZZ_BUILD)/bin/fuzz_tap_reader -max_total_time=$(FUZZ_TIME) $(FUZZ_BUILD)/corpus tests/data/tap

fresh-check:
	scripts/fresh-check

clean:
	rm -rf $(BUILD)
