#!/bin/sh
# Runs every command the README shows, in order, the way a reader would type them: from a
# scratch folder laid out like the repository's root (data/ and docs/ of the source tree,
# build/ the build tree), in one shell so that `export` carries over. Commands are the
# lines of ```sh blocks (a trailing backslash continues a line); `make ...` lines are left
# to CI, which runs them itself. Also checks that every local link of the README exists.
# Without a DISPLAY the whole run goes under Xvfb, so that the viewer can open its window.
#
#   run-readme-commands.sh SOURCE_DIR BUILD_DIR
set -eu

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1600x900x24" "$0" "$@"
fi

src=$1
build=$2
readme="$src/README.md"
scratch="$build/test-scratch/readme"
rm -rf "$scratch"
mkdir -p "$scratch"
ln -s "$src/data" "$scratch/data"
ln -s "$src/docs" "$scratch/docs"
ln -s "$build" "$scratch/build"

# Local links: [text](path) without a scheme, and images.
missing=0
for link in $(grep -o '](\([^)#]*\))' "$readme" | sed 's/^](//; s/)$//' | grep -v '://'); do
    if [ ! -e "$src/$link" ]; then
        echo "README links to \"$link\", which does not exist" >&2
        missing=1
    fi
done

script="$scratch/readme-commands.sh"
awk '
    /^```sh[ \t]*$/ { inside = 1; next }
    /^```/ { inside = 0; next }
    inside {
        line = $0
        sub(/^[ \t]+/, "", line)
        if (pending != "") { line = pending " " line; pending = "" }
        if (line ~ /\\$/) { sub(/\\$/, "", line); pending = line; next }
        if (line == "" || line ~ /^#/ || line ~ /^make /) next
        print line
    }
' "$readme" >"$scratch/commands"

count=$(wc -l <"$scratch/commands")
if [ "$count" -eq 0 ]; then
    echo "README shows no commands in sh blocks" >&2
    exit 1
fi

{
    echo "set -eu"
    while IFS= read -r command; do
        quoted=$(printf '%s' "$command" | sed "s/'/'\\\\''/g")
        echo "printf '\\n\$ %s\\n' '$quoted'"
        echo "$command"
    done <"$scratch/commands"
} >"$script"

echo "running $count README commands in $scratch"
status=0
(cd "$scratch" && sh "$script") || status=$?
if [ "$status" -ne 0 ]; then
    echo "a README command failed (exit status $status): the last one shown above" >&2
    exit 1
fi
if [ "$missing" -ne 0 ]; then
    exit 1
fi
rm -rf "$scratch"
echo "all $count README commands ran"
