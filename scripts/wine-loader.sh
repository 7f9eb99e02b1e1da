#!/usr/bin/env bash
# Prints the Wine loader for a Windows program: wine64 for a 64-bit PE image,
# wine for a 32-bit one. Reads the PE header's machine field (coreutils only).
set -u
exe=$1
# "MZ", then the PE header's offset at 0x3c (32-bit little-endian)
[ "$(head -c 2 "$exe" 2>/dev/null)" = MZ ] || { echo "wine-loader.sh: $exe is not a Windows program" >&2; exit 2; }
pe=$(od -An -t u4 -j 60 -N 4 "$exe" | tr -d ' ')
sig=$(od -An -c -j "$pe" -N 4 "$exe" | tr -d ' ')
[ "$sig" = 'PE\0\0' ] || { echo "wine-loader.sh: $exe has no PE header" >&2; exit 2; }
machine=$(od -An -t x2 -j $((pe + 4)) -N 2 "$exe" | tr -d ' ')
case "$machine" in
  8664) echo /usr/lib/wine/wine64 ;;
  014c) echo /usr/lib/wine/wine ;;
  *) echo "wine-loader.sh: $exe: unknown machine 0x$machine" >&2; exit 2 ;;
esac
