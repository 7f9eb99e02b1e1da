# Sourced by the benchmarks that can drive a Windows build under wine64
# (QS_BENCH_WINDOWS=1); kept apart from bench/*.sh, which `make bench` runs.
#
#   windows_program NAME EXE WORK OUT
#
# Writes OUT, a script that runs EXE under wine64 with a display, its
# arguments' Unix paths turned into the Z: paths the Windows program reads.
# The prefix is QS_WINE_TEMPLATE, or one made once in WORK. NAME is the
# calling script's, for its message when EXE is missing.
windows_program() {
  local name=$1 exe=$2 work=$3 out=$4 repo
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  [ -f "$exe" ] || { echo "$name: no $exe (build the win64 configuration first)" >&2; return 1; }
  if [ -z "${QS_WINE_TEMPLATE:-}" ]; then
    export QS_WINE_TEMPLATE=$work/wine
    WINEPREFIX=$QS_WINE_TEMPLATE /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    WINEPREFIX=$QS_WINE_TEMPLATE wineserver -w
  fi
  cat >"$out" <<EOF
#!/usr/bin/env bash
args=()
for a in "\$@"; do case "\$a" in /*) args+=("Z:\$a") ;; *) args+=("\$a") ;; esac; done
exec "$repo/tests/library/with-display.sh" "$repo/scripts/wine-run.sh" "$exe" "\${args[@]}"
EOF
  chmod +x "$out"
}
