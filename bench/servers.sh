# The local services a benchmark script runs against, sourced by the scripts in bench/. Sets $work
# (a scratch folder removed at exit, with every server started here stopped) and provides
# start_server NAME COMMAND..., which starts a server that prints "port N" and sets $port.
# The sourcing script names itself in $bench_name.

work=$(mktemp -d "${TMPDIR:-/tmp}/tavi-$bench_name-XXXXXX")
pids=()
cleanup() {
    exec 3>&- 2>/dev/null || true
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

start_server() {
    local name=$1
    shift
    "$@" >"$work/$name.out" 2>/dev/null &
    pids+=($!)
    port=""
    for _ in $(seq 1 100); do
        port=$(sed -n 's/^port \([0-9]*\).*/\1/p' "$work/$name.out" | head -n 1)
        [ -n "$port" ] && return 0
        sleep 0.1
    done
    echo "$bench_name: $name did not start" >&2
    exit 1
}
