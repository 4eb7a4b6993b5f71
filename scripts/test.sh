#!/usr/bin/env bash
# Installs the dependencies, builds everything, runs the whole test suite, renders every
# window at two scale factors, then fuzzes every parser of network and file input for a
# short while.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2

# Every window and box rendered at scale factors 1 and 2, for review; a window that cannot
# be rendered fails the run.
for scale in 1 2; do
  QT_SCALE_FACTOR=$scale build/tools/screenshot/ostrel-screenshot "build/screenshots/x$scale" \
    >"build/screenshots-x$scale.log" 2>&1 || {
    cat "build/screenshots-x$scale.log"
    echo "the screenshot tool failed at scale factor $scale"
    exit 1
  }
done
echo "screenshots: build/screenshots/x1 and build/screenshots/x2"

# Fuzz smoke runs: a separate clang build with libFuzzer, AddressSanitizer and UBSan.
fuzz_seconds="${OSTREL_FUZZ_SECONDS:-15}"
if [ "$fuzz_seconds" -gt 0 ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DOSTREL_BUILD_FUZZ=ON -DOSTREL_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined"
  targets=$(ninja -C build-fuzz -t targets all | sed -n 's|^\(tests/fuzz/fuzz_[a-z_]*\): .*|\1|p' |
    grep -v autogen | sort -u)
  # shellcheck disable=SC2086
  cmake --build build-fuzz -j"$(nproc)" --target $(basename -a $targets)
  for t in $targets; do
    echo "== fuzzing $(basename "$t") for ${fuzz_seconds}s"
    log="build-fuzz/$(basename "$t").log"
    # Seeds kept in the repo are read; what the run finds goes to a folder of the build.
    corpus=()
    seeds="tests/fuzz/corpus/$(basename "$t")"
    if [ -d "$seeds" ]; then
      mkdir -p "build-fuzz/corpus/$(basename "$t")"
      corpus=("build-fuzz/corpus/$(basename "$t")" "$seeds")
    fi
    if ! "build-fuzz/$t" ${corpus[@]+"${corpus[@]}"} -max_total_time="$fuzz_seconds" \
      -rss_limit_mb=2048 >"$log" 2>&1; then
      tail -n 60 "$log"
      echo "fuzz target $(basename "$t") failed"
      exit 1
    fi
    tail -n 1 "$log"
  done
fi
