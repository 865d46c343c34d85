# Sourced by the shell tests: `fail`, a wait with a limit, and one list of cleanups that runs once
# when the test exits, however it exits. The one `trap … EXIT` of the test's shell is here.
#   fail MESSAGE            prints FAIL: MESSAGE and exits with 1
#   on_exit COMMAND         COMMAND (evaluated then) runs at exit, the latest registered first
#   wait_until SECONDS CMD  runs CMD every tenth of a second until it succeeds (0), or gives up
#                           after SECONDS (1)
#   private_dir VAR         a new folder of the test's own in VAR, removed at exit
[ -n "${HARNESS_LOADED:-}" ] && return 0
HARNESS_LOADED=1
HARNESS_CLEANUPS=()

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

on_exit() {
    HARNESS_CLEANUPS=("$*" "${HARNESS_CLEANUPS[@]}")
}

harness_cleanup() {
    local cleanup
    for cleanup in "${HARNESS_CLEANUPS[@]}"; do eval "$cleanup"; done
    HARNESS_CLEANUPS=()
}
trap harness_cleanup EXIT

private_dir() {
    local dir
    dir=$(mktemp -d) || return 1
    printf -v "$1" %s "$dir"
    on_exit "rm -rf '$dir'"
}

# milliseconds since the epoch, from bash's own clock
harness_now_ms() {
    local now=${EPOCHREALTIME/[.,]/}
    echo $((10#$now / 1000))
}

wait_until() {
    local deadline
    deadline=$(($(harness_now_ms) + $(awk -v s="$1" 'BEGIN { printf "%d", s * 1000 }')))
    shift
    until "$@"; do
        [ "$(harness_now_ms)" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}
