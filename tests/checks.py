"""The tally the Python tests keep: one line per claim, and the closing line ctest reads; and
the same closing line for the tests written with unittest."""
import os
import sys


def strict():
    """Under CI, and in ./dev test, every tool a test uses has been installed: a test that
    skips for want of one is a failure there, not a pass."""
    return bool(os.environ.get("CI") or os.environ.get("VURNEL_STRICT"))


def unittest_main():
    """Runs the calling module's unittest cases and returns the exit status: 0 only when at
    least one case passed, none failed, and (in a strict run) none was skipped. Skips are
    counted and named as skips."""
    import unittest
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    skipped = len(result.skipped)
    passed = result.testsRun - failed - skipped
    for case, reason in result.skipped:
        print(f"{'FAIL' if strict() else 'skip'} {case.id()}: skipped: {reason}")
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    if skipped and strict():
        print("FAIL a case skipped in a strict run (CI or ./dev test), where every tool is "
              "installed")
        return 1
    return 1 if failed or passed == 0 else 0


def outside_host_env(env=None):
    """The environment for a program outside the project (lv2apply, Ardour, PipeWire, ...)
    that loads one of the project's modules. In a build with AddressSanitizer the modules need
    its runtime, which only an instrumented program loads first: ctest names it in
    VURNEL_ASAN_RUNTIME, and it is preloaded into that program with leak detection off (the
    program's own allocations are not the project's to check)."""
    env = dict(os.environ if env is None else env)
    runtime = env.get("VURNEL_ASAN_RUNTIME")
    if runtime:
        env["LD_PRELOAD"] = runtime
        env["ASAN_OPTIONS"] = "detect_leaks=0:abort_on_error=1"
    return env


class Checks:
    def __init__(self):
        self.results = []

    def check(self, name, ok, detail=""):
        self.results.append(bool(ok))
        print(f"{'ok  ' if ok else 'FAIL'} {name}{': ' + detail if detail else ''}")

    def summary(self):
        """Prints 'N passed, M failed'; the exit status: 0 only when something passed and
        nothing failed."""
        passed = sum(self.results)
        print(f"{passed} passed, {len(self.results) - passed} failed")
        return 0 if self.results and all(self.results) else 1
