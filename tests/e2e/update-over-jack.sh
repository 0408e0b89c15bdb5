#!/usr/bin/env bash
# One whole update, from a first run to Status=2, in real time, across a JACK server on its dummy
# backend: the emulated device in a process of its own, the updater on the RtMidi backend with a
# user at its prompts. Passes when the device received every message of the embedded image, in
# order, without a fault, with the image's digest, and the settings file says Status=2.
#
#   update-over-jack.sh EMULATOR UPDATER EXPECTED PERIOD_FRAMES [JACKD_OPTION...]
set -euo pipefail

emulator=$1 updater=$2 expected=$3 period=$4
shift 4
work=$(mktemp -d "${TMPDIR:-/tmp}/zav-e2e.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*"
    for log in "$work"/*.log; do
        echo "---- $(basename "$log")"
        tail -n 40 "$log"
    done
    exit 1
}

export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export JACK_DEFAULT_SERVER=zav-e2e-$$
# Read by the two programs only when they are built with ThreadSanitizer.
export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}suppressions=$(dirname "$0")/tsan-jack.supp"

jackd -n "$JACK_DEFAULT_SERVER" "$@" -d dummy -r 48000 -p "$period" >"$work/jackd.log" 2>&1 &
pids+=($!)
jack_wait -s "$JACK_DEFAULT_SERVER" -w -t 10 >/dev/null || fail "the JACK server did not come up"

"$emulator" --model ZAV5 --switch signal --time-limit 400 --report "$work/report.json" \
    >"$work/emulator.log" 2>&1 &
emulator_pid=$!
pids+=("$emulator_pid")

status=0
(cd "$work" && timeout 420 "$updater" --device-pid "$emulator_pid") >"$work/updater.log" 2>&1 ||
    status=$?
[ "$status" -eq 0 ] || { kill -TERM "$emulator_pid" 2>/dev/null || true; }
wait "$emulator_pid" || fail "the emulator failed"
[ "$status" -eq 0 ] || fail "the updater ended with $status"

report=$work/report.json
[ -s "$report" ] || fail "no report"
want=$("$expected")
jq -e --argjson want "$want" \
    '.messages == $want.messages and .faults == [] and .lost == [] and .digest == $want.digest' \
    "$report" >/dev/null || fail "the device's report: $(jq -c '{messages, faults, digest, lateness_ms, lost: (.lost | length)}' "$report"), expected $want"

settings="$XDG_CONFIG_HOME/BRIXEL/ZAV Editor/config/ZAV_V2_Updater.ini"
tr -d '\r' <"$settings" | grep -qx 'Status=2' || fail "the settings file does not say Status=2"

xruns=$(grep -ci xrun "$work/jackd.log" || true)
echo "period $period frames at 48 kHz; $xruns xruns"
echo "device: $(jq -c '{messages, digest, lateness_ms, faults: (.faults | length), lost: (.lost | length)}' "$report")"
grep -E 'cpu .* peak rss|memory:' "$work/updater.log" || true
echo "PASSED"
