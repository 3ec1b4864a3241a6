#!/bin/sh
# Runs EMULATOR PROGRAM ARGS... with Unix symbolic links in the Wine prefix, which Windows
# code cannot make under Wine (see links_test.cpp), named to the program in
# GU_PREFIX_FIXTURE; then checks that the canaries behind them are unchanged.
set -eu
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
name=gu_prefix_fixture_$$
fixture=$WINEPREFIX/drive_c/$name
trap 'rm -rf -- "$fixture"' EXIT  # rm -rf removes links without following them
mkdir -p "$fixture/target" "$fixture/list"
echo canary >"$fixture/target/canary.txt"
ln -s "$fixture/target" "$fixture/list/dirlink"
ln -s "$fixture/target/canary.txt" "$fixture/list/filelink"
status=0
GU_PREFIX_FIXTURE="C:\\$name" "$@" || status=$?
[ "$(cat "$fixture/target/canary.txt")" = canary ] ||
  { echo "$0: the canary behind a link was changed" >&2; status=1; }
exit "$status"
