# Entry points: `make run` and `make test` do every set-up step themselves.
BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= 2
CMAKE_ARGS ?=

.PHONY: deps configure build test test-package package test-sanitize run screenshots bench clean format format-check

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS) -LE package
	cd $(BUILD) && ctest --output-on-failure -L package

# The Debian package: build/velmora_<version>-1_<arch>.deb.
package: build
	@cmake --build $(BUILD) --target package

# The package built, then checked: its contents, lintian, desktop-file-validate,
# appstreamcli, and the programs run from an unpacked copy.
test-package: build
	cd $(BUILD) && ctest --output-on-failure -L package

test-sanitize: deps
	@cmake -S . -B $(BUILD_ASAN) -DVELMORA_SANITIZE=ON -DVELMORA_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(BUILD_ASAN) -j$(JOBS)
	cd $(BUILD_ASAN) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/support/lsan.supp \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j$(JOBS) -LE package

# Every benchmark runs; the target fails afterwards if any of them missed a goal or
# could not measure one. Each appends its figures to the file VELMORA_BENCH_SUMMARY
# names, printed at the end as one table (a benchmark that ended without figures
# gets a line of its own). The window benchmarks run on a real X server (Xvfb
# without a display): offscreen hides what a window system costs, a message box
# most of all.
BENCH_X = $(if $(DISPLAY),env QT_QPA_PLATFORM=xcb,xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb)
bench: build
	@summary=$$(mktemp); failed=""; for b in $(BUILD)/bench/bench_*; do \
	    name=$$(basename $$b); echo "== $$name"; before=$$(wc -l < $$summary); \
	    VELMORA_BENCH_SUMMARY=$$summary $(BENCH_X) $$b; rc=$$?; \
	    if [ $$rc -ne 0 ]; then failed="$$failed $$name"; fi; \
	    if [ "$$(wc -l < $$summary)" = "$$before" ]; then \
	        if [ $$rc -eq 0 ]; then verdict=met; else verdict="NOT MEASURED"; fi; \
	        printf '%s\t(the whole run)\t-\texit %s, figures above only\t%s\n' \
	            $$name $$rc "$$verdict" >> $$summary; fi; \
	done; \
	echo; echo "== summary"; \
	awk -F'\t' 'BEGIN { split("bench figure goal measured verdict", h, " ") } \
	    { for (i = 1; i <= 5; i++) { c[NR, i] = $$i; if (length($$i) > w[i]) w[i] = length($$i) } } \
	    END { for (i = 1; i <= 5; i++) if (length(h[i]) > w[i]) w[i] = length(h[i]); \
	          fmt = "%-" w[1] "s  %-" w[2] "s  %-" w[3] "s  %" w[4] "s  %s\n"; \
	          printf fmt, h[1], h[2], h[3], h[4], h[5]; \
	          for (r = 1; r <= NR; r++) printf fmt, c[r, 1], c[r, 2], c[r, 3], c[r, 4], c[r, 5] }' \
	    $$summary; rm -f $$summary; \
	if [ -n "$$failed" ]; then echo "bench: a goal was missed or not measured by:$$failed"; exit 1; fi

# The program against its built-in virtual splicer, in a working folder that
# holds par/ (its device folders are made there too).
RUN_DIR = $(BUILD)/run
run: build
	@mkdir -p $(RUN_DIR)/par
	@cp par/*.ini $(RUN_DIR)/par/
	cd $(RUN_DIR) && $(abspath $(BUILD))/velmora --demo

# A team archive to try (scripts/team-demo.sh): a throwaway PostgreSQL server in
# $(BUILD)/team-demo, two demo laptops (data folders laptop-a and laptop-b) joined to
# it, and laptop A's demo window; the server stops when the window closes. Stop and
# start it meanwhile to try working offline.
.PHONY: team-demo team-demo-stop team-demo-start
team-demo: build
	@BUILD=$(BUILD) bash scripts/team-demo.sh run

team-demo-stop:
	@BUILD=$(BUILD) bash scripts/team-demo.sh stop

team-demo-start:
	@BUILD=$(BUILD) bash scripts/team-demo.sh start

# The main window with each tab, in English and in Chinese, as PNG files.
screenshots: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/velmora-screenshots par $(BUILD)/screenshots
	cd $(BUILD) && VELMORA_SCREENSHOTS=$(abspath $(BUILD))/screenshots QT_QPA_PLATFORM=offscreen \
	    ctest -R 'Screen|Shots' --output-on-failure

clean:
	rm -rf $(BUILD) $(BUILD_ASAN)

# The project's .clang-format over every C++ file it tracks.
FORMAT_FILES = $(shell git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h')
format:
	@clang-format -i $(FORMAT_FILES)

format-check: deps
	@clang-format --dry-run -Werror $(FORMAT_FILES)

# The libFuzzer harnesses of fuzz/, built with clang (a project of their own) and
# each run for FUZZ_SECONDS seconds on a copy of its seed folder.
BUILD_FUZZ   ?= build-fuzz
FUZZ_SECONDS ?= 8
.PHONY: fuzz
fuzz: deps
	@bash fuzz/install-deps.sh
	@CC=clang CXX=clang++ cmake -S fuzz -B $(BUILD_FUZZ) >/dev/null
	@nice cmake --build $(BUILD_FUZZ) -j$(JOBS)
	@FUZZ_SECONDS=$(FUZZ_SECONDS) bash fuzz/run.sh $(BUILD_FUZZ)

# The Windows program, cross-built with mingw-w64 against the static Qt, SQLite,
# libxlsxwriter and libpq with OpenSSL that scripts/windows/ build once into their
# cache, packed as a zip.
BUILD_WIN ?= build-windows
WIN_ZIP    = $(BUILD_WIN)/velmora-windows-x64.zip
.PHONY: windows windows-msi test-windows
windows:
	@bash scripts/windows/install-deps.sh
	@QT_PREFIX=$$(bash scripts/windows/build-qt.sh) && SQLITE_PREFIX=$$(bash scripts/windows/build-sqlite.sh) && \
	    XLSX_PREFIX=$$(bash scripts/windows/build-xlsxwriter.sh) && \
	    LIBPQ_PREFIX=$$(bash scripts/windows/build-libpq.sh) && \
	    nice cmake -S . -B $(BUILD_WIN) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	        -DVELMORA_WINDOWS_PREFIX="$$QT_PREFIX;$$SQLITE_PREFIX;$$XLSX_PREFIX;$$LIBPQ_PREFIX" \
	        -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_BENCH=OFF >/dev/null
	@nice cmake --build $(BUILD_WIN) -j$(JOBS) --target velmora velmora-cli
	@rm -rf $(BUILD_WIN)/package && mkdir -p $(BUILD_WIN)/package/velmora/par
	@x86_64-w64-mingw32-strip -o $(BUILD_WIN)/package/velmora/velmora.exe $(BUILD_WIN)/velmora.exe
	@x86_64-w64-mingw32-strip -o $(BUILD_WIN)/package/velmora/velmora-cli.exe $(BUILD_WIN)/velmora-cli.exe
	@cp par/*.ini $(BUILD_WIN)/package/velmora/par/
	@sed 's/$$/\r/' scripts/windows/README.txt > $(BUILD_WIN)/package/velmora/README.txt
	@rm -f $(WIN_ZIP) && cd $(BUILD_WIN)/package && zip -qr9 ../velmora-windows-x64.zip velmora
	@ls -l $(WIN_ZIP) $(BUILD_WIN)/package/velmora/*.exe

# The Windows installer of the same files: $(BUILD_WIN)/velmora-<version>-x64.msi (wixl),
# installing per machine under Program Files\Velmora (packaging/windows/velmora.wxs).
windows-msi: windows
	@ls -l "$$(bash scripts/windows/build-msi.sh $(BUILD_WIN))"

# The Windows build under Wine (a fresh prefix): the core's tests cross-built, every
# velmora-cli command through a Wine COM port to the Linux virtual splicer (compared
# with the Linux build's), a send to a team archive on the Linux test server over TLS,
# the demo window with a screenshot, and the installer:
# install, the installed demo, an upgrade to the next version, uninstall.
test-windows: windows-msi configure
	@nice cmake --build $(BUILD) -j$(JOBS) --target velmora-sim velmora-cli velmora-test-team-server
	@nice cmake --build $(BUILD_WIN) -j$(JOBS) --target velmora_core_tests velmora_win32_tests
	@bash scripts/windows/test-windows.sh $(BUILD_WIN) $(BUILD)
