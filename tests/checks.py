"""The tally the Python tests keep: one line per claim, and the closing line ctest reads."""


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
