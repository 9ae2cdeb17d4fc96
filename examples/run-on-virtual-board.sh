#!/usr/bin/env bash
# Runs example programs on a virtual machine (scripts/virtual-machine: the
# vboard program and the cardhost server, registered as the running service)
# in a temporary run directory, from the build folder (where files that an
# example writes land). Afterwards the machine is stopped and the
# directory removed.
# usage: examples/run-on-virtual-board.sh BUILD_DIR PROGRAM [PROGRAM...]
set -euo pipefail

build_dir=$(cd "${1:?usage: run-on-virtual-board.sh BUILD_DIR PROGRAM...}" && pwd)
shift
bin="$build_dir/bin"
for program in vboard cardhost "$@"; do
  [ -x "$bin/$program" ] || { echo "missing $bin/$program (build it first)" >&2; exit 2; }
done
virtual_machine="$(cd "$(dirname "$0")/.." && pwd)/scripts/virtual-machine"
export QAX_BIN_DIR="$bin"

run_dir=$(mktemp -d "${TMPDIR:-/tmp}/qax-example-XXXXXX")
cleanup() {
  "$virtual_machine" stop --run-dir "$run_dir" 2>/dev/null || true
  rm -rf "$run_dir"
}
trap cleanup EXIT

eval "$("$virtual_machine" start --run-dir "$run_dir")"
for program in "$@"; do
  echo "=== $program"
  (cd "$build_dir" && "$bin/$program")
done
