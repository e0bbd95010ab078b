#!/bin/sh
# The main job on the built-in sample: encrypt a copy of samples/documents with the vexlor tool
# (compression off), list the containers, decrypt them back and show that every file matches.
set -eu
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release --target vexlor >/dev/null
vexlor=build/release/tools/vexlor/vexlor

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R samples/documents "$work/documents"
cp -R samples/documents "$work/original"
printf 'correct horse\n' >"$work/password"

echo "== encrypt $work/documents"
"$vexlor" encrypt --password-file "$work/password" "$work/documents"
echo "== the folder now holds:"
(cd "$work/documents" && find . -type f | sort)
echo "== decrypt"
"$vexlor" decrypt --password-file "$work/password" "$work/documents"
echo "== compare with the originals"
diff -r "$work/original" "$work/documents"
echo "every file matches"
