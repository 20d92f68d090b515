#!/usr/bin/python3
"""Checks the Windows module as a file, the way Layout meets it before running
any of it: a 32-bit x86 DLL exporting only the descriptor, whose words, server
records and strings are read straight out of the file. Needs no Wine, so it
runs on every machine.

    check_dll.py CHECK DLL [--version X.Y.Z]
    check_dll.py CHECK --zip PACKAGE.zip [--version X.Y.Z]

CHECK is one of: headers, descriptor, release, package. With --zip the DLL is
the one inside the package.
"""

import argparse
import os
import struct
import sys
import zipfile
import zlib

import pefile

MODULE_NAME = "Tamberlo.p"
DESCRIPTOR_SYMBOL = b"_mod_descrip"

# The descriptor's header words and the server list, as the host reads them.
MODULE_SYNC = 0x04121994
MODULE_SYSTEM_VERSION = 3
MODULE_MACHINE = 0x300
SERVERS = [
    ("LayoutGeneric", "Ruxo_Tamberlo copy"),
    ("LayoutGeneric", "Ruxo_Tamberlo paste"),
    ("LayoutGeneric", "Ruxo_Tamberlo save"),
    ("LayoutGeneric", "Ruxo_Tamberlo load"),
]
DESCRIPTOR_WORDS = 6
SERVER_RECORD_WORDS = 4

# DLLs that every Windows has; a compiler runtime such as libstdc++-6.dll or
# libwinpthread-1.dll would be missing on the user's machine.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll"}

# What the release package holds, under its one top folder.
PACKAGE_FILES = {MODULE_NAME, "INSTALL.txt", "LICENSE.txt"}


class Checks:
    def __init__(self, data, label):
        self.pe = pefile.PE(data=data)
        self.data = data
        self.label = label
        self.failures = []

    def expect(self, condition, what):
        if not condition:
            self.failures.append(what)
        return condition

    # -- reading the image -------------------------------------------------

    def section_name(self, section):
        """A section's full name; long names live in the COFF string table."""
        raw = section.Name.rstrip(b"\0")
        if not raw.startswith(b"/"):
            return raw.decode("latin-1")
        header = self.pe.FILE_HEADER
        strings = header.PointerToSymbolTable + header.NumberOfSymbols * 18
        offset = strings + int(raw[1:])
        end = self.data.index(b"\0", offset)
        return self.data[offset:end].decode("latin-1")

    def section_at(self, rva):
        for section in self.pe.sections:
            if section.contains_rva(rva):
                return section
        return None

    def rva_of(self, address):
        """The RVA of a 32-bit address written in the image, or None when it
        lies outside the image."""
        base = self.pe.OPTIONAL_HEADER.ImageBase
        size = self.pe.OPTIONAL_HEADER.SizeOfImage
        if base <= address < base + size:
            return address - base
        return None

    def is_code(self, address):
        rva = self.rva_of(address)
        section = None if rva is None else self.section_at(rva)
        return section is not None and bool(
            section.Characteristics & pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_EXECUTE"])

    def words_at(self, rva, count):
        return struct.unpack("<%dI" % count, self.pe.get_data(rva, 4 * count))

    def string_at(self, address):
        rva = self.rva_of(address)
        if rva is None:
            return None
        return self.pe.get_string_at_rva(rva, max_length=256).decode("latin-1")

    def exports(self):
        return getattr(self.pe, "DIRECTORY_ENTRY_EXPORT", None)

    # -- the checks ----------------------------------------------------------

    def headers(self):
        pe = self.pe
        self.expect(pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"],
                    "machine is 0x%x, not i386" % pe.FILE_HEADER.Machine)
        self.expect(pe.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE,
                    "optional header is not PE32")
        self.expect(pe.is_dll(), "not marked as a DLL")

        exports = self.exports()
        if not self.expect(exports is not None, "no export directory"):
            return
        self.expect(exports.name == MODULE_NAME.encode(),
                    "export directory names %r, not %s" % (exports.name, MODULE_NAME))
        names = [symbol.name for symbol in exports.symbols]
        self.expect(names == [DESCRIPTOR_SYMBOL],
                    "exports %r, not exactly _mod_descrip" % names)
        self.expect(exports.struct.NumberOfFunctions == 1,
                    "export address table holds %d entries, not 1" % exports.struct.NumberOfFunctions)
        for symbol in exports.symbols:
            # Exported as data: the address lies in a section that is not code.
            self.expect(self.section_at(symbol.address) is not None
                        and not self.is_code(pe.OPTIONAL_HEADER.ImageBase + symbol.address),
                        "%s is not exported as data" % symbol.name)

        imports = [entry.dll.decode() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
        self.expect(imports, "no imports found")
        for dll in imports:
            self.expect(dll.lower() in SYSTEM_DLLS, "imports from %s, which is not a system DLL" % dll)
        print("  i386 PE32 DLL; export directory %s; exports %s; imports from %s"
              % (exports.name.decode(), b", ".join(names).decode(), ", ".join(imports)))

    def descriptor(self):
        exports = self.exports()
        if not self.expect(exports is not None and len(exports.symbols) == 1, "no single export"):
            return
        words = self.words_at(exports.symbols[0].address, DESCRIPTOR_WORDS)
        sync, system_version, machine, startup, shutdown, server_list = words
        self.expect(sync == MODULE_SYNC, "sync word is 0x%08x" % sync)
        self.expect(system_version == MODULE_SYSTEM_VERSION, "system version is %d" % system_version)
        self.expect(machine == MODULE_MACHINE, "machine word is 0x%x" % machine)
        self.expect(self.is_code(startup), "startup 0x%08x is not code in the image" % startup)
        self.expect(self.is_code(shutdown), "shutdown 0x%08x is not code in the image" % shutdown)
        list_rva = self.rva_of(server_list)
        if not self.expect(list_rva is not None, "server list 0x%08x lies outside the image" % server_list):
            return
        print("  descriptor: " + " ".join("0x%08x" % word for word in words))

        record_bytes = 4 * SERVER_RECORD_WORDS
        for index, (server_class, name) in enumerate(SERVERS):
            record = self.words_at(list_rva + index * record_bytes, SERVER_RECORD_WORDS)
            class_address, name_address, activate, tag = record
            found = (self.string_at(class_address), self.string_at(name_address))
            self.expect(found == (server_class, name),
                        "server %d is %r, not %r" % (index + 1, found, (server_class, name)))
            self.expect(self.is_code(activate), "server %d's activation is not code" % (index + 1))
            self.expect(tag == 0, "server %d's tag information is not empty" % (index + 1))
            print("  server %d: %s %s" % (index + 1, found[0], found[1]))
        end = self.words_at(list_rva + len(SERVERS) * record_bytes, SERVER_RECORD_WORDS)
        self.expect(end == (0, 0, 0, 0), "the server list does not end with an all-zero record: %r" % (end,))

    def release(self, version, debug_file):
        """Stripped, with a debug link to the debug file beside it, and a
        version resource."""
        names = [self.section_name(section) for section in self.pe.sections]
        self.expect(self.pe.FILE_HEADER.NumberOfSymbols == 0,
                    "symbol table holds %d symbols" % self.pe.FILE_HEADER.NumberOfSymbols)
        debug_sections = [name for name in names if name.startswith(".debug")]
        self.expect(not debug_sections, "debug sections left in: %s" % ", ".join(debug_sections))
        link = [section for section in self.pe.sections if self.section_name(section) == ".gnu_debuglink"]
        if self.expect(len(link) == 1, "no debug link"):
            content = link[0].get_data()[: link[0].Misc_VirtualSize]
            linked_name = content[: content.index(b"\0")].decode()
            (linked_crc,) = struct.unpack_from("<I", content, (len(linked_name) + 4) // 4 * 4)
            self.expect(linked_name == MODULE_NAME + ".debug", "debug link names %s" % linked_name)
            if debug_file is not None and self.expect(os.path.exists(debug_file),
                                                      "no debug file %s beside the DLL" % debug_file):
                with open(debug_file, "rb") as f:
                    debug = f.read()
                self.expect(zlib.crc32(debug) == linked_crc,
                            "the debug link's checksum does not match %s" % debug_file)
                debug_names = [Checks(debug, debug_file).section_name(s)
                               for s in pefile.PE(data=debug).sections]
                self.expect(".debug_info" in debug_names, "%s holds no .debug_info" % debug_file)
            print("  stripped; debug link to %s (crc 0x%08x)" % (linked_name, linked_crc))

        strings = {}
        for info in getattr(self.pe, "FileInfo", []):
            for entry in info:
                for table in getattr(entry, "StringTable", []):
                    strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        for key in ("ProductName", "FileDescription", "LegalCopyright"):
            self.expect(strings.get(key), "version resource has no %s" % key)
        self.expect(strings.get("ProductName") == "Tamberlo", "product name is %r" % strings.get("ProductName"))
        self.expect(strings.get("OriginalFilename") == MODULE_NAME,
                    "original file name is %r" % strings.get("OriginalFilename"))
        if version is not None:
            self.expect(strings.get("FileVersion") == version, "file version is %r" % strings.get("FileVersion"))
            self.expect(strings.get("ProductVersion") == version,
                        "product version is %r" % strings.get("ProductVersion"))
            fixed = getattr(self.pe, "VS_FIXEDFILEINFO", [None])[0]
            major, minor, patch = (int(part) for part in version.split("."))
            self.expect(fixed is not None and (fixed.FileVersionMS, fixed.FileVersionLS)
                        == ((major << 16) | minor, patch << 16), "fixed file version differs from %s" % version)
        print("  version resource: " + "; ".join("%s=%s" % item for item in sorted(strings.items())))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("check", choices=["headers", "descriptor", "release", "package"])
    parser.add_argument("dll", nargs="?", help="the DLL (or use --zip)")
    parser.add_argument("--zip", help="read the DLL from this release package")
    parser.add_argument("--version", help="the version the DLL and package must carry")
    args = parser.parse_args()

    failures = []
    debug_file = None
    if args.zip:
        with zipfile.ZipFile(args.zip) as package:
            members = [name for name in package.namelist() if not name.endswith("/")]
            top = {name.split("/")[0] for name in members}
            files = {name.split("/", 1)[-1] for name in members}
            print("%s: %s" % (args.zip, ", ".join(sorted(members))))
            if len(top) != 1 or files != PACKAGE_FILES:
                failures.append("package holds %s, not one folder with %s" % (sorted(members), sorted(PACKAGE_FILES)))
            dll_member = [name for name in members if name.endswith("/" + MODULE_NAME)]
            if not dll_member:
                failures.append("package holds no %s" % MODULE_NAME)
                data = None
            else:
                data = package.read(dll_member[0])
        label = args.zip + ":" + MODULE_NAME
    else:
        with open(args.dll, "rb") as f:
            data = f.read()
        label = args.dll
        debug_file = args.dll + ".debug"

    if data is not None:
        checks = Checks(data, label)
        print(label + ":")
        if args.check in ("headers", "package"):
            checks.headers()
        if args.check in ("descriptor", "package"):
            checks.descriptor()
        if args.check in ("release", "package"):
            checks.release(args.version, debug_file)
        failures += checks.failures

    for failure in failures:
        print("FAIL: " + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
