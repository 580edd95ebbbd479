"""A minimal LV2 host in Python (ctypes), independent of the project's C++ code: loads the
bundle's module, instantiates the plug-in without features, and runs it on numpy buffers with
control ports of its own."""
import ctypes
import os

import numpy as np


class Descriptor(ctypes.Structure):
    pass


HANDLE = ctypes.c_void_p
Descriptor._fields_ = [
    ("URI", ctypes.c_char_p),
    ("instantiate", ctypes.CFUNCTYPE(HANDLE, ctypes.POINTER(Descriptor), ctypes.c_double,
                                     ctypes.c_char_p, ctypes.c_void_p)),
    ("connect_port", ctypes.CFUNCTYPE(None, HANDLE, ctypes.c_uint32, ctypes.c_void_p)),
    ("activate", ctypes.CFUNCTYPE(None, HANDLE)),
    ("run", ctypes.CFUNCTYPE(None, HANDLE, ctypes.c_uint32)),
    ("deactivate", ctypes.CFUNCTYPE(None, HANDLE)),
    ("cleanup", ctypes.CFUNCTYPE(None, HANDLE)),
    ("extension_data", ctypes.c_void_p)]
CONTROL_PORTS = range(4, 9)  # bass_cutoff, treble_cutoff, bass, treble, smooth


class Plugin:
    def __init__(self, bundle, rate):
        self.lib = ctypes.CDLL(os.path.join(bundle, "vurnel.so"))
        self.lib.lv2_descriptor.restype = ctypes.POINTER(Descriptor)
        self.lib.lv2_descriptor.argtypes = [ctypes.c_uint32]
        self.d = self.lib.lv2_descriptor(0).contents
        features = (ctypes.c_void_p * 1)(None)
        self.h = self.d.instantiate(ctypes.byref(self.d), float(rate),
                                    (bundle + "/").encode(), ctypes.cast(features, ctypes.c_void_p))
        if not self.h:
            raise RuntimeError("instantiate returned no instance")
        self.controls = {i: ctypes.c_float(0) for i in CONTROL_PORTS}
        for i, c in self.controls.items():
            self.d.connect_port(self.h, i, ctypes.byref(c))

    def control(self, index, value):
        self.controls[index].value = value

    def activate(self):
        self.d.activate(self.h)

    def run(self, *buffers):
        """Runs one block: in_left, in_right, out_left, out_right (float32 arrays, one length)."""
        for port, b in enumerate(buffers):
            assert b.dtype == np.float32 and b.flags.c_contiguous
            self.d.connect_port(self.h, port, b.ctypes.data)
        self.d.run(self.h, len(buffers[0]))

    def close(self):
        self.d.deactivate(self.h)
        self.d.cleanup(self.h)
