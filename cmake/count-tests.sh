#!/usr/bin/env bash
# Counts test cases after ctest runs: each GoogleTest case (native or under wine) and
# each other test counts once; fixture set-up and clean-up steps count not at all.
# Usage: count-tests.sh BUILD_DIR CTEST_LOG [BUILD_DIR CTEST_LOG]...
# Prints "N passed, N failed"; exits non-zero when anything failed.
set -uo pipefail

passed=0
failed=0
while [ $# -ge 2 ]; do
    dir=$1 log=$2
    shift 2

    # Set-up and clean-up steps, by the fixture properties ctest itself reports. A test's
    # own name sits six spaces deep in that listing; property names sit deeper.
    steps=$(ctest --test-dir "$dir" --show-only=json-v1 | awk '
        /^      "name" : "/ { name = $0; sub(/^      "name" : "/, "", name); sub(/",?$/, "", name) }
        /"name" : "FIXTURES_(SETUP|CLEANUP)"/ { print name }')

    # One result line per ctest entry: "  3/41 Test  #3: name ....   Passed    0.1 sec".
    while read -r name result; do
        if grep -qxF -- "$name" <<<"$steps"; then
            # A step that fails is still a failure, though one that passes is no test.
            [ "$result" = Passed ] || failed=$((failed + 1))
            continue
        fi
        # A Windows test program leaves its GoogleTest results behind (see
        # tests/CMakeLists.txt); its cases count one by one.
        xml="$dir/gtest-results/$name.xml"
        if [ -f "$xml" ]; then
            root=$(grep -o '<testsuites [^>]*>' "$xml" | head -n 1)
            attr() { sed -n "s/.* $1=\"\([0-9]*\)\".*/\1/p" <<<"$root"; }
            tests=$(attr tests) failures=$(attr failures) errors=$(attr errors)
            disabled=$(attr disabled) skipped=$(attr skipped)
            bad=$(( ${failures:-0} + ${errors:-0} ))
            passed=$(( passed + ${tests:-0} - bad - ${disabled:-0} - ${skipped:-0} ))
            # A program that failed outside its cases (a crash at exit, a leak check)
            # still failed once.
            if [ "$result" != Passed ] && [ "$bad" -eq 0 ]; then
                bad=1
            fi
            failed=$((failed + bad))
        elif [ "$result" = Passed ]; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
        fi
    done < <(sed -nE 's/^ *[0-9]+\/[0-9]+ +Test +#[0-9]+: ([^ ]+) \.*[ *]*([A-Za-z]+).*/\1 \2/p' "$log")
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
