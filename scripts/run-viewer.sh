#!/bin/sh
# Runs the viewer the way a person would, on a display, and records what it did.
#
#   run-viewer.sh OUTDIR [--shot DELAY NAME | --key DELAY KEY]... -- VIEWER [ARGS...]
#
# Writes OUTDIR/stdout, OUTDIR/stderr and OUTDIR/exit (the viewer's exit status). Each
# --shot waits until the viewer has printed "Reading init.", then DELAY seconds more, and
# saves the whole screen as OUTDIR/NAME.ppm and OUTDIR/NAME.png; while the window's area is
# still all black (not drawn yet, on a loaded machine) it tries again, for up to 30 s. Each
# --key presses KEY (an xdotool key name: space, Up, h ...) in the window at its delay; shots
# and keys are taken in the order given.
# Shots due after the viewer has ended are not taken. Without a DISPLAY the
# script runs itself again under Xvfb. VIEWER_PRELOAD, when set, is put in LD_PRELOAD of the
# viewer alone (the sanitizer build uses it to keep the GL driver loaded until exit, so its
# allocations can be named in the leak report).
set -eu

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1600x900x24" "$0" "$@"
fi

out=$1
shift
mkdir -p "$out"
shots=""
while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
    case "$1" in
    --shot)
        shots="$shots $2:$3"
        shift 3
        ;;
    --key)
        shots="$shots $2:key=$3"
        shift 3
        ;;
    *)
        echo "run-viewer.sh: unknown option $1" >&2
        exit 2
        ;;
    esac
done
[ "$#" -gt 0 ] && shift

rm -f "$out/stdout" "$out/stderr" "$out/exit" "$out"/*.ppm "$out"/*.png
if [ -n "${VIEWER_PRELOAD:-}" ]; then
    env LD_PRELOAD="$VIEWER_PRELOAD" SKYFRAME_STATS=1 "$@" >"$out/stdout" 2>"$out/stderr" &
else
    env SKYFRAME_STATS=1 "$@" >"$out/stdout" 2>"$out/stderr" &
fi
pid=$!

now() { date +%s.%N; }
started=""
for shot in $shots; do
    delay=${shot%%:*}
    name=${shot#*:}
    if [ -n "$started" ] && ! kill -0 "$pid" 2>/dev/null; then
        break # the viewer has ended: no window left to capture
    fi
    if [ -z "$started" ]; then
        waited=0
        while ! grep -q "Reading init." "$out/stdout" 2>/dev/null; do
            if ! kill -0 "$pid" 2>/dev/null || [ "$waited" -ge 600 ]; then
                break
            fi
            sleep 0.1
            waited=$((waited + 1))
        done
        started=$(now)
    fi
    # Delays count from "Reading init.", not from the previous shot.
    sleep "$(awk "BEGIN { d = $started + $delay - $(now); print (d > 0 ? d : 0) }")"
    case "$name" in
    key=*)
        # Keys go to the window under the pointer (Xvfb runs no window manager).
        xdotool mousemove 700 400 key "${name#key=}" || echo "run-viewer.sh: key ${name#key=} failed" >&2
        continue
        ;;
    esac
    tries=0
    while :; do
        # A failed capture (the window closing under it) is reported, not fatal: the
        # viewer's own exit status is what this script must deliver.
        if ! xwd -root -display "$DISPLAY" >"$out/$name.xwd"; then
            echo "run-viewer.sh: screenshot $name failed" >&2
            break
        fi
        brightest=$(convert "xwd:$out/$name.xwd" -crop 1280x720+50+50 +repage -format '%[max]' info: || echo 0)
        if [ "$brightest" != "0" ] || [ "$tries" -ge 60 ] || ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        tries=$((tries + 1))
        sleep 0.5
    done
    if [ -s "$out/$name.xwd" ]; then
        convert "xwd:$out/$name.xwd" "ppm:$out/$name.ppm" || echo "run-viewer.sh: cannot convert $name" >&2
        convert "xwd:$out/$name.xwd" "$out/$name.png" || true
    fi
    rm -f "$out/$name.xwd"
done

status=0
wait "$pid" || status=$?
echo "$status" >"$out/exit"
