#!/bin/sh
# Runs EMULATOR PROGRAM ARGS... with a fixture in the Wine prefix that Windows code cannot
# make under Wine, named to the program in GU_PREFIX_FIXTURE as a Windows path (see
# prefix_fixture_test.cpp for the layout):
#   - Unix symbolic links with canary files behind them;
#   - the helper program (found next to PROGRAM) running from a folder whose path passes
#     260 characters, started from here because Wine's CreateProcessW refuses such paths.
# Afterwards it checks that the canaries survived unchanged and removes the fixture.
set -eu
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
emulator=$1
shift
name=gu_prefix_fixture_$$
fixture=$WINEPREFIX/drive_c/$name
child_pid=
# Ends the long-path helper if it still runs and removes the fixture; rm -rf removes links
# without following them.
cleanup() {
  [ -z "$child_pid" ] || kill "$child_pid" 2>/dev/null || true
  rm -rf -- "$fixture"
}
trap cleanup EXIT

mkdir -p "$fixture/target/inner" "$fixture/list" "$fixture/remove/sub"
for file in target/canary.txt target/inner/canary.txt list/file.txt remove/file.txt remove/sub/x.txt; do
  echo canary >"$fixture/$file"
done
ln -s "$fixture/target" "$fixture/list/dirlink"
ln -s "$fixture/nowhere" "$fixture/list/dangling"
ln -s "$fixture/target" "$fixture/remove/dirlink"
ln -s "$fixture/target/canary.txt" "$fixture/remove/filelink"

# 150 p's and 120 q's: the program's Windows path passes 300 characters.
long=$fixture/$(printf '%0150d' 0 | tr 0 p)/$(printf '%0120d' 0 | tr 0 q)
mkdir -p "$long"
cp "$(dirname "$1")/gu_platform_win_child.exe" "$long/child_long.exe"
# Reports at once, then stays for the process walk; ended by cleanup.
(cd "$fixture" && exec "$emulator" "$long/child_long.exe" "C:\\$name\\long_report.txt" 60000) &
child_pid=$!

status=0
GU_PREFIX_FIXTURE="C:\\$name" "$emulator" "$@" || status=$?
for canary in "$fixture/target/canary.txt" "$fixture/target/inner/canary.txt"; do
  printf 'canary\n' | cmp -s - "$canary" ||
    { echo "$0: $canary was deleted or changed through a link" >&2; status=1; }
done
exit "$status"
