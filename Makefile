# make run   - install what is missing, build, and start Tarnwick (on the bundled
#              virtual tape when no tape drive is present)
# make test  - install what is missing, build with warnings as errors, run every test
# make deb   - (optional) the Debian package build/deb/tarnwick_*.deb, checked by lintian
# make fresh-check - (long) `make test` in a new minimal Debian 12 root, from the
#              committed HEAD: proves that install-deps installs all it needs
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: deps configure build run test deb fresh-check clean

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

fresh-check:
	scripts/fresh-check

clean:
	rm -rf $(BUILD)
