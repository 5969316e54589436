#!/usr/bin/python3
"""The MSVC import library as Microsoft's tools write it: one short import object per
export of the import definition (machine, code import, the name the DLL exports: the
plain name, decorated __stdcall names undecorated on 32-bit), and besides them only the
three data-only import descriptor objects. A code stub (as GNU dlltool writes) has no
safe-exception-handler marker, and a 32-bit MSVC link with /SAFESEH refuses it.
   import-library-check.py <zxcollector_api.lib> <import .def file> <64|32>"""
import struct
import sys

IMPORT_CODE = 0
NAME = 1
NAME_UNDECORATE = 3
MACHINES = {"64": 0x8664, "32": 0x14C}
DESCRIPTORS = {"__IMPORT_DESCRIPTOR_zxcollector_api", "__NULL_IMPORT_DESCRIPTOR",
               "\x7fzxcollector_api_NULL_THUNK_DATA"}


def members(data):
    if not data.startswith(b"!<arch>\n"):
        raise SystemExit("FAIL: not an archive")
    offset = 8
    while offset + 60 <= len(data):
        header = data[offset:offset + 60]
        name = header[:16].decode().strip()
        size = int(header[48:58].decode().strip())
        yield name, data[offset + 60:offset + 60 + size]
        offset += 60 + size + (size & 1)


def coff_symbols(body):
    """External symbol names of a regular COFF object, and whether it has a code section."""
    machine, sections, _, table, count, optional, _ = struct.unpack_from("<HHIIIHH", body)
    code = False
    for i in range(sections):
        characteristics = struct.unpack_from("<I", body, 20 + optional + i * 40 + 36)[0]
        code = code or bool(characteristics & 0x20)
    strings = table + count * 18
    names, i = [], 0
    while i < count:
        raw = body[table + i * 18:table + i * 18 + 18]
        storage, aux = raw[16], raw[17]
        if raw[:4] == b"\0\0\0\0":
            start = strings + struct.unpack_from("<I", raw, 4)[0]
            name = body[start:body.index(b"\0", start)].decode()
        else:
            name = raw[:8].rstrip(b"\0").decode()
        if storage == 2:
            names.append(name)
        i += 1 + aux
    return names, code


def main():
    library, definition, bits = sys.argv[1:4]
    expected = [line.split()[0] for line in open(definition).read().split("EXPORTS", 1)[1].splitlines()
                if line.strip()]
    failures, imported = [], {}
    for name, body in members(open(library, "rb").read()):
        if name in ("/", "//"):
            continue  # the linker members: the symbol index and long names
        sig1, sig2, _, machine, _, _, _, kind = struct.unpack_from("<HHHHIIHH", body)
        if sig1 == 0 and sig2 == 0xFFFF:
            symbol = body[20:body.index(b"\0", 20)].decode()
            if machine != MACHINES[bits]:
                failures.append(f"{symbol}: machine {machine:#x}")
            if kind & 3 != IMPORT_CODE:
                failures.append(f"{symbol}: not a code import")
            wanted = NAME if bits == "64" else NAME_UNDECORATE
            if (kind >> 2) & 7 != wanted:
                failures.append(f"{symbol}: name type {(kind >> 2) & 7}, not {wanted}")
            imported[symbol] = True
            continue
        symbols, code = coff_symbols(body)
        if code or not symbols or not set(symbols) <= DESCRIPTORS:
            failures.append(f"member {name} is no short import object: {symbols}")
    prefix = "" if bits == "64" else "_"
    missing = [name for name in expected if prefix + name not in imported]
    if missing:
        failures.append("no short import object for " + ", ".join(missing))
    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print(f"PASS: {len(imported)} short import objects in {library}")
    return 1 if failures else 0


sys.exit(main())
