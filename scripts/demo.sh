#!/usr/bin/env bash
# Placeholder until the test network and the simulator arrive.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh native
echo "demo: nothing to show yet"
