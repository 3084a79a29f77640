# Developer targets. README.md's two commands, scripts/run.sh and
# scripts/test.sh, install what is missing (make included) and then call
# `make run` and `make check lint package-check check-asan fuzz`.
#   make run          builds the program and starts it
#   make test         installs what is missing, builds, runs the whole suite,
#                     lints the product code, checks the packages, runs the
#                     suite again under AddressSanitizer + UBSan, then runs
#                     the fuzz targets for a bounded time
#   make lint         clang-format and clang-tidy (the committed settings) over
#                     the product code, with build/compile_commands.json;
#                     fails on any deviation or warning (scripts/lint.sh)
#   make fuzz         builds the libFuzzer targets with clang (build-fuzz/) and
#                     runs each for FUZZ_SECONDS (default 20) seconds
#   make bench        builds and runs the benchmarks, prints the ratio tables
#   make bench-session  the SMTP session benchmark against curl (needs strace
#                     for the system call counts), prints its table
#   make bench-mail   the mail benchmark against curl (whole processes, the
#                     test mail and large mails) with the in-process server,
#                     prints its tables
#   make bench-postfix  the same, in the same run also against Postfix
#                     (scripts/bench-postfix.sh installs it when missing and
#                     runs one on 127.0.0.1 only, as root), prints the
#                     README's mail tables
#   make package      builds build-package/wakebell-setup_<version>-<revision>_<arch>.deb
#                     and build-package/libwakebell-settings-dev_<...>.deb in a
#                     build of their own, with Debian's hardening flags
#   make package-check  builds the packages and checks them with lintian,
#                     appstreamcli and desktop-file-validate
#   make screenshot   remakes docs/setup-form.png (the form under Xvfb) and
#                     the walkthrough's docs/walkthrough-* (a local server)
#                     and docs/address-fill.png (a form filled from an address)
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test deps build build-asan check check-asan lint fuzz bench bench-session bench-mail bench-postfix package package-check screenshot clean

run: deps build
	./build/setup/wakebell-setup

test: deps check lint package-check check-asan fuzz

deps:
	./scripts/install-deps.sh

build:
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWAKEBELL_WERROR=ON $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

build-asan:
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWAKEBELL_WERROR=ON \
	      -DWAKEBELL_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)

check: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

check-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest --test-dir build-asan --output-on-failure -j $(JOBS)

lint: build
	JOBS=$(JOBS) ./scripts/lint.sh build

fuzz:
	./scripts/fuzz.sh

bench: deps build
	./build/bench/codec_bench --benchmark_min_time=0.5 --benchmark_repetitions=5 \
	    --benchmark_report_aggregates_only=true --benchmark_out_format=json \
	    --benchmark_out=build/codec_bench.json
	./scripts/bench-table.py build/codec_bench.json

bench-session: deps build
	./build/bench/smtp_session_bench --benchmark_out_format=json \
	    --benchmark_out=build/smtp_session_bench.json
	./scripts/bench-session-table.py build/smtp_session_bench.json

MAIL_BENCH = ./build/bench/smtp_mail_bench --trace-dir=build/mail-bench-traces \
	    --benchmark_out_format=json --benchmark_out=build/smtp_mail_bench.json

bench-mail: deps build
	$(MAIL_BENCH)
	./scripts/bench-mail-table.py build/smtp_mail_bench.json

bench-postfix: deps build
	./scripts/bench-postfix.sh sh -c \
	    '$(MAIL_BENCH) --postfix-port=$$POSTFIX_PORT --postfix-ca=$$POSTFIX_CA'
	./scripts/bench-mail-table.py build/smtp_mail_bench.json

# The packages' build: Debian's hardening flags (fortify, stack protector,
# relro, bindnow) as dpkg-buildflags gives them, without tests or benchmarks.
BUILDFLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get

package:
	cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DWAKEBELL_BUILD_TESTS=OFF -DWAKEBELL_BUILD_BENCHMARKS=OFF \
	      -DCMAKE_CXX_FLAGS="$$($(BUILDFLAGS) CPPFLAGS) $$($(BUILDFLAGS) CXXFLAGS)" \
	      -DCMAKE_EXE_LINKER_FLAGS="$$($(BUILDFLAGS) LDFLAGS)" \
	      -DCMAKE_SHARED_LINKER_FLAGS="$$($(BUILDFLAGS) LDFLAGS)" $(CMAKE_FLAGS)
	cmake --build build-package -j $(JOBS) --target package

package-check:
	./scripts/check-package.sh

screenshot: build
	./scripts/screenshot-form.sh build docs/setup-form.png
	./scripts/screenshot-walkthrough.sh build
	./scripts/screenshot-address-fill.sh build docs/address-fill.png

clean:
	rm -rf build build-asan build-package build-fuzz
