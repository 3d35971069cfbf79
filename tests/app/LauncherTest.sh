#!/bin/sh
# The installed launcher, started by a relative path, an absolute path and through PATH, starts
# the program beside it in the data directory with the arguments it was given, and puts the
# start page there.
#
#   LauncherTest.sh resources/quillo-launch.sh
set -eu
launcher=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# An installed tree whose program only records where and how it was started.
mkdir -p "$work/prefix/bin" "$work/prefix/share/quillo"
cp "$launcher" "$work/prefix/bin/quillo-launch"
chmod 755 "$work/prefix/bin/quillo-launch"
cat > "$work/prefix/bin/quillo" <<'PROGRAM'
#!/bin/sh
{ pwd; for arg in "$@"; do printf '%s\n' "$arg"; done; } > started
PROGRAM
chmod 755 "$work/prefix/bin/quillo"
printf 'start page\n' > "$work/prefix/share/quillo/quillomb.htm"

failures=0
for how in relative dot-dot absolute path; do
    QUILLO_HOME="$work/data-$how"
    export QUILLO_HOME
    case $how in
    relative) (cd "$work/prefix" && bin/quillo-launch one "two words") ;;
    dot-dot) (cd "$work/prefix/share" && ../bin/quillo-launch one "two words") ;;
    absolute) (cd / && "$work/prefix/bin/quillo-launch" one "two words") ;;
    path) (cd / && PATH="$work/prefix/bin:$PATH" quillo-launch one "two words") ;;
    esac || true
    expected=$(printf '%s\none\ntwo words' "$QUILLO_HOME")
    if [ "$(cat "$QUILLO_HOME/started" 2>/dev/null)" != "$expected" ]; then
        echo "FAIL $how: the program was not started in $QUILLO_HOME with its arguments"
        failures=$((failures + 1))
    elif ! cmp -s "$QUILLO_HOME/quillomb.htm" "$work/prefix/share/quillo/quillomb.htm"; then
        echo "FAIL $how: no start page in the data directory"
        failures=$((failures + 1))
    else
        echo "PASS $how"
    fi
done
[ "$failures" -eq 0 ]
