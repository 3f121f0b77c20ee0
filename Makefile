# Flowloom: set-up, build, run and test on Debian 12.
#   make run            installs what is missing, builds, and opens the window (without a
#                       display it renders build/flowloom.bmp with flowloom-render instead)
#   make test           installs what is missing, builds, and runs every test
#   make test-sanitize  the whole test suite under AddressSanitizer and UBSan
#   make fuzz           builds the file readers' libFuzzer targets and runs each FUZZ_SECONDS
#   make bench          builds and runs the benchmarks
#   make install        builds and installs under PREFIX (/usr/local; DESTDIR for staging)
#   make uninstall      removes what the last install from BUILD put in place
#   make docs           regenerates docs/guide.md's screenshots and pictures (needs Xvfb)

BUILD         ?= build
SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD    ?= build-fuzz
FUZZ_SECONDS  ?= 60
JOBS          ?= $(shell nproc)
SHELL         := /bin/bash
PREFIX        ?= /usr/local
MANIFEST      ?= $(BUILD)/install_manifest.txt

PACKAGES := cmake ninja-build g++ clang libclang-rt-14-dev libomp-14-dev pkg-config zlib1g-dev \
            libgtest-dev libbenchmark-dev libcli11-dev imagemagick python3-pil \
            libavformat-dev libavcodec-dev libavutil-dev libswscale-dev ffmpeg qt6-base-dev fonts-dejavu-core \
            libhwy-dev libnetcdf-dev netcdf-bin libpng-dev libjpeg62-turbo-dev \
            pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-dask python3-distributed \
            python3-netcdf4 python3-xarray python3-pip python3-setuptools help2man \
            python3-matplotlib python3-skimage libcairo2-dev

# Ninja for a new build directory (deps has installed it by then); an existing one keeps
# the generator it was made with.
generator = $$(if [ ! -f $(1)/CMakeCache.txt ] && command -v ninja >/dev/null; then echo "-G Ninja"; fi)
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)

.PHONY: all deps build run test test-sanitize fuzz bench install uninstall docs clean

all: build

# Only what `make docs` needs: a virtual X server, a mouse and keyboard driver, screenshots.
DOCS_PACKAGES := xvfb xdotool imagemagick

# Installs whichever of the packages $(1) are missing.
install_missing = missing=""; \
	for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

deps:
	@$(call install_missing,$(PACKAGES))

build: deps
	cmake -S . -B $(BUILD) $(call generator,$(BUILD)) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  ./$(BUILD)/flowloom; \
	else \
	  echo "No display (DISPLAY and WAYLAND_DISPLAY are empty), so no window: rendering a picture instead."; \
	  ./$(BUILD)/flowloom-render -o $(BUILD)/flowloom.bmp && echo "The picture is $(abspath $(BUILD))/flowloom.bmp"; \
	fi

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) $(call generator,$(SANITIZE_BUILD)) -DCMAKE_BUILD_TYPE=Debug -DFLOWLOOM_SANITIZE=ON -DFLOWLOOM_BENCH=OFF
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(LSAN_SUPPRESSIONS) ctest --output-on-failure -j $(JOBS)

# Leaks that LeakSanitizer finds inside the netCDF and HDF5 libraries, by library.
LSAN_SUPPRESSIONS := $(CURDIR)/tests/lsan_suppressions.txt
# A single allocation above this stops a fuzz run: no input of a few kilobytes may make a
# reader allocate a gigabyte.
FUZZ_MALLOC_LIMIT_MB ?= 1024

# What a fuzz run prints, less the readers' own diagnostics (standard output), the line per
# new input and the dictionary: the start and final coverage, the statistics and any report.
FUZZ_QUIET := /^\#[0-9]+[[:space:]]+(NEW|REDUCE|pulse|RELOAD)/d; /^\#\#\#\#\#\# Recommended dictionary/,/^\#\#\#\#\#\# End of recommended/d

fuzz: deps
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(call generator,$(FUZZ_BUILD)) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLOWLOOM_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@set -eo pipefail; for target in $(FUZZ_BUILD)/*_fuzz; do \
	  name=$$(basename $$target _fuzz); \
	  corpus=$(FUZZ_BUILD)/corpus-$$name; mkdir -p $$corpus; \
	  seeds=$$(ls -d fuzz/corpus/$$name 2>/dev/null || true); \
	  echo "== $$name: $(FUZZ_SECONDS) s"; \
	  LSAN_OPTIONS=suppressions=$(LSAN_SUPPRESSIONS) $$target -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=4096 \
	    -malloc_limit_mb=$(FUZZ_MALLOC_LIMIT_MB) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD)/ $$corpus $$seeds 2>&1 >/dev/null | sed -E '$(FUZZ_QUIET)'; \
	done

bench: build
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; $$b; done

docs: build
	@$(call install_missing,$(DOCS_PACKAGES))
	bash docs/make_guide.sh $(BUILD)

install: build
	DESTDIR="$(DESTDIR)" $(if $(DESTDIR),,$(SUDO)) cmake --install $(BUILD) --prefix "$(PREFIX)"

# The manifest lists every installed file (without DESTDIR, which applies again here; its
# last line has no newline). Folders that are Flowloom's alone go too once empty; shared
# ones such as bin/ stay.
uninstall:
	@test -f "$(MANIFEST)" || { echo "$(MANIFEST) is missing: nothing was installed from $(BUILD)."; exit 1; }
	@while IFS= read -r file || [ -n "$$file" ]; do \
	  file="$(DESTDIR)$$file"; \
	  if [ -e "$$file" ] || [ -L "$$file" ]; then $(SUDO) rm -f -- "$$file" && echo "Removed $$file"; fi; \
	done < "$(MANIFEST)"
	@sed -n -e 's|^\(.*/share/flowloom\)/.*|\1|p' -e 's|^\(.*/share/doc/flowloom\)/.*|\1|p' "$(MANIFEST)" | sort -u | \
	while IFS= read -r dir; do \
	  dir="$(DESTDIR)$$dir"; \
	  if [ -d "$$dir" ]; then $(SUDO) find "$$dir" -depth -type d -empty -delete; fi; \
	done

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD)
