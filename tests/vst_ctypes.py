"""A minimal VST 2 host in Python (ctypes), independent of the project's C++ host code.

Loads a module, calls its exported main with a host callback that answers the version query,
and drives the instance through the effect record's entry points, laid out as a 64-bit host
reads the record.
"""
import ctypes

import numpy as np

INTPTR = ctypes.c_ssize_t
FLOATP = ctypes.POINTER(ctypes.c_float)
FLOATPP = ctypes.POINTER(FLOATP)


class AEffect(ctypes.Structure):
    pass


AEP = ctypes.POINTER(AEffect)
HOSTCB = ctypes.CFUNCTYPE(INTPTR, AEP, ctypes.c_int32, ctypes.c_int32, INTPTR, ctypes.c_void_p,
                          ctypes.c_float)
DISPATCH = ctypes.CFUNCTYPE(INTPTR, AEP, ctypes.c_int32, ctypes.c_int32, INTPTR, ctypes.c_void_p,
                            ctypes.c_float)
PROCESS = ctypes.CFUNCTYPE(None, AEP, FLOATPP, FLOATPP, ctypes.c_int32)
SETPARAM = ctypes.CFUNCTYPE(None, AEP, ctypes.c_int32, ctypes.c_float)
GETPARAM = ctypes.CFUNCTYPE(ctypes.c_float, AEP, ctypes.c_int32)

AEffect._fields_ = [
    ("magic", ctypes.c_int32), ("dispatcher", DISPATCH), ("process", PROCESS),
    ("setParameter", SETPARAM), ("getParameter", GETPARAM), ("numPrograms", ctypes.c_int32),
    ("numParams", ctypes.c_int32), ("numInputs", ctypes.c_int32), ("numOutputs", ctypes.c_int32),
    ("flags", ctypes.c_int32), ("resvd1", INTPTR), ("resvd2", INTPTR),
    ("initialDelay", ctypes.c_int32), ("realQualities", ctypes.c_int32),
    ("offQualities", ctypes.c_int32), ("ioRatio", ctypes.c_float), ("object", ctypes.c_void_p),
    ("user", ctypes.c_void_p), ("uniqueID", ctypes.c_int32), ("version", ctypes.c_int32),
    ("processReplacing", PROCESS), ("future", ctypes.c_char * 64)]
assert ctypes.sizeof(AEffect) == 192


@HOSTCB
def _host(effect, opcode, index, value, ptr, opt):
    return 2400 if opcode == 1 else 0


class Effect:
    def __init__(self, module_path):
        self.lib = ctypes.CDLL(module_path)
        entry = self.lib.main
        entry.restype = AEP
        entry.argtypes = [HOSTCB]
        self.ptr = entry(_host)
        if not self.ptr:
            raise RuntimeError("main returned no effect")
        self.e = self.ptr.contents

    def dispatch(self, opcode, index=0, value=0, ptr=None, opt=0.0):
        return self.e.dispatcher(self.ptr, opcode, index, value, ptr, opt)

    def text(self, opcode, index):
        buf = ctypes.create_string_buffer(64)
        self.dispatch(opcode, index, 0, ctypes.cast(buf, ctypes.c_void_p))
        return buf.value.decode("latin-1")

    def set_parameter(self, index, value):
        self.e.setParameter(self.ptr, index, value)

    def close(self):
        return self.dispatch(1)

    def render(self, left, right, rate, settings, block=512, accumulate=False):
        """Processes two float32 arrays block by block; returns the two outputs."""
        self.dispatch(0)
        self.dispatch(10, 0, 0, None, float(rate))
        self.dispatch(11, 0, block)
        self.dispatch(12, 0, 1)
        for index, value in settings:
            self.set_parameter(index, value)
        left = np.ascontiguousarray(left, dtype=np.float32)
        right = np.ascontiguousarray(right, dtype=np.float32)
        out_l = left.copy() if accumulate else np.zeros_like(left)
        out_r = right.copy() if accumulate else np.zeros_like(right)
        entry = self.e.process if accumulate else self.e.processReplacing
        for at in range(0, len(left), block):
            n = min(block, len(left) - at)
            ins = (FLOATP * 2)(*(a[at:].ctypes.data_as(FLOATP) for a in (left, right)))
            outs = (FLOATP * 2)(*(a[at:].ctypes.data_as(FLOATP) for a in (out_l, out_r)))
            entry(self.ptr, ins, outs, n)
        return out_l, out_r
