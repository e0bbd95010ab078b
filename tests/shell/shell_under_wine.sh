#!/bin/sh
# Plays the shell's part for Vexlor.dll in a Wine prefix of its own: registration with the
# system's regsvr32, the registry rows, COM activation and menus (shell_com_tests), Windows 98
# and Windows 2000 behaviour, and unregistration.
#   shell_under_wine.sh VEXLOR_DLL SHELL_COM_TESTS SHELL_INTERNAL_TESTS
# Needs WINE_RUN and VEXLOR_WINE_ROOT (set by CTest).
set -u
dll=$1 com_tests=$2 internal_tests=$3

# A prefix of our own: this test registers a class and switches the Windows version.
VEXLOR_WINE_ROOT="$VEXLOR_WINE_ROOT-shell"
export VEXLOR_WINE_ROOT

# Windows need a display that exists before Wine's session starts: Wine picks its graphics
# driver when the session's desktop process comes up.
xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  n=120
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  xvfb_pid=$!
  DISPLAY=":$n"
  export DISPLAY
  i=0
  while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
fi
stop() {
  "$WINE_RUN" --stop
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid"; fi
}
trap stop EXIT
"$WINE_RUN" --stop  # a session left running without this display would have no windows
"$WINE_RUN" --start || exit 1

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
step() { echo "=== $*"; }
run() { "$WINE_RUN" "$@"; }

clsid='{590362D7-FCE8-4E99-AF8F-71C062573FB9}'
approved='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'
VEXLOR_DLL=$(run winepath -w "$dll" | tr -d '\r')
export VEXLOR_DLL

# expect_value KEY NAME TYPE DATA: the value (NAME "" = the default value) exists as given.
expect_value() {
  if [ -z "$2" ]; then
    out=$(run reg query "$1" /ve 2>&1); label='(Default)'
  else
    out=$(run reg query "$1" /v "$2" 2>&1); label=$2
  fi
  want="    $label    $3    $4"
  printf '%s\n' "$out" | tr -d '\r' | grep -qxF "$want" ||
    fail "$1 [$label]: expected '$want', reg query says: $(printf '%s' "$out" | tr -d '\r' | tr '\n' '|')"
}
expect_no_key() {
  run reg query "$1" >/dev/null 2>&1 && fail "$1 is still there"
}
expect_no_value() {
  run reg query "$1" /v "$2" >/dev/null 2>&1 && fail "$1 [$2] is still there"
}

expect_registered() {
  expect_value "HKCR\\CLSID\\$clsid" "" REG_SZ "Vexlor"
  expect_value "HKCR\\CLSID\\$clsid\\InprocServer32" "" REG_SZ "$VEXLOR_DLL"
  expect_value "HKCR\\CLSID\\$clsid\\InprocServer32" ThreadingModel REG_SZ Apartment
  for owner in Directory Folder '*'; do
    expect_value "HKCR\\$owner\\shellex\\ContextMenuHandlers\\Vexlor" "" REG_SZ "$clsid"
  done
  expect_value "$approved" "$clsid" REG_SZ Vexlor
  expect_value 'HKCR\.vxl' "" REG_SZ Vexlor_File
  expect_value 'HKCR\Vexlor_File' "" REG_SZ ""
  expect_value 'HKCR\Vexlor_File' BrowserFlags REG_DWORD 0x8
  expect_value 'HKCR\Vexlor_File' EditFlags REG_DWORD 0x10000
  expect_value 'HKCR\Vexlor_File\DefaultIcon' "" REG_SZ "$VEXLOR_DLL,1"
  expect_value 'HKCR\Vexlor_File\shell' "" REG_SZ ""
}

expect_unregistered() {
  expect_no_key "HKCR\\CLSID\\$clsid"
  for owner in Directory Folder '*'; do
    expect_no_key "HKCR\\$owner\\shellex\\ContextMenuHandlers\\Vexlor"
  done
  expect_no_value "$approved" "$clsid"
  expect_value "$approved" "$other_clsid" REG_SZ "Another extension"
  expect_no_key 'HKCR\.vxl'
  expect_no_key 'HKCR\Vexlor_File'
}

# Undo whatever an interrupted earlier run left in the prefix.
run reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1
run reg delete 'HKLM\SOFTWARE\Norvak' /f >/dev/null 2>&1
run regsvr32 /u /s "$VEXLOR_DLL" >/dev/null 2>&1

step "registration, twice"
run regsvr32 /s "$VEXLOR_DLL" || fail "regsvr32 failed"
expect_registered
run regsvr32 /s "$VEXLOR_DLL" || fail "second regsvr32 failed"
expect_registered

step "COM activation, menus and resources"
run "$com_tests" --gtest_filter='FreshLoad.*' || fail "fresh library"
run "$com_tests" --gtest_filter='-FreshLoad.*:Unregistration.*' || fail "COM tests"

step "menu with the default password on"
settings='HKLM\SOFTWARE\Norvak\Vexlor\2.0'
run reg add "$settings" /v useDefaultPassword /t REG_DWORD /d 1 /f >/dev/null
VEXLOR_TEST_DEFAULT_PASSWORD=1 run "$com_tests" --gtest_filter='ShellMenu.*' ||
  fail "menu with the default password on"
run reg delete 'HKLM\SOFTWARE\Norvak' /f >/dev/null

for version in win98:1 win2k:2; do
  name=${version%:*} platform=${version#*:}
  step "help texts and platform flag on $name"
  run reg add 'HKCU\Software\Wine' /v Version /d "$name" /f >/dev/null
  VEXLOR_TEST_PLATFORM=$platform run "$com_tests" --gtest_filter='HelpText.*' ||
    fail "help texts on $name"
  VEXLOR_TEST_PLATFORM=$platform run "$internal_tests" --gtest_filter='ProcessAttach.*' ||
    fail "process attach on $name"
done
run reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null

step "unregistration, twice"
other_clsid='{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}'
run reg add "$approved" /v "$other_clsid" /d "Another extension" /f >/dev/null
run regsvr32 /u /s "$VEXLOR_DLL" || fail "regsvr32 /u failed"
expect_unregistered
run regsvr32 /u /s "$VEXLOR_DLL" && fail "second regsvr32 /u succeeded"
run "$com_tests" --gtest_filter='Unregistration.*' || fail "second unregistration"
expect_unregistered

if [ $failures -ne 0 ]; then
  echo "shell_under_wine: $failures failure(s)" >&2
  exit 1
fi
echo "shell_under_wine: all steps passed"
