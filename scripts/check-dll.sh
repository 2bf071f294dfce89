#!/usr/bin/env bash
# Checks a built zv.dll: its export table holds exactly the names of the
# export list, an alias of src/zv.def sits at its target's address, no name
# is decorated (the 32-bit __stdcall @N form), and it imports only Windows'
# own DLLs.  Prints one line per failed check and "ok" at the end.
#   check-dll.sh DLL EXPORTS_TXT [DEF]
set -euo pipefail
dll=$1 expected=$2
def=${3:-$(dirname "$0")/../src/zv.def}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$objdump" -p "$dll" >"$scratch/dump"
failed=0
fail() { echo "check-dll: $(basename "$dll"): $*"; failed=1; }

# name -> address, from the export address table and the name table.
awk '/^Export Address Table -- Ordinal Base/ { eat = 1; next }
     eat && /^\t\[ *[0-9]+\] \+base/ { gsub(/[\[\]]/, " "); rva[$1] = $4; next }
     eat && /^$/ { eat = 0 }
     /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
     names && /^\t\[ *[0-9]+\]/ { gsub(/[\[\]]/, " "); print $2, rva[$1]; next }
     names && /^$/ { names = 0 }' "$scratch/dump" | sort >"$scratch/exports"
cut -d' ' -f1 "$scratch/exports" >"$scratch/names"
sort "$expected" | sed '/^$/d' >"$scratch/expected"
[ -s "$scratch/names" ] || fail "no export table found"
if ! diff -u "$scratch/expected" "$scratch/names" >"$scratch/diff"; then
  fail "exports differ from $(basename "$expected"):"
  grep '^[-+][A-Za-z_]' "$scratch/diff" | head -20
fi
if grep -q '[@?]' "$scratch/names"; then fail "decorated names: $(grep '[@?]' "$scratch/names" | head -3 | xargs)"; fi

# Aliases: NAME=TARGET in the .def; both at one address.
aliases=0
while IFS='=' read -r alias target; do
  alias=$(echo "$alias" | xargs) target=$(echo "$target" | xargs)
  a=$(awk -v n="$alias" '$1 == n { print $2 }' "$scratch/exports")
  t=$(awk -v n="$target" '$1 == n { print $2 }' "$scratch/exports")
  aliases=$((aliases + 1))
  [ -n "$a" ] && [ "$a" = "$t" ] || fail "alias $alias at '${a}', $target at '${t}'"
done < <(grep -E '^[[:space:]]+[A-Za-z_0-9]+=[A-Za-z_0-9]+' "$def" | tr -d '\r')
[ "$aliases" -gt 0 ] || fail "no aliases found in $def"

# Imports: Windows' own DLLs only (no MinGW runtime DLL).
system='^(kernel32|user32|advapi32|ole32|oleaut32|msvcrt|ucrtbase|shell32|shlwapi|ntdll|api-ms-win-.*)\.dll$'
while read -r imported; do
  echo "$imported" | tr 'A-Z' 'a-z' | grep -Eq "$system" || fail "imports a non-system DLL: $imported"
done < <(awk '/DLL Name:/ { print $3 }' "$scratch/dump")

[ "$failed" = 0 ] && echo "check-dll: $(basename "$dll"): ok ($(wc -l <"$scratch/names") exports, $aliases aliases, imports: $(awk '/DLL Name:/ { printf "%s ", $3 }' "$scratch/dump"))"
exit $failed
