"""A PipeWire recording matched to the VST 2 module's output, quantum by quantum, telling the
daemon's timing apart from a fault of the plug-in's.

On a busy machine the test's daemon and its clients run without real-time priority, and three
things happen to whole quanta (seen in the daemon's log as xruns): the recorder misses a cycle
and records a quantum of silence or loses quanta; and the player misses a cycle, so that the
filter-chain processes a quantum of silence (its input mixer has nothing new) or the player's
quantum never reaches it. The first two leave the filter alone; the last two change what the
filter processed, so the model must process the same: a quantum of silence inserted into its
input, or a quantum of the file left out. Every quantum the filter processed and the recorder
kept must still have the model's bits, the filter's ringing through an inserted silence
included; anything else is a fault.
"""
import numpy as np

import lv2_ctypes
import vst_ctypes

QUANTUM = 1024


class Model:
    """A plug-in run as the filter-chain runs it, quantum by quantum: a fresh instance at the
    rate with its settings, then the input, each change (processed quantum, index, value) made
    before its quantum. render(plan) gives the output for a plan: the file's quantum indices, or
    None for a quantum of silence, in the order the filter processed them."""

    def __init__(self, signal, rate, settings, changes=()):
        self.signal, self.rate = signal, rate
        self.settings, self.changes = list(settings), list(changes)
        self.file_quanta = -(-len(signal) // QUANTUM)

    def render(self, plan):
        left = np.zeros(len(plan) * QUANTUM, np.float32)
        right = np.zeros_like(left)
        for p, q in enumerate(plan):
            if q is not None:
                part = self.signal[q * QUANTUM:(q + 1) * QUANTUM]
                left[p * QUANTUM:p * QUANTUM + len(part)] = part[:, 0]
                right[p * QUANTUM:p * QUANTUM + len(part)] = part[:, 1]
        out_l, out_r = np.zeros_like(left), np.zeros_like(right)
        self.process(left, right, out_l, out_r)
        return np.stack([out_l, out_r], 1)

    def changes_at(self, p):
        return [(index, value) for when, index, value in self.changes if when == p]

    def expected(self):
        """The output when nothing happened to any quantum."""
        return self.render(list(range(self.file_quanta)))


class Vst2Model(Model):
    """The VST 2 module: settings and changes are (parameter index, 0..1 value)."""

    def __init__(self, module, *args, **kw):
        super().__init__(*args, **kw)
        self.module = module

    def process(self, left, right, out_l, out_r):
        effect = vst_ctypes.Effect(self.module)
        effect.dispatch(0)
        effect.dispatch(10, 0, 0, None, float(self.rate))
        effect.dispatch(11, 0, QUANTUM)
        effect.dispatch(12, 0, 1)
        for index, value in self.settings:
            effect.set_parameter(index, value)
        for p in range(len(left) // QUANTUM):
            for index, value in self.changes_at(p):
                effect.set_parameter(index, value)
            at = p * QUANTUM
            ins = (vst_ctypes.FLOATP * 2)(*(a[at:].ctypes.data_as(vst_ctypes.FLOATP)
                                            for a in (left, right)))
            outs = (vst_ctypes.FLOATP * 2)(*(a[at:].ctypes.data_as(vst_ctypes.FLOATP)
                                             for a in (out_l, out_r)))
            effect.e.processReplacing(effect.ptr, ins, outs, QUANTUM)
        effect.close()


class Lv2Model(Model):
    """The LV2 plug-in itself (its gliding included): settings and changes are (control port
    index, value in the port's units)."""

    def __init__(self, bundle, *args, **kw):
        super().__init__(*args, **kw)
        self.bundle = bundle

    def process(self, left, right, out_l, out_r):
        plugin = lv2_ctypes.Plugin(self.bundle, self.rate)
        for index, value in self.settings:
            plugin.control(index, value)
        plugin.activate()
        for p in range(len(left) // QUANTUM):
            for index, value in self.changes_at(p):
                plugin.control(index, value)
            at = slice(p * QUANTUM, (p + 1) * QUANTUM)
            plugin.run(left[at], right[at], out_l[at], out_r[at])
        plugin.close()


def compared_quanta(frames, rate=48000):
    """How many of a played file's quanta can be compared: pw-play ends its stream its own way,
    its last, partial quantum and (seen for files that end a quarter or three quarters into a
    quantum) the last complete one are not the file's frames as they stand, so the file's last
    0.1 s is not compared."""
    return (frames - rate // 10) // QUANTUM


def quantum(data, k):
    return data[k * QUANTUM:(k + 1) * QUANTUM]


def same(a, b):
    return len(a) == len(b) == QUANTUM and np.array_equal(a, b)


class Account:
    """What account found: ok, the daemon's timing that explains the recording (events), and
    where the model stopped (the processed quantum at, in the model's order)."""

    def __init__(self, ok, events, at, plan, recovers=False):
        self.ok, self.events, self.at, self.plan = ok, events, at, plan
        self.recovers = recovers

    def with_failure(self, text):
        self.failure = text
        return self

    def daemon_seen(self):
        """Whether the recording shows the daemon's timing: events it explained, or a quantum
        it could not whose end and the quanta after it have the model's bits again (seen: the
        start of one quantum smeared as the daemon's streams catch up after a stall). Either is
        reason to record again; a fault of the plug-in's shows in every recording."""
        return bool(self.events) or self.recovers

    def in_file(self, at):
        """The file's quantum the filter processed at (or next, after a quantum of silence)."""
        return next((q for q in self.plan[at:] if q is not None), len(self.plan))

    def further(self, than):
        """Whether the model held past the given processed quantum (or to the end)."""
        return self.ok or self.at > than

    failure = None

    def __str__(self):
        return self.timing() + (f"; {self.failure}" if self.failure else "")

    def timing(self):
        if not self.events:
            return "nothing happened to any quantum"
        runs = []
        for e in self.events:
            if runs and runs[-1][0] == e:
                runs[-1][1] += 1
            else:
                runs.append([e, 1])
        return "; ".join(e if n == 1 else f"{e} ({n} times)" for e, n in runs)


def find_start(recorded, expected):
    """Where the played file begins in the recording: its first quantum's bits; None if
    nowhere."""
    for k in np.nonzero(recorded[:, 0] == expected[0, 0])[0]:
        if same(recorded[k:k + QUANTUM], expected[:QUANTUM]):
            return int(k)
    return None


def landings(recorded, model_of, values, quanta):
    """Finds the processed quanta where a control's successive values landed: model_of(changes)
    is the model with changes [(quantum, value)...]. Each value lands where the model without
    it stops holding (or a quantum or so later, should the daemon have delayed a quantum next
    to it), and the model with it must hold beyond; a value the next one replaced before the
    filter's next cycle (two changes sent close together on a busy machine) never lands.
    Returns the changes found and the account of the recording with all of them."""
    changes, k = [], 0
    while k < len(values):
        near = account(recorded, model_of(changes), quanta)
        if near.ok:
            break
        found = next(((j, c) for j in range(k, len(values))
                      for c in ([(at, values[j])] for at in range(max(1, near.at - 1),
                                                                  near.at + 4))
                      if account(recorded, model_of(changes + c), quanta).further(c[0][0] + 2)),
                     None)
        if found is None:
            break
        changes += found[1]
        k = found[0] + 1
    return changes, account(recorded, model_of(changes), quanta)


def account(recorded, model, quanta, confirm=2):
    """Matches recorded (from the file's first quantum on) to the model until the file's first
    quanta quanta are accounted for: every recorded quantum must be the model's output for what
    the filter processed, or a quantum of silence the recorder wrote. The daemon's timing that
    explains the differences is in the result's events; a quantum nothing explains ends it, not
    ok, with the model's position at."""
    plan = list(range(model.file_quanta))
    out = model.render(plan)
    have = len(recorded) // QUANTUM
    g = p = 0
    events = []

    def compared(plan, at):
        """Whether the quantum the filter processed at is one the test compares."""
        return at < len(plan) and (plan[at] is None or plan[at] < quanta)

    def holds(plan, candidate, at):
        """Whether the recorded quanta from g on have candidate's bits from at on, for confirm
        quanta or to the end of what is compared."""
        for k in range(confirm):
            if g + k >= have or not compared(plan, at + k):
                return k > 0
            if not same(quantum(recorded, g + k), quantum(candidate, at + k)):
                return False
        return True

    while quanta - 1 in plan[p:]:
        if g >= have:
            return Account(False, events, p, plan).with_failure(
                f"the recording ends at quantum {g}, before the file's quantum {quanta - 1}")
        chunk = quantum(recorded, g)
        if same(chunk, quantum(out, p)):
            g, p = g + 1, p + 1
            continue
        if not chunk.any():
            events.append(f"the recorder wrote a quantum of silence at {g}")
            g += 1
            continue
        lost = next((k for k in range(1, 4) if holds(plan, out, p + k)), 0)
        if lost:
            events.append(f"the recorder lost {lost} quanta at {g}")
            p += lost
            continue
        fixed = None
        if plan[p] is not None:
            for what, candidate in \
                    [(f"the filter processed {n} quanta of silence before the file's quantum "
                      f"{plan[p]} (the player was late)", plan[:p] + [None] * n + plan[p:])
                     for n in range(1, 4)] + \
                    [(f"{k} of the file's quanta from {plan[p]} never reached the filter (the "
                      f"player lost them)", plan[:p] + plan[p + k:]) for k in range(1, 4)]:
                trial = model.render(candidate)
                if holds(candidate, trial, p):
                    fixed = what, candidate, trial
                    break
        if not fixed:
            model_q = quantum(out, p)
            g += 1
            recovers = len(model_q) == QUANTUM and np.array_equal(chunk[-64:], model_q[-64:])
            recovers = recovers and holds(plan, out, p + 1)
            failure = f"recorded quantum {g - 1} is not the model's output for what the filter " \
                f"processed (its quantum {p}: the file's quantum {plan[p]})"
            if recovers:
                failure += ", though its end and the quanta after it have the model's bits"
            return Account(False, events, p, plan, recovers).with_failure(failure)
        events.append(fixed[0])
        plan, out = fixed[1], fixed[2]
    return Account(True, events, p, plan)
