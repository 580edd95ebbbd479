#!/bin/sh
# Fails when a tracked file refers to a folder beside the repository: a user's clone has only
# the repository, so nothing it builds, tests or installs may read a sibling folder.
cd "$(dirname "$0")/.." || exit 1
sibling='\.\./shar''ed([/"'"'"' ]|$)'
# Both greps exit 1 when nothing matches; anything above 1 is the tool failing, not a pass.
if [ -e .git ] && command -v git >/dev/null; then
    found=$(git grep -nIE "$sibling" -- . ':!fuzz/corpus')
else
    found=$(grep -rnIE "$sibling" --exclude-dir=fuzz --exclude-dir=build .)
fi
status=$?
if [ "$status" -gt 1 ]; then
    echo "FAIL the search itself failed (exit $status)"
    echo "0 passed, 1 failed"
    exit 1
fi
if [ -n "$found" ]; then
    echo "FAIL tracked files refer to a folder beside the repository:"
    echo "$found"
    echo "0 passed, 1 failed"
    exit 1
fi
echo "ok   no tracked file refers to a folder beside the repository"
echo "1 passed, 0 failed"
