# The two commands of the README. Both install what they need first.
.PHONY: test demo demo-program deps build clean fuzz bench

test: deps
	scripts/run-tests.sh

demo: deps
	scripts/demo.sh

# The desktop program under Wine against simulated devices; saves a screenshot.
demo-program: deps
	scripts/demo-program.sh

deps:
	scripts/install-deps.sh

build: deps
	scripts/build.sh all

fuzz: deps
	scripts/fuzz.sh

# Every benchmark script against the native build (each runs in a test network of its own).
bench: deps
	scripts/build.sh native
	for b in bench/*.sh; do $$b || exit 1; done

clean:
	rm -rf build
