#!/bin/sh
# Runs a GoogleTest program (the whole command line, a wrapper such as valgrind included) and
# passes only when it exits 0 and GoogleTest reports at least one passed case: a filter that
# matches nothing, or a case that only skips, fails.
out=$("$@" 2>&1)
rc=$?
printf '%s\n' "$out"
if [ "$rc" -ne 0 ]; then
    exit "$rc"
fi
if ! printf '%s\n' "$out" | grep -Eq '^\[  PASSED  \] [1-9][0-9]* tests?\.'; then
    echo "FAIL no test case passed: the filter matched nothing, or every case skipped"
    exit 1
fi
if printf '%s\n' "$out" | grep -Eq '^\[  SKIPPED \]'; then
    echo "FAIL a test case skipped"
    exit 1
fi
