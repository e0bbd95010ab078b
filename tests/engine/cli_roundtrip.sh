#!/bin/sh
# Encrypts a sample folder with the vexlor tool, checks the container names, decrypts it and
# compares the result with the originals. Under Wine ($WINE_RUN set) the Windows build runs.
#   cli_roundtrip.sh VEXLOR_PROGRAM WORK_FOLDER
set -eu
program=$1
work=$2

run() {
  if [ -n "${WINE_RUN:-}" ]; then "$WINE_RUN" "$program" "$@"; else "$program" "$@"; fi
}
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/sample/docs/deep" "$work/original"
cd "$work"
printf 'hello\n' > sample/report.txt
printf 'no extension' > sample/README
: > sample/empty.dat
head -c 250000 /dev/urandom > sample/docs/archive.tar.gz
printf 'upper case suffix is not a container' > sample/docs/old.VXL
printf 'x' > sample/docs/deep/.profile
cp -R sample/. original/
printf 'correct horse\r\n' > password
printf 'wrong horse\n' > wrong

# The tool takes relative paths, so the same script serves both builds.
run encrypt --password-file password sample 2>err.txt || fail "encrypt: $(cat err.txt)"
found=$(cd sample && find . -type f | sort | tr '\n' ' ')
expected="./README.vxl ./docs/archive.tar_gz.vxl ./docs/deep/_profile.vxl ./docs/old_VXL.vxl ./empty_dat.vxl ./report_txt.vxl "
[ "$found" = "$expected" ] || fail "containers: $found"
# The header: plain "Vexlor", then 15 enciphered bytes and the extension, here ".txt".
[ "$(head -c 6 sample/report_txt.vxl)" = "Vexlor" ] || fail "magic"
[ "$(wc -c < sample/report_txt.vxl | tr -d ' ')" = 31 ] || fail "container size"
[ "$(wc -c < sample/empty_dat.vxl | tr -d ' ')" = 25 ] || fail "empty container size"

# A wrong password fails on every container; three failures stop the run.
if run decrypt --password-file wrong sample 2>err.txt; then fail "wrong password succeeded"; fi
tr -d '\r' < err.txt > err_lf.txt
grep -q 'Fail to decrypt the file .*: invalid password' err_lf.txt || fail "no password message: $(cat err.txt)"
grep -q '^too many errors, stop$' err_lf.txt || fail "no stop message: $(cat err.txt)"
found_after=$(cd sample && find . -type f | sort | tr '\n' ' ')
[ "$found_after" = "$expected" ] || fail "wrong password touched files: $found_after"

run decrypt --password-file password sample 2>err.txt || fail "decrypt: $(cat err.txt)"
diff -r original sample || fail "decrypted files differ"

# Bad input is refused before anything is touched.
if run encrypt --password-file password sample missing 2>err.txt; then fail "missing path accepted"; fi
diff -r original sample || fail "refused run touched files"
# A password file that cannot be read must not pass for the empty password.
if run encrypt --password-file sample sample 2>err.txt; then fail "unreadable password file accepted"; fi
diff -r original sample || fail "unreadable password file touched files"
# A file whose container cannot be created (a folder holds its name) is reported and kept,
# and the run does not end as a success.
mkdir -p blocked/x_txt.vxl
printf 'kept' > blocked/x.txt
if run encrypt --password-file password blocked 2>err.txt; then fail "uncreatable container passed as success"; fi
tr -d '\r' < err.txt | grep -q '^vexlor: cannot create .*x_txt\.vxl; the file it comes from is left as it is$' ||
  fail "no message for the uncreatable container: $(cat err.txt)"
[ "$(cat blocked/x.txt)" = kept ] || fail "the file whose container could not be created changed"

# The tool writes exactly the container the format prescribes: "hello\n" in a.txt under the
# password "secret" (the same bytes the engine's own tests derive from the layout).
mkdir -p known
printf 'hello\n' > known/a.txt
printf 'secret\n' > secret
run encrypt --password-file secret known/a.txt 2>err.txt || fail "known encrypt: $(cat err.txt)"
[ "$(od -An -v -tx1 known/a_txt.vxl | tr -d ' \n')" = \
  "5665786c6f728ac6d59fa4f4cbd7decf9d69818fd2e3de7e99e4d7c3c9c365" ] ||
  fail "known container: $(od -An -v -tx1 known/a_txt.vxl)"

run --help > help.txt || fail "--help"
grep -q -- '--password-file' help.txt || fail "help text"
echo "cli round trip passed"
