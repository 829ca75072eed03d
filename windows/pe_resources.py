#!/usr/bin/env python3
"""Reads what a Windows program carries besides its code: its machine (32- or 64-bit),
its manifest and its version resource, straight from the PE file, so the package and the
tests can check them on any system without Windows tools.

usage: pe_resources.py [--expect-version X.Y.Z] [--expect-bits 32|64] EXE...
Prints one line per file; with --expect-version exits 1 unless every file runs as invoked
(manifest), names the supported systems and carries that version in both its fixed and
its text version fields; with --expect-bits unless every file is built for that word size.
"""
import argparse
import struct
import sys

RT_ICON_GROUP = 14
RT_VERSION = 16
RT_MANIFEST = 24
MACHINES = {0x14C: 32, 0x8664: 64}


class PeError(Exception):
    pass


def _sections(data):
    if data[:2] != b"MZ":
        raise PeError("not a Windows program")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE header")
    machine, count = struct.unpack_from("<HH", data, pe + 4)
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva, resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
    sections = []
    table = optional + optional_size
    for i in range(count):
        va_size, va, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        sections.append((va, max(va_size, raw_size), raw))
    return machine, resource_rva, resource_size, sections


def _offset(sections, rva):
    for va, size, raw in sections:
        if va <= rva < va + size:
            return raw + rva - va
    raise PeError("address outside every section")


def _resources(data, base, rva, sections):
    """{type: [bytes of each resource of that type]}, ids only (names skipped)."""
    found = {}

    def walk(directory, depth, rtype):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + ids):
            ident, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            kind = rtype if depth else (None if ident & 0x80000000 else ident)
            if target & 0x80000000:
                if depth < 3:
                    walk(target & 0x7FFFFFFF, depth + 1, kind)
            elif kind is not None:
                data_rva, size = struct.unpack_from("<II", data, base + target)
                start = _offset(sections, data_rva)
                found.setdefault(kind, []).append(data[start:start + size])

    if rva:
        walk(0, 0, None)
    return found


def _version_node(blob, at):
    """One node of a version resource: (key, value bytes, children, end offset)."""
    length, value_length, kind = struct.unpack_from("<HHH", blob, at)
    end = at + length
    key_end = at + 6
    while blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[at + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = blob[value_at:value_at + value_bytes]
    children = []
    child = (value_at + value_bytes + 3) & ~3
    while child + 6 <= end:
        node = _version_node(blob, child)
        if node[3] <= child:
            break
        children.append(node)
        child = (node[3] + 3) & ~3
    return key, value, children, end


def _version(blob):
    """(fixed file version as 'a.b.c.d', {text field: value})."""
    key, value, children, _ = _version_node(blob, 0)
    if key != "VS_VERSION_INFO" or len(value) < 52:
        raise PeError("malformed version resource")
    signature, _, ms, ls = struct.unpack_from("<IIII", value, 0)
    if signature != 0xFEEF04BD:
        raise PeError("version resource without its fixed part")
    fixed = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    texts = {}
    for name, _, tables, _ in children:
        if name != "StringFileInfo":
            continue
        for _, _, strings, _ in tables:
            for field, text, _, _ in strings:
                texts[field] = text.decode("utf-16-le").rstrip("\0")
    return fixed, texts


def read(path):
    """{'bits': 32|64|None, 'manifest': text or None, 'version': (fixed, texts) or None,
    'icon': whether an icon group is there}."""
    with open(path, "rb") as f:
        data = f.read()
    machine, rva, size, sections = _sections(data)
    found = _resources(data, _offset(sections, rva), rva, sections) if rva and size else {}
    manifests = found.get(RT_MANIFEST, [])
    versions = found.get(RT_VERSION, [])
    return {
        "bits": MACHINES.get(machine),
        "manifest": manifests[0].decode("utf-8", "replace") if manifests else None,
        "version": _version(versions[0]) if versions else None,
        "icon": bool(found.get(RT_ICON_GROUP)),
    }


def problems(info, version):
    """What the package requires of every program and `info` lacks; [] when nothing."""
    found = []
    manifest = info["manifest"] or ""
    if 'level="asInvoker"' not in manifest:
        found.append("no manifest running it as invoked")
    if "supportedOS" not in manifest:
        found.append("no supported systems in the manifest")
    if not info["version"]:
        found.append("no version resource")
    else:
        fixed, texts = info["version"]
        if fixed != version + ".0":
            found.append(f"fixed version {fixed}, expected {version}.0")
        for field in ("FileVersion", "ProductVersion"):
            if texts.get(field) != version:
                found.append(f"{field} {texts.get(field)!r}, expected {version!r}")
    return found


def main(argv):
    parser = argparse.ArgumentParser(description="What Windows programs carry besides code.")
    parser.add_argument("--expect-version", help="fail unless every file carries it")
    parser.add_argument("--expect-bits", type=int, choices=(32, 64),
                        help="fail unless every file is built for it")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args(argv[1:])
    failed = False
    for path in args.files:
        try:
            info = read(path)
        except (OSError, PeError, struct.error) as e:
            print(f"{path}: {e}")
            failed = True
            continue
        version = info["version"][0] if info["version"] else "none"
        print(f"{path}: {info['bits']}-bit, version {version}, "
              f"manifest {'yes' if info['manifest'] else 'no'}, "
              f"icon {'yes' if info['icon'] else 'no'}")
        found = problems(info, args.expect_version) if args.expect_version else []
        if args.expect_bits and info["bits"] != args.expect_bits:
            found.append(f"built for {info['bits']}-bit, expected {args.expect_bits}-bit")
        for problem in found:
            print(f"{path}: {problem}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
