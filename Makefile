# The two commands of the README:
#   make run [BOOK=path/to/diary.KIV]   set up, build and start the program
#   make test                           set up, build and run every test

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BOOK ?=
WERROR := $(if $(CI),ON,OFF)

.PHONY: run test deps build bench clean

deps:
	./scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DKIV_WERROR=$(WERROR)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/app/kiv $(if $(BOOK),"$(BOOK)")

test: deps
	./scripts/run-tests

bench: build
	./scripts/run-benchmarks $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize $(BUILD)-fuzz
