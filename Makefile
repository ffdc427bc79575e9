# SPDX-License-Identifier: GPL-3.0-or-later
# The two commands of the README:
#   make run [BOOK=path/to/diary.KIV]   set up, build and start the program
#   make test                           set up, build and run every test
# and for installing:
#   make install [PREFIX=/usr/local] [DESTDIR=staging]
#   make package                        a Debian package in $(PACKAGE_BUILD)/
# and for developers:
#   make monkey [SEED=n] [DURATION=seconds]   random input to the program built
#                                       with the sanitizers (10 minutes, a new seed)

BUILD ?= build
# The package is built from what is installed alone: no tests, no benchmarks.
PACKAGE_BUILD ?= $(BUILD)-package
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BOOK ?=
WERROR := $(if $(CI),ON,OFF)
PREFIX ?= /usr/local
DESTDIR ?=
MONKEY_BUILD ?= $(BUILD)-asan
SEED ?=
DURATION ?= 600

.PHONY: run test deps build bench install package clean monkey

deps:
	./scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DKIV_WERROR=$(WERROR)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/app/kiv $(if $(BOOK),"$(BOOK)")

test: deps
	./scripts/run-tests

# Installed straight onto this machine (no DESTDIR), the desktop's file type
# and menu caches are brought up to date; a package's installer does that
# itself.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"
	@if [ -z "$(DESTDIR)" ]; then \
		! command -v update-mime-database >/dev/null || update-mime-database "$(PREFIX)/share/mime"; \
		! command -v update-desktop-database >/dev/null || update-desktop-database -q "$(PREFIX)/share/applications"; \
	fi

package: deps
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DKIV_WERROR=$(WERROR) -DKIV_TESTS=OFF -DKIV_BENCH=OFF
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cd $(PACKAGE_BUILD) && cpack -G DEB

# The seed is printed first; SEED=n runs that one again.
monkey: deps
	cmake -S . -B $(MONKEY_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_SANITIZE=ON -DKIV_BENCH=OFF -DKIV_WERROR=$(WERROR)
	cmake --build $(MONKEY_BUILD) -j $(JOBS) --target kiv_monkey
	QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
		./$(MONKEY_BUILD)/tests/monkey/kiv_monkey $(if $(SEED),--seed $(SEED)) --seconds $(DURATION)

bench: build
	./scripts/run-benchmarks $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize $(BUILD)-fuzz $(MONKEY_BUILD) $(PACKAGE_BUILD)
