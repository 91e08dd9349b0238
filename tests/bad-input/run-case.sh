#!/bin/sh
# Runs one case of a bad-input table: makes a fresh directory for it, runs its set-up and
# its command there, and checks the exit status, the message and that nothing is left
# behind (the case's absent files and any *.part file).
#
#   run-case.sh TABLE NAME WORKDIR FIXTURES
#
# Table lines (blank lines and lines starting with # are skipped) have six fields, separated
# by " | " (a space, a bar, a space; a pipe in a command is written without spaces):
#   name | exit | message | absent | setup | command
# message is a fragment of standard output or standard error; with a leading ! it must not
# appear. absent is a space-separated list of paths that must not exist afterwards, or -.
# setup is a shell command making the case's input, or -. Both set-up and command run in
# the case's directory with these at hand:
#   $FIX          the shared fixtures (make-fixtures.sh)
#   view ARGS     the viewer without a display: for runs that must stop before the window,
#                 and exports (which start their own display server)
#   play ARGS     the viewer under Xvfb
# Both run the viewer with the sanitizer build's preload (its runtime and the GL driver, so
# that the driver stays loaded and what it keeps is attributed to it).
#   with_mission FILE, with_targets FILE   view with FILE in place of the sample file
#   with_terrain FILE                      play with FILE as the terrain model
#   with_tree FILE     play a longer video, for the pager to read FILE's tiles during it
#   $KLV_SAMPLE   skyframe-klv-sample
set -u
table=$1 name=$2 work=$3
FIX=$4
export FIX

line=$(grep -v '^#' "$table" | awk -F ' [|] ' -v n="$name" '$1 == n' | head -n 1)
if [ -z "$line" ]; then
    echo "run-case.sh: no case $name in $table" >&2
    exit 1
fi
field() { printf '%s\n' "$line" | awk -F ' [|] ' -v i="$1" '{ print $i }'; }
want_exit=$(field 2) message=$(field 3) absent=$(field 4) setup=$(field 5) command=$(field 6)

view() { env -u DISPLAY ${VIEWER_PRELOAD:+LD_PRELOAD="$VIEWER_PRELOAD"} "$VIEWER" "$@"; }
play() {
    xvfb-run -a -s "-screen 0 1600x900x24" \
        env ${VIEWER_PRELOAD:+LD_PRELOAD="$VIEWER_PRELOAD"} "$VIEWER" "$@"
}

with_mission() { view "$FIX/v.ts" "$1" "$FIX/targets.xml" "$FIX/small.osgb"; }
with_targets() { view "$FIX/v.ts" "$FIX/mission.xml" "$1" "$FIX/small.osgb"; }
with_terrain() { play "$FIX/v.ts" "$FIX/mission.xml" "$FIX/targets.xml" "$1"; }
with_tree() { play "$FIX/long.ts" "$FIX/mission.xml" "$FIX/targets.xml" "$1"; }

dir="$work/$name"
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir" || exit 1
if [ "$setup" != "-" ] && ! eval "$setup"; then
    echo "$name: set-up failed: $setup" >&2
    exit 1
fi
eval "$command" >stdout 2>stderr
status=$?

failed=0
fail() {
    echo "$name: $*" >&2
    failed=1
}
[ "$status" = "$want_exit" ] || fail "exit status $status, expected $want_exit"
case "$message" in
!*)
    if grep -qF -- "${message#!}" stdout stderr; then
        fail "the output says \"${message#!}\""
    fi
    ;;
*)
    grep -qF -- "$message" stdout stderr || fail "no \"$message\" in the output"
    ;;
esac
if [ "$absent" != "-" ]; then
    for path in $absent; do
        [ ! -e "$path" ] || fail "$path was left behind"
    done
fi
left=$(find . -name '*.part')
[ -z "$left" ] || fail "left behind: $left"
if [ "$failed" != 0 ]; then
    echo "--- command: $command" >&2
    echo "--- stdout:" >&2
    tail -n 20 stdout >&2
    echo "--- stderr:" >&2
    grep -v '^ ' stderr | tail -n 20 >&2
    exit 1
fi
exit 0
