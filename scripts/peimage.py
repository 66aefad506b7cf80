"""What our build scripts read from a Windows program: the header fields and imports that
decide whether a loader starts it (scripts/check-image), and its resources: the embedded
manifest and the version resource (scripts/check-image, scripts/settle-package)."""

import struct
from pathlib import Path

RT_VERSION = 16
RT_MANIFEST = 24
RESOURCE_DIRECTORY = 2


def read_image(path):
    """The header fields the checks need, the imports as {dll: [name or #ordinal]} and the
    resources as {(type, name): bytes} (numeric types and names only, as ours are)."""
    data = Path(path).read_bytes()
    if data[:2] != b"MZ":
        raise ValueError("not a Windows image")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    machine, nsections = struct.unpack_from("<HH", data, pe + 4)
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    # The same offsets in PE32 and PE32+ from here on; only the directories move.
    os_version = struct.unpack_from("<HH", data, opt + 40)
    subsystem_version = struct.unpack_from("<HH", data, opt + 48)
    subsystem = struct.unpack_from("<H", data, opt + 68)[0]
    wide = magic != 0x10B
    directories = opt + (112 if wide else 96)
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]
    resource_rva = struct.unpack_from("<I", data, directories + 8 * RESOURCE_DIRECTORY)[0]
    sections = [struct.unpack_from("<IIII", data, opt + optional_size + 40 * i + 8)
                for i in range(nsections)]

    def offset(rva):
        for vsize, vaddr, rawsize, rawptr in sections:
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rawptr + rva - vaddr
        raise ValueError(f"address {rva:#x} is in no section")

    def text(rva):
        at = offset(rva)
        return data[at:data.index(b"\0", at)].decode("latin-1")

    imports = {}
    entry = offset(import_rva) if import_rva else None
    while entry is not None:
        lookup, _, _, name, first = struct.unpack_from("<IIIII", data, entry)
        if name == 0:
            break
        names = imports.setdefault(text(name), [])
        slot = offset(lookup or first)
        size, fmt, flag = (8, "<Q", 1 << 63) if wide else (4, "<I", 1 << 31)
        while (thunk := struct.unpack_from(fmt, data, slot)[0]) != 0:
            names.append(f"#{thunk & 0xFFFF}" if thunk & flag else text((thunk & 0x7FFFFFFF) + 2))
            slot += size
        entry += 20

    resources = {}
    if resource_rva:
        root = offset(resource_rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", data, directory + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
                yield key, root + (target & 0x7FFFFFFF), bool(target & 0x80000000)

        for rtype, names_at, _ in entries(root):
            for rname, languages_at, _ in entries(names_at):
                # The first language of each: our resources have one.
                for _, leaf, _ in entries(languages_at):
                    data_rva, size = struct.unpack_from("<II", data, leaf)
                    resources[(rtype, rname)] = data[offset(data_rva):offset(data_rva) + size]
                    break
    return {"machine": machine, "magic": magic, "subsystem": subsystem,
            "os_version": tuple(os_version), "subsystem_version": tuple(subsystem_version),
            "imports": imports, "resources": resources}


def version_info(image):
    """(file version "a.b.c.d", [language ids of its Translation]) from the version
    resource, or None when the image has none."""
    block = next((v for (t, _), v in image["resources"].items() if t == RT_VERSION), None)
    if block is None:
        return None
    at = block.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        raise ValueError("the version resource has no fixed file information")
    ms, ls = struct.unpack_from("<II", block, at + 8)
    version = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    languages = []
    key = "Translation".encode("utf-16-le") + b"\0\0"
    if (k := block.find(key)) >= 0:
        value = (k + len(key) + 3) & ~3
        length = struct.unpack_from("<H", block, k - 4)[0]  # wValueLength, in bytes here
        for i in range(0, length, 4):
            languages.append(struct.unpack_from("<H", block, value + i)[0])
    return version, languages
