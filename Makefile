# Thin wrapper over CMake: every target installs what is missing, configures
# under build/ and builds.
BUILD ?= build
JOBS ?= $(shell nproc)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

FUZZ_SECONDS ?= 60

.PHONY: all deps configure build demo test asan tsan thread-safety fuzz oracle oracle-reg bench install package format format-check clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# What is installed: the libraries, the tools and their man pages.
INSTALL_TARGETS := utilDebug nlplatform nlclusapi qpreg qpdebug qpdbgview qpreg_man_1 qpdebug_man_1 qpdbgview_man_1
# What the demo and the README's quick start run: the installed part, the demo programs.
DEMO_TARGETS := $(INSTALL_TARGETS) demo demo_plugin
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(DEMO_TARGETS)
	$(BUILD)/examples/run_demo.sh

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Sanitizer builds live in their own trees. log4cxx 1.0 frees its rolling
# policy through the wrong type at exit (inside the library, not ours), so
# that one check is off.
asan: deps
	cmake -S . -B build-asan $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DNL_SANITIZE=address
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=new_delete_type_mismatch=0 ctest --output-on-failure -j $(JOBS)

tsan: deps
	cmake -S . -B build-tsan $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DNL_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -j $(JOBS)

# The lock rules, checked at compile time: the library's units built with
# clang's thread-safety analysis, its warnings as errors (build-tsa/).
thread-safety: deps
	CC=clang CXX=clang++ cmake -S . -B build-tsa $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DNL_THREAD_SAFETY=ON
	cmake --build build-tsa --target utilDebug utilDebug_internal -j $(JOBS)

# libFuzzer targets, built with clang in their own tree; each runs for
# FUZZ_SECONDS from the seeds in tests/fuzz/ (scripts/fuzz.sh).
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNL_FUZZ=ON
	cmake --build build-fuzz --target fuzz_targets -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh build-fuzz

# The platform layer against Wine's implementations, and qpreg against Wine's
# reg.exe (both install Wine when it is missing); not part of the suite.
oracle: build
	../shared/oracle/run.sh

oracle-reg: build
	../shared/oracle/reg/run.sh

bench: configure
	cmake --build $(BUILD) -j $(JOBS) --target utildebug_bench
	$(BUILD)/bench/utildebug_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
	    --benchmark_report_aggregates_only=true
	@# The journal record, beside a journald of its own (needs root; says so otherwise).
	rm -rf $(BUILD)/bench-journal
	scripts/with-journald.sh $(BUILD)/bench-journal $(BUILD)/bench/utildebug_journal_bench \
	    --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
	    --benchmark_report_aggregates_only=true || [ $$? -eq 77 ]
	rm -rf $(BUILD)/bench-journal

# Installs under PREFIX (default /usr/local); DESTDIR stages it elsewhere.
PREFIX ?= /usr/local
install: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(INSTALL_TARGETS)
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian packages (debian/), built by dpkg-buildpackage from a copy of the
# tree: build/debian/*.deb, with lintian's verdict.
package: deps
	scripts/build-packages.sh $(BUILD)/debian $(JOBS)
	lintian --fail-on error,warning $(BUILD)/debian/*.changes

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Fails on any source file that `make format` would change.
format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) build-asan build-tsan build-tsa build-fuzz
