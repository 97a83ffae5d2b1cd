#!/usr/bin/env bash
# Exits 0 when this machine can run 32-bit x86 programs, which the shipped i686
# build needs under Wine (wine32). A kernel built with 32-bit support can still boot
# with it switched off (ia32_emulation=off: "Exec format error"), so the only sure
# answer is to run a tiny static i386 program. Prints nothing.
#   tools/can-run-32bit.sh && echo yes
set -u
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
# exit(0) through the 32-bit system call gate.
printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$dir/exit0.s"
as --32 -o "$dir/exit0.o" "$dir/exit0.s" 2>/dev/null || exit 1
ld -m elf_i386 -o "$dir/exit0" "$dir/exit0.o" 2>/dev/null || exit 1
"$dir/exit0" 2>/dev/null
