#!/usr/bin/env bash
# Runs a Windows program under Wine in the run's prefix (WINEPREFIX, made once
# per run by run-tests.sh). gtest's XML output goes to QS_XML_DIR when set.
set -u
exe=$1; shift
case "$(file -b "$exe")" in
  *x86-64*) wine=/usr/lib/wine/wine64 ;;
  *) wine=/usr/lib/wine/wine ;;
esac
export WINEDEBUG=${WINEDEBUG:--all}
if [ -n "${QS_XML_DIR:-}" ]; then export GTEST_OUTPUT="xml:Z:${QS_XML_DIR}/win-$(basename "$exe" .exe).xml"; fi
exec "$wine" "$exe" "$@"
