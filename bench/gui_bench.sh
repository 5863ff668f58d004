#!/usr/bin/env bash
# Timings of the windowed client against the local microblog service, under Xvfb when no display is
# given (the script starts one itself):
#   show    from the start of tavi --gui (which shows the plug-in) to the web view's load-finished of
#           the demo timeline, for a bound account (the window, sign-in, timeline request, page
#           written and loaded by WebKit), median of runs;
#   F5      from an F5 key press in the main window (a real key event, through the X server) to the
#           web view's load-finished of the reloaded page, median of the reloads;
#   idle    CPU time of tavi and its web processes over 60 s of an idle window, from 10 s after the
#           last reload (GUI_BENCH_VERBOSE=1 prints it every 5 s, and per process);
#   memory  resident size of tavi and its web processes after 50 and after 500 reloads.
#
# usage: bench/gui_bench.sh [--runs N] [--reloads N] [--idle SECONDS] [--settle SECONDS] [BUILD_DIR]
# BUILD_DIR (default build/) holds bin/tavi, bin/mbservice, bin/imserver and app/.
set -euo pipefail

runs=10
reloads=500
idle=60
settle=10
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=$2; shift 2 ;;
        --reloads) reloads=$2; shift 2 ;;
        --idle) idle=$2; shift 2 ;;
        --settle) settle=$2; shift 2 ;;
        -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
        *) build=$(cd "$1" && pwd); shift ;;
    esac
done
build=${build:-$(cd "$(dirname "$0")/../build" && pwd)}

if [ -z "${DISPLAY:-}" ] && [ -z "${GUI_BENCH_INNER:-}" ]; then
    exec env GUI_BENCH_INNER=1 WEBKIT_DISABLE_DMABUF_RENDERER=1 xvfb-run -a -s "-screen 0 1280x900x24" \
        dbus-run-session -- "$0" --runs "$runs" --reloads "$reloads" --idle "$idle" --settle "$settle" "$build"
fi
export WEBKIT_DISABLE_DMABUF_RENDERER=1
command -v xdotool >/dev/null || { echo "gui_bench: needs xdotool (scripts/setup installs it)" >&2; exit 1; }

bench_name=gui-bench
# shellcheck source=bench/servers.sh
source "$(dirname "$0")/servers.sh"

start_server mbservice "$build/bin/mbservice" --port 0 --seed demo --activity 0
api_root="http://127.0.0.1:$port/"
start_server imserver "$build/bin/imserver" --port 0 --db "$work/imserver.db" --open
im="127.0.0.1:$port"
mkdir -p "$work/app"
cp -r "$build/app/plugin" "$work/app/"
printf 'api_root = %s\nweb_root = %sweb\npicture_prefix = %sp/\n' "$api_root" "$api_root" "$api_root" \
    >"$work/app/plugin/microblog/deploy.ini"
( umask 077; printf 'demo123\n' >"$work/password" )

now_ns() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# A windowed session fed through a pipe; its output goes to $work/out.
tavi_pid=""
open_session() {
    rm -f "$work/in"
    mkfifo "$work/in"
    : >"$work/out"
    "$build/bin/tavi" --gui --app-dir "$work/app" --user demo@velmora.com --password-file "$work/password" \
        --im-server "$im" <"$work/in" >>"$work/out" 2>>"$work/err" &
    tavi_pid=$!
    exec 3>"$work/in"
}
close_session() {
    printf 'quit\n' >&3
    exec 3>&-
    wait "$tavi_pid" || true
}
# Sends command lines, then waits until the output holds a line matching the pattern.
send_and_wait() {
    local lines=$1 pattern=$2
    printf '%s\n' "$lines" >&3
    for _ in $(seq 1 2000); do
        grep -q "$pattern" "$work/out" && return 0
        sleep 0.005
    done
    echo "gui_bench: no '$pattern' from tavi:" >&2
    tail -n 20 "$work/out" "$work/err" >&2
    exit 1
}
# Resident kB and CPU ticks of a process and everything it started (WebKit's web and network
# processes run as its descendants).
tree_pids() {
    local pid=$1
    echo "$pid"
    for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
        tree_pids "$child"
    done
}
tree_rss() { for p in $(tree_pids "$1"); do awk '/^VmRSS/ { print $2 }' /proc/"$p"/status 2>/dev/null; done | awk '{ s += $1 } END { print s }'; }
tree_ticks() { for p in $(tree_pids "$1"); do awk '{ print $14 + $15 }' /proc/"$p"/stat 2>/dev/null; done | awk '{ s += $1 } END { print s }'; }

# The first session binds the account; later ones start signed in, as a person's do.
open_session
send_and_wait $'show\nwait\nwhen LabelUseThisAccount click LabelUseThisAccount\nwait\nloaded 1' '^loaded '
close_session

# The windowed client shows the plug-in as it starts: from the start of tavi to the page loaded.
shows=""
for ((run = 0; run < runs; run++)); do
    start=$(now_ns)
    open_session
    send_and_wait $'show\nloaded 1' '^loaded '
    end=$(now_ns)
    shows+="$((end - start)) "
    if [ $run -lt $((runs - 1)) ]; then
        close_session
    fi
done

# The last session stays: F5 in its main window, one reload at a time.
window=$(xdotool search --sync --onlyvisible --name '^Tavi - demo@velmora.com$' | head -n 1)
xdotool windowfocus --sync "$window"
reload_times=""
rss50=""
for ((r = 1; r <= reloads; r++)); do
    : >"$work/out"
    start=$(now_ns)
    xdotool key --window "$window" F5
    send_and_wait "loaded $((r + 1))" '^loaded '
    end=$(now_ns)
    reload_times+="$((end - start)) "
    if [ $r -eq 50 ]; then
        rss50=$(tree_rss "$tavi_pid")
    fi
done
rss_end=$(tree_rss "$tavi_pid")
if grep -q '^error' "$work/out"; then
    echo "gui_bench: a reload failed:" >&2
    cat "$work/out" >&2
    exit 1
fi

# The reloads leave a few seconds of drawing behind them (software GL under Xvfb); the idle
# window is measured once they have settled.
sleep "$settle"
ticks_before=$(tree_ticks "$tavi_pid")
declare -A before
for p in $(tree_pids "$tavi_pid"); do before[$p]=$(awk '{ print $14 + $15 }' /proc/"$p"/stat); done
if [ -n "${GUI_BENCH_VERBOSE:-}" ]; then
    for ((t = 0; t < idle; t += 5)); do
        sleep 5
        echo "  idle ${t}s+5: $(tree_ticks "$tavi_pid") ticks in all, tavi $(awk '{ print $14 + $15 }' /proc/"$tavi_pid"/stat)" >&2
    done
else
    sleep "$idle"
fi
ticks_after=$(tree_ticks "$tavi_pid")
if [ -n "${GUI_BENCH_VERBOSE:-}" ]; then
    for p in $(tree_pids "$tavi_pid"); do
        echo "  $(tr '\0' ' ' </proc/"$p"/cmdline | cut -c1-60): $(( $(awk '{ print $14 + $15 }' /proc/"$p"/stat) - ${before[$p]:-0} )) ticks" >&2
    done
fi
hz=$(getconf CLK_TCK)
close_session

s=$(tr ' ' '\n' <<<"$shows" | grep . | median)
f=$(tr ' ' '\n' <<<"$reload_times" | grep . | median)
awk -v s="$s" -v f="$f" -v runs="$runs" -v k="$reloads" -v idle="$idle" -v hz="$hz" \
    -v t0="$ticks_before" -v t1="$ticks_after" -v m50="${rss50:-0}" -v m="$rss_end" 'BEGIN {
    printf "start to load-finished    %.1f ms (median of %d sessions)\n", s / 1e6, runs
    printf "F5 to load-finished       %.1f ms (median of %d reloads)\n", f / 1e6, k
    printf "idle window, %d s          %.2f s of CPU (tavi and its web processes)\n", idle, (t1 - t0) / hz
    if (m50 > 0)
        printf "resident after 50 reloads %d kB, after %d: %d kB (%+.1f%%)\n", m50, k, m, (m - m50) * 100 / m50
}'
