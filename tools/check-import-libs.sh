#!/usr/bin/env bash
# Links a tiny C program against each MSVC import library of an unpacked release
# package the way Visual C++ users link it, and checks what the program imports.
#   tools/check-import-libs.sh PACKAGE/lib/NAME.lib...
# For PACKAGE/lib/NAME.lib the package holds NAME.dll beside its programs and the
# headers in PACKAGE/include/. The program includes the headers that declare NAME.dll's
# exports, takes the address of every export and is
#   - compiled by clang for i686-pc-windows-msvc or x86_64-pc-windows-msvc (after the
#     DLL's machine), freestanding: no Visual C++ or Windows SDK is needed;
#   - linked by lld-link with the linker's defaults, which on i686 include /safeseh,
#     as they do for Visual C++ projects; /nodefaultlib and its own entry point stand
#     in for the C runtime;
#   - accepted only when its import table takes from NAME.dll, by name, exactly the
#     names NAME.dll exports (plain, undecorated: CommOpen, not _CommOpen).
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 PACKAGE/lib/NAME.lib..." >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $lib: $*" >&2; failures=$((failures + 1)); }

for lib in "$@"; do
  name=$(basename "$lib" .lib)
  package=$(cd "$(dirname "$lib")/.." && pwd)
  dll=$package/$name.dll
  [ -f "$lib" ] || { fail "no such file"; continue; }
  [ -f "$dll" ] || { fail "no $name.dll in $package"; continue; }

  case $(llvm-readobj --file-headers "$dll" | sed -n 's/^ *Machine: \([A-Z0-9_]*\).*/\1/p') in
    IMAGE_FILE_MACHINE_I386) target=i686-pc-windows-msvc ;;
    IMAGE_FILE_MACHINE_AMD64) target=x86_64-pc-windows-msvc ;;
    *) fail "$name.dll is neither i386 nor x86-64"; continue ;;
  esac
  mapfile -t exports < <(llvm-readobj --coff-exports "$dll" | sed -n 's/^  Name: //p' | sort)
  [ ${#exports[@]} -gt 0 ] || { fail "$name.dll exports no names"; continue; }

  # Every export must be declared in a shipped header: that is what host programs use.
  headers=()
  for function in "${exports[@]}"; do
    header=$(grep -lE "\\b$function[[:space:]]*\\(" "$package"/include/*.h | head -n 1 || true)
    [ -n "$header" ] || { fail "no header in include/ declares $function"; continue 2; }
    case " ${headers[*]} " in *" ${header##*/} "*) ;; *) headers+=("${header##*/}") ;; esac
  done

  program=$work/$name-$target
  {
    printf '#include "%s"\n' "${headers[@]}"
    echo 'typedef void (*AnyFunction)(void);'
    echo 'AnyFunction const importedFunctions[] = {'
    printf '    (AnyFunction)&%s,\n' "${exports[@]}"
    echo '};'
    echo 'int __cdecl ImportCheckEntry(void) {'
    echo '    int present = 0;'
    echo '    for (unsigned i = 0; i < sizeof importedFunctions / sizeof importedFunctions[0]; ++i)'
    echo '        present += importedFunctions[i] != 0;'
    echo '    return present;'
    echo '}'
  } >"$program.c"
  if ! clang --target=$target -std=c11 -ffreestanding -Wall -Wextra -Werror \
      -I"$package/include" -c "$program.c" -o "$program.obj"; then
    fail "the program including ${headers[*]} does not compile for $target"; continue
  fi
  if ! lld-link /nologo /nodefaultlib /entry:ImportCheckEntry /subsystem:console \
      /out:"$program.exe" "$program.obj" "$lib"; then
    fail "does not link for $target with the linker's defaults"; continue
  fi

  imports=$(llvm-readobj --coff-imports "$program.exe")
  dlls=$(sed -n 's/^  Name: //p' <<<"$imports")
  [ "$dlls" = "$name.dll" ] || { fail "the program imports from '${dlls//$'\n'/ }', not $name.dll"; continue; }
  imported=$(sed -n 's/^  Symbol: \(.*\) ([0-9]*)$/\1/p' <<<"$imports" | sort)
  expected=$(printf '%s\n' "${exports[@]}")
  if [ "$imported" != "$expected" ]; then
    fail "imports differ from $name.dll's exports"
    diff <(echo "$expected") <(echo "$imported") | sed -n 's/^</  missing:/p; s/^>/  wrong:  /p' >&2
    continue
  fi
  echo "ok $lib: links for $target, imports from $name.dll: ${exports[*]}"
done
[ $failures -eq 0 ] || { echo "$failures import librar$([ $failures -eq 1 ] && echo y || echo ies) failed" >&2; exit 1; }
