#!/usr/bin/env bash
# End-to-end timings of the host and the plug-in against the local microblog service (each build
# against its own), for one or more builds side by side in the same run (runs of the builds
# alternate, so that a machine busy with other work weighs on all of them alike):
#   start   tavi headless from its start to the printed timeline, less a bare start and stop of
#           tavi (the same command line ending at once) run just before it, median of the runs;
#   reload  one reload of the timeline (the page's refresh link, the wait for the reply and the
#           printed page), from a session of many reloads less one of none, per reload;
#   memory  with --memory N, the resident size of tavi after N/10 and after N reloads.
#
# usage: bench/e2e_bench.sh [--runs N] [--reloads N] [--memory N] BUILD_DIR [BUILD_DIR...]
# Each BUILD_DIR holds bin/tavi, bin/mbservice, bin/imserver, lib/libtavi.so and app/ (a staged
# build); its lib/ is put first in the library path, so a copied build runs its own libtavi.
set -euo pipefail

runs=15
reloads=50
memory=0
builds=()
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=$2; shift 2 ;;
        --reloads) reloads=$2; shift 2 ;;
        --memory) memory=$2; shift 2 ;;
        -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
        *) builds+=("$(cd "$1" && pwd)"); shift ;;
    esac
done
if [ ${#builds[@]} -eq 0 ]; then
    builds=("$(cd "$(dirname "$0")/../build" && pwd)")
fi

bench_name=e2e-bench
# shellcheck source=bench/servers.sh
source "$(dirname "$0")/servers.sh"

start_server imserver "${builds[0]}/bin/imserver" --port 0 --db "$work/imserver.db" --open
im="127.0.0.1:$port"

# One microblog service and one app folder per build, the folder pointed at that build's service
# (the service answers every request of a session, so its time is part of what is measured). The
# users/ folder is made anew for every session, so each starts as the first start of a fresh
# install does.
for i in "${!builds[@]}"; do
    start_server "mbservice$i" "${builds[$i]}/bin/mbservice" --port 0 --seed demo --threads 4
    api_root="http://127.0.0.1:$port/"
    mkdir -p "$work/app$i"
    cp -r "${builds[$i]}/app/plugin" "$work/app$i/"
    printf 'api_root = %s\nweb_root = %sweb\npicture_prefix = %sp/\n' "$api_root" "$api_root" "$api_root" \
        >"$work/app$i/plugin/microblog/deploy.ini"
done

now_ns() { date +%s%N; }

# Runs one tavi session of build $1 with the commands given after it; prints its nanoseconds.
session() {
    local i=$1
    shift
    rm -rf "$work/app$i/users"
    local start end
    start=$(now_ns)
    LD_LIBRARY_PATH="${builds[$i]}/lib" "${builds[$i]}/bin/tavi" --app-dir "$work/app$i" --user demo@velmora.com --password demo123 \
        --im-server "$im" "$@" --exec quit --script /dev/null >"$work/session.out" 2>&1
    end=$(now_ns)
    if [ $# -gt 0 ] && ! grep -q '转发' "$work/session.out"; then
        echo "e2e_bench: no timeline printed by ${builds[$i]}:" >&2
        tail -n 20 "$work/session.out" >&2
        exit 1
    fi
    echo $((end - start))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

timeline=(--exec show --exec wait --exec "when LabelUseThisAccount click LabelUseThisAccount" --exec wait
          --exec "when MicroBlogListPanel page")
reload=(--exec "follow 1" --exec wait --exec page)

declare -A bare ontop none many
for ((run = 0; run < runs; run++)); do
    for i in "${!builds[@]}"; do
        b=$(session "$i")
        f=$(session "$i" "${timeline[@]}")
        bare[$i]+="$b "
        ontop[$i]+="$((f - b)) "
    done
done
# The refresh link is the first link of the page.
for ((run = 0; run < (runs + 4) / 5; run++)); do
    for i in "${!builds[@]}"; do
        args=("${timeline[@]}")
        none[$i]+="$(session "$i" "${args[@]}") "
        for ((r = 0; r < reloads; r++)); do
            args+=("${reload[@]}")
        done
        many[$i]+="$(session "$i" "${args[@]}") "
    done
done

for i in "${!builds[@]}"; do
    b=$(tr ' ' '\n' <<<"${bare[$i]}" | grep . | median)
    d=$(tr ' ' '\n' <<<"${ontop[$i]}" | grep . | median)
    n=$(tr ' ' '\n' <<<"${none[$i]}" | grep . | median)
    m=$(tr ' ' '\n' <<<"${many[$i]}" | grep . | median)
    awk -v b="$b" -v d="$d" -v n="$n" -v m="$m" -v k="$reloads" -v build="${builds[$i]}" 'BEGIN {
        printf "%s\n  bare start and stop %.1f ms\n  start to timeline   %.1f ms on top\n  one reload          %.1f ms\n",
               build, b / 1e6, d / 1e6, (m - n) / k / 1e6 }'
done

# Resident memory over many reloads, fed through a pipe so that the size can be read between them.
if [ "$memory" -gt 0 ]; then
    for i in "${!builds[@]}"; do
        rm -rf "$work/app$i/users"
        mkfifo "$work/in$i"
        LD_LIBRARY_PATH="${builds[$i]}/lib" "${builds[$i]}/bin/tavi" --app-dir "$work/app$i" \
            --user demo@velmora.com --password demo123 --im-server "$im" "${timeline[@]}" --script "$work/in$i" >>"$work/memory.out" 2>&1 &
        pid=$!
        exec 3>"$work/in$i"
        first=""
        for ((r = 1; r <= memory; r++)); do
            printf 'follow 1\nwait\npage\n' >&3
            if [ $r -eq $((memory / 10)) ] || [ $r -eq "$memory" ]; then
                # A marker command whose output shows that every reload before it is done.
                printf 'toolbar\n' >&3
                until grep -q 'ToolbarMicroBlog' "$work/memory.out"; do
                    sleep 0.05
                done
                rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status")
                if [ -z "$first" ]; then
                    first=$rss
                    : >"$work/memory.out"
                    echo "${builds[$i]}: resident after $r reloads: $rss kB"
                else
                    : >"$work/memory.out"
                    awk -v a="$first" -v b="$rss" -v r="$r" \
                        'BEGIN { printf "  resident after %d reloads: %d kB (%+.1f%%)\n", r, b, (b - a) * 100 / a }'
                fi
            fi
        done
        printf 'quit\n' >&3
        exec 3>&-
        wait "$pid" || true
    done
fi
