#!/usr/bin/env bash
# The test script itself: with one tool hidden from PATH (xvfb-run, which the program test needs),
# a CI run fails and names the tool, a local run skips the test and names the tool; a selection
# that finds no test fails. The program test runs from a folder of its own here, so this run keeps
# away from the logs of the ctest run around it.
#   test_script_test.sh <build folder> <test tmp folder>
set -uo pipefail
build="$1"
source="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
. "$source/tests/support/test_folder.sh"
test_folder "$2" test_script
scratch="$test_folder"
mkdir -p "$scratch/bin" "$scratch/tests"

# Every program on PATH but xvfb-run (the first of a name, as PATH finds it), linked in one call.
declare -A seen=([xvfb-run]=1)
tools=()
IFS=: read -ra folders <<< "$PATH"
for folder in "${folders[@]}"; do
  [ -d "$folder" ] || continue
  for tool in "$folder"/*; do
    name="${tool##*/}"
    [ -n "${seen[$name]:-}" ] && continue
    seen[$name]=1
    [ -x "$tool" ] && tools+=("$tool")
  done
done
ln -s -t "$scratch/bin" "${tools[@]}"
PATH="$scratch/bin" command -v xvfb-run >/dev/null && { echo "xvfb-run is still on PATH"; exit 1; }

# test.sh runs from a copy whose install and build steps stand aside: this test runs inside a test
# run over the build, which it must not build again (a second build over the folder under test could
# replace the programs that the run around it is testing).
mkdir -p "$scratch/scripts"
cp "$source/scripts/test.sh" "$scratch/scripts/test.sh"
for step in install-deps.sh build.sh; do printf '#!/usr/bin/env bash
' > "$scratch/scripts/$step"; done
chmod +x "$scratch/scripts/"*.sh

# The program test's ctest entry, read from the build, in a folder of its own.
printf 'include("%s/app/CTestTestfile.cmake")\n' "$build" > "$scratch/tests/CTestTestfile.cmake"

failures=0
check() {  # check <what> <zero|nonzero> <status> <output> <texts that must appear...>
  local what="$1" expected="$2" status="$3" output="$4"
  shift 4
  if { [ "$expected" = zero ] && [ "$status" -ne 0 ]; } || { [ "$expected" = nonzero ] && [ "$status" -eq 0 ]; }; then
    echo "FAIL: $what ended with status $status"
    failures=$((failures + 1))
  fi
  for text in "$@"; do
    grep -qF -- "$text" <<< "$output" || { echo "FAIL: $what does not say: $text"; failures=$((failures + 1)); }
  done
  [ "$failures" -eq 0 ] || echo "$output"
}

run() {  # run <CI value or -> <ctest arguments...>
  local ci="$1"
  shift
  if [ "$ci" = - ]; then
    env -u CI PATH="$scratch/bin" TWK_BUILD_DIR="$build" bash "$scratch/scripts/test.sh" --test-dir "$scratch/tests" "$@" 2>&1
  else
    env CI="$ci" PATH="$scratch/bin" TWK_BUILD_DIR="$build" bash "$scratch/scripts/test.sh" --test-dir "$scratch/tests" "$@" 2>&1
  fi
}

output="$(run true -R '^tarnwick_program$')"
check "a CI run without xvfb-run" nonzero $? "$output" "missing test tool: xvfb-run" "CI requires every test tool"

output="$(run - -R '^tarnwick_program$')"
check "a local run without xvfb-run" zero $? "$output" "Tests skipped for a missing tool:" "  xvfb-run"

output="$(run - -R '^no test has this name$')"
check "a run that selects no test" nonzero $? "$output" "No tests were found"

[ "$failures" -eq 0 ] || exit 1
echo "the test script fails under CI and names the tool locally"
