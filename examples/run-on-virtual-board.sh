#!/usr/bin/env bash
# Runs example programs against a virtual board served by the vboard program
# on a temporary run directory. The cardhost server is found where the
# communication layer looks for it ("programfiles(x86)"/Corvane/cardhost), so
# the first program that starts the stack installs and starts it as a service.
# Afterwards the board and the server are stopped and the directory removed.
# usage: examples/run-on-virtual-board.sh BUILD_DIR PROGRAM [PROGRAM...]
set -euo pipefail

build_dir=$(cd "${1:?usage: run-on-virtual-board.sh BUILD_DIR PROGRAM...}" && pwd)
shift
bin="$build_dir/bin"
for program in vboard "$@"; do
  [ -x "$bin/$program" ] || { echo "missing $bin/$program (build it first)" >&2; exit 2; }
done

run_dir=$(mktemp -d "${TMPDIR:-/tmp}/qax-example-XXXXXX")
export QAX_RUN_DIR="$run_dir"
board_pid=""
cleanup() {
  local pid_file="$run_dir/services/cardhost/pid"
  if [ -s "$pid_file" ]; then kill "$(cat "$pid_file")" 2>/dev/null || true; fi
  if [ -n "$board_pid" ]; then
    kill "$board_pid" 2>/dev/null || true
    wait "$board_pid" 2>/dev/null || true
  fi
  rm -rf "$run_dir"
}
trap cleanup EXIT

# Where the communication layer installs the server from.
program_files="$run_dir/programs"
mkdir -p "$program_files/Corvane/cardhost"
if [ -x "$bin/cardhost" ]; then
  ln -s "$bin/cardhost" "$program_files/Corvane/cardhost/cardhost"
  [ -f "$bin/machine.conf" ] && ln -s "$bin/machine.conf" "$program_files/Corvane/cardhost/machine.conf"
fi

"$bin/vboard" --run-dir "$run_dir" >"$run_dir/vboard.out" 2>&1 &
board_pid=$!
# The board prints its socket path once it listens.
for _ in $(seq 200); do
  [ -s "$run_dir/vboard.out" ] && break
  kill -0 "$board_pid" 2>/dev/null || { cat "$run_dir/vboard.out" >&2; exit 1; }
  sleep 0.05
done
[ -s "$run_dir/vboard.out" ] || { echo "the virtual board did not start" >&2; exit 1; }

for program in "$@"; do
  echo "=== $program"
  env "programfiles(x86)=$program_files" "$bin/$program"
done
