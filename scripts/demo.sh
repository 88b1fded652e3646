#!/usr/bin/env bash
# Sets up, builds and shows the console programmer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
echo "\$ build/bin/fwp --help"
build/bin/fwp --help
