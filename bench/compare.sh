#!/bin/sh
# Times the release vexlor tool against cp, gzip and gpg on the same generated files, in one
# run, and prints each ratio next to its target.
#
#   bench/compare.sh [STORED_SIZE [TEXT_SIZE [REPEATS]]]
#
# STORED_SIZE (default 1G) is the random file for the stored path, TEXT_SIZE (default 64M) the
# text-like corpus for the compressed path; sizes take a K, M or G suffix. Every command runs
# REPEATS times (default 3) and its fastest run counts. The files live in a temporary folder
# (under $TMPDIR, else /tmp) that is removed at the end. Needs cmake, gzip and gpg.
set -eu

stored_size=${1:-1G}
text_size=${2:-64M}
repeats=${3:-3}

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
echo "building the release tool..." >&2
cmake --preset release >/dev/null
cmake --build --preset release --target vexlor >/dev/null
cmake --build --preset release --target make_corpus >/dev/null
vexlor=$root/build/release/tools/vexlor/vexlor
make_corpus=$root/build/release/bench/make_corpus

work=$(mktemp -d "${TMPDIR:-/tmp}/vexlor-compare.XXXXXX")
GNUPGHOME=$work/gnupg
export GNUPGHOME
cleanup() {
  # Ends the agent that gpg started for this run's own home folder, then removes everything.
  gpgconf --kill gpg-agent >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir -m 700 "$GNUPGHOME"
printf 'compare password\n' >"$work/password"
gpg_options="--batch --yes --quiet --pinentry-mode loopback --passphrase-file $work/password --no-symkey-cache"

echo "generating $stored_size random bytes and $text_size of text in $work..." >&2
"$make_corpus" random "$stored_size" "$work/stored.bin"
"$make_corpus" text "$text_size" "$work/text.txt"
stored_bytes=$(wc -c <"$work/stored.bin")
text_bytes=$(wc -c <"$work/text.txt")

# measure NAME SETUP COMMAND: runs SETUP (untimed) and COMMAND (timed, wall clock) REPEATS
# times and sets seconds_NAME to the fastest run. Dirty pages are flushed before each timing
# so that one command's write-back does not land in the next one's time.
measure() {
  name=$1
  setup=$2
  command=$3
  best=
  run=0
  while [ "$run" -lt "$repeats" ]; do
    eval "$setup"
    sync
    start=$(date +%s%N)
    if ! eval "$command" >/dev/null 2>"$work/stderr"; then
      cat "$work/stderr" >&2
      echo "compare.sh: $name failed: $command" >&2
      exit 1
    fi
    end=$(date +%s%N)
    elapsed=$((end - start))
    if [ -z "$best" ] || [ "$elapsed" -lt "$best" ]; then best=$elapsed; fi
    run=$((run + 1))
  done
  eval "seconds_$name=\$(awk -v ns=$best 'BEGIN { printf \"%.3f\", ns / 1e9 }')"
}

same_or_fail() {
  if ! cmp -s "$1" "$2"; then
    echo "compare.sh: $2 differs from $1" >&2
    exit 1
  fi
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
commit=$(git -C "$root" describe --always --dirty 2>/dev/null || echo unknown)

# Stored path: the 1 GiB random file.
mkdir "$work/v"
measure cp "rm -f '$work/copy.bin'" "cp '$work/stored.bin' '$work/copy.bin'"
rm -f "$work/copy.bin"
measure vexlor_encrypt "rm -f '$work/v/data_bin.vxl'; cp '$work/stored.bin' '$work/v/data.bin'" \
  "'$vexlor' encrypt --password-file '$work/password' '$work/v/data.bin'"
measure vexlor_decrypt "[ -f '$work/v/data_bin.vxl' ] || '$vexlor' encrypt --password-file '$work/password' '$work/v/data.bin'" \
  "'$vexlor' decrypt --password-file '$work/password' '$work/v/data_bin.vxl'"
same_or_fail "$work/stored.bin" "$work/v/data.bin"
rm -f "$work/v/data.bin"
measure gpg_encrypt "rm -f '$work/stored.gpg'" \
  "gpg $gpg_options --compress-algo none --symmetric -o '$work/stored.gpg' '$work/stored.bin'"
measure gpg_decrypt "rm -f '$work/stored.out'" "gpg $gpg_options --decrypt -o '$work/stored.out' '$work/stored.gpg'"
same_or_fail "$work/stored.bin" "$work/stored.out"
rm -f "$work/stored.gpg" "$work/stored.out" "$work/stored.bin"

# Compressed path: the text corpus.
measure gzip "rm -f '$work/text.gz'" "gzip -6 -c '$work/text.txt' >'$work/text.gz'"
measure gunzip "rm -f '$work/text.out'" "gzip -d -c '$work/text.gz' >'$work/text.out'"
same_or_fail "$work/text.txt" "$work/text.out"
measure vexlor_compress "rm -f '$work/v/text_txt.vxl'; cp '$work/text.txt' '$work/v/text.txt'" \
  "'$vexlor' encrypt --compress --password-file '$work/password' '$work/v/text.txt'"
vexlor_packed=$(wc -c <"$work/v/text_txt.vxl")
gzip_packed=$(wc -c <"$work/text.gz")
measure vexlor_expand "[ -f '$work/v/text_txt.vxl' ] || '$vexlor' encrypt --compress --password-file '$work/password' '$work/v/text.txt'" \
  "'$vexlor' decrypt --password-file '$work/password' '$work/v/text_txt.vxl'"
same_or_fail "$work/text.txt" "$work/v/text.txt"
measure gpg_compress "rm -f '$work/text.gpg'" \
  "gpg $gpg_options --compress-algo zlib --compress-level 6 --symmetric -o '$work/text.gpg' '$work/text.txt'"
gpg_packed=$(wc -c <"$work/text.gpg")
measure gpg_expand "rm -f '$work/text.out'" "gpg $gpg_options --decrypt -o '$work/text.out' '$work/text.gpg'"
same_or_fail "$work/text.txt" "$work/text.out"

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# The report: times, rates (MB = 10^6 bytes) and each target as a ratio that must reach 1.0
# (or the stated factor).
awk -v sb="$stored_bytes" -v tb="$text_bytes" \
  -v cp="$seconds_cp" -v ve="$seconds_vexlor_encrypt" -v vd="$seconds_vexlor_decrypt" \
  -v ge="$seconds_gpg_encrypt" -v gd="$seconds_gpg_decrypt" \
  -v gz="$seconds_gzip" -v gu="$seconds_gunzip" -v vc="$seconds_vexlor_compress" \
  -v vx="$seconds_vexlor_expand" -v gc="$seconds_gpg_compress" -v gx="$seconds_gpg_expand" \
  -v vp="$vexlor_packed" -v zp="$gzip_packed" -v pp="$gpg_packed" \
  -v repeats="$repeats" -v lb="$load_before" -v la="$load_after" -v commit="$commit" '
  function rate(bytes, seconds) { return bytes / seconds / 1e6 }
  function row(what, bytes, seconds) { printf "  %-56s %8.3f s %9.1f MB/s\n", what, seconds, rate(bytes, seconds) }
  function check(what, value, goal, unit) {
    verdict = value >= goal ? "met" : sprintf("missed by %.0f%%", (1 - value / goal) * 100)
    printf "  %-48s %7.2f%s  target %5.2f%s  %s\n", what, value, unit, goal, unit, verdict
  }
  BEGIN {
    printf "vexlor at %s\n", commit
    printf "Stored path, %d bytes of random data (fastest of %d runs)\n", sb, repeats
    row("cp", sb, cp)
    row("vexlor encrypt", sb, ve)
    row("vexlor decrypt", sb, vd)
    row("gpg --symmetric --compress-algo none", sb, ge)
    row("gpg --decrypt", sb, gd)
    printf "Compressed path, %d bytes of text (fastest of %d runs)\n", tb, repeats
    row("gzip -6", tb, gz)
    row("gzip -d", tb, gu)
    row("vexlor encrypt --compress", tb, vc)
    row("vexlor decrypt (compressed)", tb, vx)
    row("gpg --symmetric --compress-algo zlib --compress-level 6", tb, gc)
    row("gpg --decrypt (compressed)", tb, gx)
    printf "  sizes: vexlor container %d, gzip %d, gpg %d bytes\n", vp, zp, pp
    printf "Targets (throughput ratios)\n"
    check("stored encrypt / cp", cp / ve, 0.7, "")
    check("stored decrypt / cp", cp / vd, 0.7, "")
    check("stored encrypt / gpg encrypt", ge / ve, 1.0, "")
    check("stored decrypt / gpg decrypt", gd / vd, 1.0, "")
    check("compressed encrypt / gzip -6", gz / vc, 1.0, "")
    check("compressed decrypt rate (MB/s of plain text)", rate(tb, vx), 50, "")
    check("compressed encrypt / gpg with compression", gc / vc, 1.0, "")
    check("compressed decrypt / gpg with compression", gx / vx, 1.0, "")
    printf "Load average before %s, after %s (2 cores, shared)\n", lb, la
  }'
