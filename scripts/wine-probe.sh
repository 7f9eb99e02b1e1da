#!/usr/bin/env bash
# Succeeds when this machine's kernel and Wine run 32-bit Windows programs.
# Some kernels boot with 32-bit emulation off; then the 64-bit build is tested.
[ -x /usr/lib/wine/wine ] || exit 1
/usr/lib/wine/wine --version >/dev/null 2>&1
