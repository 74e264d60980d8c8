# Orvex: two commands for a new user.
#   make demo   install what is missing, build, run the demo programs against each other
#   make test   install what is missing, build both builds, run the whole test suite
#               (plain, then under ASan+UBSan, then under TSan)
# More: make build, make bench, make asan, make tsan, make fuzz, make clean
#   make fuzz   builds the libFuzzer programs with clang into $(BUILD)/fuzz and runs each
#               for FUZZ_SECONDS (default 60), one after the other
#   make soak   1,000,000 jobs through 4 masters and 2 slaves with random disconnects
#               (SOAK_ARGS, e.g. "--jobs 50000"); make soak-asan runs a short one under
#               ASan+LeakSanitizer. Neither is part of make test.

BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
WERROR     := $(if $(ORVEX_WERROR),-DORVEX_WERROR=ON,)
CTEST_ARGS ?= --output-on-failure
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := decode_parameters stored_blob cache_file master_dispatch slave_dispatch
SOAK_ARGS  ?=

.PHONY: all build deps test test-plain asan tsan bench demo demo-gui fuzz fuzz-deps soak soak-asan clean

all: build

deps:
	@tools/install-deps.sh test

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(WERROR) $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test-plain: build
	cd $(BUILD) && ctest $(CTEST_ARGS) -j $(JOBS)

$(BUILD)/asan/build.ninja:
	cmake -S . -B $(BUILD)/asan -G Ninja $(WERROR) -DORVEX_SANITIZE=address \
	    -DORVEX_BUILD_BENCH=OFF -DORVEX_BUILD_DEMOS=OFF -DCMAKE_BUILD_TYPE=Debug $(CMAKE_ARGS)

asan: deps $(BUILD)/asan/build.ninja
	cmake --build $(BUILD)/asan -j $(JOBS)
	cd $(BUILD)/asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest $(CTEST_ARGS) -j $(JOBS) -E '^header_|exported_symbols'

$(BUILD)/tsan/build.ninja:
	cmake -S . -B $(BUILD)/tsan -G Ninja $(WERROR) -DORVEX_SANITIZE=thread \
	    -DORVEX_BUILD_BENCH=OFF -DORVEX_BUILD_DEMOS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

tsan: deps $(BUILD)/tsan/build.ninja
	cmake --build $(BUILD)/tsan -j $(JOBS)
	cd $(BUILD)/tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	    ctest $(CTEST_ARGS) -j $(JOBS) -E '^header_|exported_symbols'

test: test-plain asan tsan
	@echo "make test: plain, ASan+UBSan and TSan suites passed"

bench: build
	@for b in $(BUILD)/bin/bench_*; do echo "== $$b"; $$b --benchmark_min_time=0.2; done

demo: build
	@tools/run-demo.sh $(BUILD)

demo-gui: build
	@tools/install-deps.sh gui
	@tools/run-demo.sh $(BUILD) --gui

fuzz-deps:
	@tools/install-deps.sh fuzz

$(BUILD)/fuzz/build.ninja:
	cmake -S . -B $(BUILD)/fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	    -DORVEX_FUZZ=ON -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_BENCH=OFF -DORVEX_BUILD_DEMOS=OFF \
	    $(CMAKE_ARGS)

fuzz: fuzz-deps $(BUILD)/fuzz/build.ninja
	cmake --build $(BUILD)/fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@tools/run-fuzz.sh $(BUILD)/fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

soak: build
	$(BUILD)/bin/orvex_soak $(SOAK_ARGS)

soak-asan: deps $(BUILD)/asan/build.ninja
	cmake --build $(BUILD)/asan -j $(JOBS) --target orvex_soak
	ASAN_OPTIONS=detect_leaks=1 $(BUILD)/asan/bin/orvex_soak --jobs 50000 --kick-ms 20 $(SOAK_ARGS)

clean:
	rm -rf $(BUILD)
