# Sourced by the scripts that build for another platform: strict mode, the repository as the
# working folder (root), the number of jobs, and host_build FLAG TARGET...: the dependencies
# install-deps.sh FLAG names, then the host's release build of the programs that build needs.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc)

host_build() {
    scripts/install-deps.sh "$1"
    shift
    cmake --preset release >/dev/null
    cmake --build --preset release -j"$jobs" --target "$@"
}
