#!/bin/sh
# Checks the Windows build of the module the way Layout will meet it: a 32-bit
# x86 DLL, with exactly one export, _mod_descrip, in an export directory named
# Tamberlo.p, and importing only from DLLs that every Windows has, so that no
# compiler runtime needs to be shipped beside it.
# Usage: check_pe.sh OBJDUMP MODULE
set -eu
objdump="$1"
module="$2"

# The system DLLs a module may import from; anything else, such as
# libstdc++-6.dll, libgcc_s_dw2-1.dll or libwinpthread-1.dll, would be a
# runtime that the host's machine does not have.
allowed_imports="KERNEL32.dll msvcrt.dll USER32.dll ADVAPI32.dll"

headers=$(mktemp)
trap 'rm -f "$headers"' EXIT
"$objdump" -p "$module" >"$headers"

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

grep -q "file format pei-i386\$" "$headers" || fail "not a PE32 image for i386"
grep -q "^Magic[[:space:]]*010b[[:space:]]*(PE32)\$" "$headers" || fail "optional header is not PE32"
# Characteristics are listed one per line, tab-indented, right after the header.
sed -n '/^Characteristics/,/^$/p' "$headers" | grep -q "^[[:space:]]*DLL\$" ||
    fail "not marked as a DLL"

# The export directory: its DLL name, and the names in the name pointer table.
grep -q "^The Export Tables" "$headers" || fail "no export directory"
directory_name=$(sed -n '/^The Export Tables/,/^Number in:/s/^Name[[:space:]]*[0-9a-fA-F]*[[:space:]]//p' "$headers")
address_count=$(sed -n '/^Number in:/,/^Table Addresses/s/^[[:space:]]*Export Address Table[[:space:]]*//p' "$headers")
names=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' "$headers")
[ "$directory_name" = "Tamberlo.p" ] || fail "export directory names '$directory_name', not Tamberlo.p"
[ "$names" = "_mod_descrip" ] || fail "exported names are '$(echo $names)', not exactly _mod_descrip"
[ "$address_count" = "00000001" ] || fail "export address table holds $address_count entries, not 1"

# Imports, by DLL name.
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' "$headers")
[ -n "$imports" ] || fail "no imports found"
for dll in $imports; do
    found=no
    for allowed in $allowed_imports; do
        # DLL names are case-insensitive on Windows.
        if [ "$(echo "$dll" | tr '[:upper:]' '[:lower:]')" = "$(echo "$allowed" | tr '[:upper:]' '[:lower:]')" ]; then
            found=yes
        fi
    done
    [ "$found" = yes ] || fail "imports from $dll, which is not a system DLL"
done

echo "$module:"
grep "file format" "$headers" | sed 's/^.*file format/  file format/'
echo "  export directory name: $directory_name"
echo "  exports: $(echo $names)"
echo "  imports from: $(echo $imports)"
[ "$failures" -eq 0 ]
