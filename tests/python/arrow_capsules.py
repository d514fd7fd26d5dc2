"""Arrow C structures built by hand with ctypes, handed in through the
PyCapsule interface, so that tests can give the module any structure,
malformed ones included, and count every release callback.

Needs ctypes.pythonapi (CPython); every buffer is allocated at exactly the
size its structure declares, so a read past it shows under AddressSanitizer.
"""

import ctypes
from ctypes import POINTER, c_char_p, c_int, c_int64, c_void_p

AVAILABLE = hasattr(ctypes, "pythonapi")


class ArrowSchema(ctypes.Structure):
    pass


class ArrowArray(ctypes.Structure):
    pass


class ArrowArrayStream(ctypes.Structure):
    pass


SCHEMA_RELEASE = ctypes.CFUNCTYPE(None, POINTER(ArrowSchema))
ARRAY_RELEASE = ctypes.CFUNCTYPE(None, POINTER(ArrowArray))
STREAM_RELEASE = ctypes.CFUNCTYPE(None, POINTER(ArrowArrayStream))
GET_SCHEMA = ctypes.CFUNCTYPE(c_int, POINTER(ArrowArrayStream), POINTER(ArrowSchema))
GET_NEXT = ctypes.CFUNCTYPE(c_int, POINTER(ArrowArrayStream), POINTER(ArrowArray))
GET_LAST_ERROR = ctypes.CFUNCTYPE(c_void_p, POINTER(ArrowArrayStream))
LAST_ERROR = ctypes.create_string_buffer(b"the producer broke")

ArrowSchema._fields_ = [
    ("format", c_char_p),
    ("name", c_char_p),
    ("metadata", c_char_p),
    ("flags", c_int64),
    ("n_children", c_int64),
    ("children", POINTER(POINTER(ArrowSchema))),
    ("dictionary", POINTER(ArrowSchema)),
    ("release", SCHEMA_RELEASE),
    ("private_data", c_void_p),
]
ArrowArray._fields_ = [
    ("length", c_int64),
    ("null_count", c_int64),
    ("offset", c_int64),
    ("n_buffers", c_int64),
    ("n_children", c_int64),
    ("buffers", POINTER(c_void_p)),
    ("children", POINTER(POINTER(ArrowArray))),
    ("dictionary", POINTER(ArrowArray)),
    ("release", ARRAY_RELEASE),
    ("private_data", c_void_p),
]
ArrowArrayStream._fields_ = [
    ("get_schema", GET_SCHEMA),
    ("get_next", GET_NEXT),
    ("get_last_error", GET_LAST_ERROR),
    ("release", STREAM_RELEASE),
    ("private_data", c_void_p),
]

if AVAILABLE:
    _capsule_new = ctypes.pythonapi.PyCapsule_New
    _capsule_new.restype = ctypes.py_object
    _capsule_new.argtypes = [c_void_p, c_void_p, c_void_p]

_NAMES = {}  # capsule names must outlive their capsules


def capsule(structure, name):
    """A capsule without a destructor: `structure` stays owned by Python."""
    key = _NAMES.setdefault(name, ctypes.create_string_buffer(name.encode()))
    return _capsule_new(ctypes.addressof(structure), ctypes.addressof(key), None)


class Releases:
    """Counts release calls per structure, told by its private_data tag."""

    def __init__(self):
        self.counts = {}
        self.made = 0
        self.keep = []
        self.schema = SCHEMA_RELEASE(self._release)
        self.array = ARRAY_RELEASE(self._release)
        self.stream = STREAM_RELEASE(self._release)

    def _release(self, pointer):
        structure = pointer.contents
        self.counts[structure.private_data] = self.counts.get(structure.private_data, 0) + 1
        # release = NULL: the field is a function pointer at a known offset.
        ctypes.memset(ctypes.addressof(structure) + type(structure).release.offset, 0, 8)

    def tag(self):
        self.made += 1
        return self.made

    def once(self, *structures):
        """Whether exactly these structures were released, each once."""
        return self.counts == {structure.private_data: 1 for structure in structures}

    def exact(self, data):
        if data is None:
            return None
        block = (ctypes.c_char * max(len(data), 1)).from_buffer_copy(data or b"\0")
        self.keep.append(block)
        return ctypes.cast(block, c_void_p)

    def new_schema(self, format, name=None, children=()):
        schema = ArrowSchema()
        schema.format = format.encode()
        schema.name = None if name is None else name.encode()
        schema.n_children = len(children)
        if children:
            pointers = (POINTER(ArrowSchema) * len(children))(*[ctypes.pointer(c) for c in children])
            self.keep.append(pointers)
            schema.children = pointers
        schema.release = self.schema
        schema.private_data = self.tag()
        self.keep.append(schema)
        return schema

    def new_array(self, length, buffers, null_count=0, offset=0, children=()):
        array = ArrowArray()
        array.length, array.null_count, array.offset = length, null_count, offset
        array.n_buffers = len(buffers)
        pointers = (c_void_p * max(len(buffers), 1))(*[self.exact(data) for data in buffers])
        self.keep.append(pointers)
        array.buffers = pointers
        array.n_children = len(children)
        if children:
            child_pointers = (POINTER(ArrowArray) * len(children))(
                *[ctypes.pointer(c) for c in children]
            )
            self.keep.append(child_pointers)
            array.children = child_pointers
        array.release = self.array
        array.private_data = self.tag()
        self.keep.append(array)
        return array


class ArrayColumn:
    """An object offering one schema and array through __arrow_c_array__."""

    def __init__(self, schema, array):
        self.schema, self.array = schema, array

    def __arrow_c_array__(self, requested_schema=None):
        return capsule(self.schema, "arrow_schema"), capsule(self.array, "arrow_array")


class StreamColumn:
    """A stream of `arrays` that fails with `error` (an errno) after
    `fail_after` of them, when that is given."""

    def __init__(self, releases, schema, arrays, fail_after=None, error=5):
        self.releases, self.schema, self.arrays = releases, schema, list(arrays)
        self.fail_after, self.error = fail_after, error
        self.stream = ArrowArrayStream()
        self.callbacks = (
            GET_SCHEMA(self._get_schema),
            GET_NEXT(self._get_next),
            GET_LAST_ERROR(lambda _: ctypes.addressof(LAST_ERROR)),
        )
        self.stream.get_schema, self.stream.get_next, self.stream.get_last_error = self.callbacks
        self.stream.release = releases.stream
        self.stream.private_data = releases.tag()
        self.given = 0

    def _get_schema(self, _, out):
        ctypes.memmove(out, ctypes.addressof(self.schema), ctypes.sizeof(ArrowSchema))
        return 0

    def _get_next(self, _, out):
        if self.fail_after is not None and self.given == self.fail_after:
            return self.error
        if self.given == len(self.arrays):
            ctypes.memset(out, 0, ctypes.sizeof(ArrowArray))
            return 0
        ctypes.memmove(out, ctypes.addressof(self.arrays[self.given]), ctypes.sizeof(ArrowArray))
        self.given += 1
        return 0

    def __arrow_c_stream__(self, requested_schema=None):
        return capsule(self.stream, "arrow_array_stream")
