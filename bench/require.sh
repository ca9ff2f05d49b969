# Sourced by the comparison benchmarks: stops one with a single message when a tool it
# compares with, or the program it measures, is missing.
#   require NAME PROGRAM TOOL...
require() {
  local name=$1 program=$2 tool
  shift 2
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$name: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
  done
  [[ -x $program ]] || { echo "$name: build $program first" >&2; exit 1; }
}
