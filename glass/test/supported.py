"""supported.py ATOM on|off: adds ATOM to the root window's _NET_SUPPORTED or takes it out,
as a compositor that starts or stops supporting it would (xprop can set only one atom)."""

import ctypes
import sys

atom_name, state = sys.argv[1], sys.argv[2]
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XInternAtom.restype = ctypes.c_ulong
x.XGetWindowProperty.argtypes = [
    ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long, ctypes.c_int,
    ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
    ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong))]
x.XChangeProperty.argtypes = [
    ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
    ctypes.c_void_p, ctypes.c_int]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]

display = x.XOpenDisplay(None)
if not display:
    sys.exit("cannot open the display")
root = x.XDefaultRootWindow(display)
supported = x.XInternAtom(display, b"_NET_SUPPORTED", 0)
wanted = x.XInternAtom(display, atom_name.encode(), 0)
XA_ATOM = 4

kind, fmt, count, left = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong()
data = ctypes.POINTER(ctypes.c_ulong)()
x.XGetWindowProperty(display, root, supported, 0, 1 << 16, 0, XA_ATOM, ctypes.byref(kind),
                     ctypes.byref(fmt), ctypes.byref(count), ctypes.byref(left), ctypes.byref(data))
atoms = [data[i] for i in range(count.value)] if data else []
atoms = [a for a in atoms if a != wanted] + ([wanted] if state == "on" else [])
values = (ctypes.c_ulong * len(atoms))(*atoms)
x.XChangeProperty(display, root, supported, XA_ATOM, 32, 0, values, len(atoms))  # replace
x.XCloseDisplay(display)
