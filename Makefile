# Quorvit: make demo (build and run over the example home), make test (build and run every test).
BUILD      ?= build
DEMO_BUILD ?= build-release
JOBS       ?= $(shell nproc)

# Debian packages the build, the tests and the demo need.
PACKAGES = cmake ninja-build g++ clang libclang-rt-dev qt6-base-dev libplist-dev libplist-utils \
           libgtest-dev libgmock-dev googletest libbenchmark-dev dbus dbus-x11 attr clang-format \
           curl openssl libsqlite3-dev qtkeychain-qt6-dev gnome-keyring python3-pyftpdlib lighttpd \
           lighttpd-mod-webdav libqt6svg6 xvfb xauth
PACKAGES += avahi-daemon iproute2
PACKAGES += time
PACKAGES += qt6-httpserver-dev
# Debian's qt6-httpserver-dev needs it for its CMake files but does not depend on it.
PACKAGES += qt6-websockets-dev

.PHONY: all deps build test demo gui bench fuzz tsan format clean interop

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	    echo "Installing:$$missing"; \
	    SUDO=""; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
	    $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVIT_SANITIZE=ON

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

$(DEMO_BUILD)/build.ninja:
	cmake -S . -B $(DEMO_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVIT_TESTS=OFF

demo: deps $(DEMO_BUILD)/build.ninja
	cmake --build $(DEMO_BUILD) -j $(JOBS) --target quorvit-cli
	@sh examples/demo.sh $(DEMO_BUILD)/apps/quorvit-cli/quorvit-cli

# The desktop program over a temporary copy of the example home.
gui: deps $(DEMO_BUILD)/build.ninja
	cmake --build $(DEMO_BUILD) -j $(JOBS) --target quorvit quorvit-cli
	@sh examples/gui.sh $(DEMO_BUILD)/apps/quorvit/quorvit $(DEMO_BUILD)/apps/quorvit-cli/quorvit-cli

bench: deps
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVIT_TESTS=OFF -DQUORVIT_BENCH=ON
	cmake --build build-bench -j $(JOBS)
	./build-bench/bench/quorvit-bench
	./build-bench/bench/quorvit-gui-bench
	@echo; bench/perf_table.sh build-bench

# Real browsers read what Quorvit wrote (not part of make test; installs the browsers on demand).
interop: build
	@set -e; for s in tests/interop/*.sh; do [ -f "$$s" ] || continue; echo "== $$s"; sh "$$s" $(BUILD); done

# Short libFuzzer runs: make fuzz FUZZ_SECONDS=60
FUZZ_SECONDS ?= 20
FUZZ_SEED ?= 0
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVIT_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS)
	@set -e; failed=0; for t in build-fuzz/tests/fuzz/fuzz_*; do \
	    [ -x "$$t" ] || continue; name=$$(basename $$t); mkdir -p build-fuzz/corpus/$$name; \
	    echo "== $$name ($(FUZZ_SECONDS) s)"; \
	    if $$t -seed=$(FUZZ_SEED) -max_total_time=$(FUZZ_SECONDS) -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
	        build-fuzz/corpus/$$name tests/fuzz/seeds > build-fuzz/$$name.log 2>&1; then \
	        tail -n 1 build-fuzz/$$name.log; \
	    else \
	        tail -n 40 build-fuzz/$$name.log; failed=1; \
	    fi; \
	done; exit $$failed

# The threaded parts under ThreadSanitizer (Qt's own futex-based queue is suppressed).
tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-fsanitize=thread -O1 -g" \
	    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread"
	cmake --build build-tsan -j $(JOBS) --target test_sync_engine test_backup quorvit-cli
	TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/tsan.supp" ./build-tsan/tests/sync/test_sync_engine
	TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/tsan.supp" ./build-tsan/tests/backup/test_backup

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(DEMO_BUILD) build-bench build-fuzz build-tsan
