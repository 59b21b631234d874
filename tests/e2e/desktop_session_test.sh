#!/usr/bin/env bash
# shellcheck disable=SC2016,SC2034 # conditions given to check as eval strings expand there
# Checks scripts/desktop-session from inside and outside: the desktop it sets
# up (X, window manager, sound devices and routing, accessibility bus), that it
# hands CMD's exit status and stdin through, and that it leaves nothing behind
# after a normal end, a signal or a failed start.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
ds=$root/scripts/desktop-session
PY=/usr/bin/python3 # Debian's, with the GTK and AT-SPI bindings

passed=0
failed=0
skipped=0
pass() {
  echo "ok   $1"
  passed=$((passed + 1))
}
fail() {
  echo "FAIL $1${2:+ -- $2}"
  failed=$((failed + 1))
}
skip() {
  echo "skip $1${2:+ -- $2}"
  skipped=$((skipped + 1))
}
check() { # check NAME CONDITION...
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}

work=$(mktemp -d "${TMPDIR:-/tmp}/ds-test.XXXXXX")
trap 'kill_leftovers; rm -rf "$work"' EXIT
chmod 755 "$work" # the unprivileged-user case needs to get in
# Every session in this test keeps its files under $work/s*, so any process
# whose environment still names that path afterwards is a leftover.
sessions=$work/s
mkdir -p "$sessions"
chmod 1777 "$sessions"
mkdir -p "$work/home"

# Each run is bounded: a hang is a failure, not a stuck test suite.
run_ds() { timeout -k 5 90 env TMPDIR="$sessions" HOME="$work/home" "$ds" "$@"; }

alive() { # running (a zombie only waits to be reaped, so it does not count)
  local stat
  { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 1
  stat=${stat##*) }
  [[ ${stat:0:1} != [ZX] ]]
}

# Live processes that still refer to this test's session directories.
leftovers() {
  local f p
  local -a files
  # The pattern comes from a file so that grep does not find itself.
  printf '%s/\n' "$sessions" >"$work/leftover.pattern"
  mapfile -t files < <(grep -lsF -f "$work/leftover.pattern" /proc/[0-9]*/environ /proc/[0-9]*/cmdline 2>/dev/null)
  for f in "${files[@]}"; do
    p=${f#/proc/}
    p=${p%%/*}
    [[ $p == "$$" || $p == "$BASHPID" ]] && continue
    alive "$p" && echo "$p $(tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null)"
  done | sort -u
}
# A failed check must not leave processes behind on the machine either, nor
# make every later check fail with it.
kill_leftovers() {
  local p
  for p in $(leftovers | cut -d' ' -f1); do kill -KILL "$p" 2>/dev/null; done
}
no_leftovers() {
  local l
  l=$(leftovers)
  [[ -z $l ]] && return 0
  echo "  still running: $l"
  kill_leftovers
  return 1
}
empty_dir() { [[ -d $1 && -z $(ls -A "$1") ]]; }

if [[ ! -x $ds ]]; then
  fail "desktop-session exists and is executable" "$ds"
  echo "$passed passed, $failed failed"
  exit 1
fi

# ---------------------------------------------------------------------------
# Helpers used inside the sessions.

# One second of a 440 Hz tone, 16 kHz mono s16le, well above the noise floor.
"$PY" - "$work/tone.raw" <<'EOF'
import math, struct, sys
rate = 16000
with open(sys.argv[1], "wb") as f:
    f.write(b"".join(struct.pack("<h", int(12000 * math.sin(2 * math.pi * 440 * i / rate)))
                     for i in range(rate)))
EOF

# Prints "<samples> <peak>" for a raw s16le recording.
cat >"$work/peak.py" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
n = len(data) // 2
samples = struct.unpack("<%dh" % n, data[:2 * n])
print(n, max((abs(s) for s in samples), default=0))
EOF

cat >"$work/gtk_window.py" <<'EOF'
import sys, gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk, GLib
w = Gtk.Window(title=sys.argv[1])
w.set_default_size(300, 200)
w.add(Gtk.Button(label="Press me"))
w.connect("destroy", Gtk.main_quit)
w.show_all()
GLib.timeout_add_seconds(60, Gtk.main_quit)
Gtk.main()
EOF

# Exit 0 once a top-level window with the given name is seen through AT-SPI.
cat >"$work/atspi_find.py" <<'EOF'
import sys, time, gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi
title = sys.argv[1]
deadline = time.monotonic() + 15
while time.monotonic() < deadline:
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None:
            continue
        for j in range(app.get_child_count()):
            win = app.get_child_at_index(j)
            if win is not None and win.get_name() == title:
                print(win.get_role_name())
                sys.exit(0)
    time.sleep(0.1)
sys.exit(1)
EOF

# Runs inside a session. Prints "PASS name", "FAIL name: why" and
# "INFO key value" lines for the outside to judge.
cat >"$work/probe.sh" <<'EOF'
#!/usr/bin/env bash
set -u
W=$1
PY=/usr/bin/python3
ok() { echo "PASS $1"; }
bad() { echo "FAIL $1: $2"; }
is() { # is NAME ACTUAL EXPECTED
  if [[ $2 == "$3" ]]; then ok "$1"; else bad "$1" "got '$2', want '$3'"; fi
}

# The process tree the session started, minus this probe: "pid comm".
tree() {
  local -A kids=()
  local f line pid rest ppid p c
  for f in /proc/[0-9]*/stat; do
    { read -r line <"$f"; } 2>/dev/null || continue
    pid=${line%% *}; rest=${line##*) }; rest=${rest#* }; ppid=${rest%% *}
    kids[$ppid]+="$pid "
  done
  local -a queue=("$1")
  while ((${#queue[@]})); do
    p=${queue[0]}; queue=("${queue[@]:1}")
    for c in ${kids[$p]:-}; do
      [[ $c == "$$" ]] && continue
      echo "$c $(cat /proc/$c/comm 2>/dev/null)"
      queue+=("$c")
    done
  done
}
while read -r pid comm; do echo "INFO daemon $pid $comm"; done < <(tree "$PPID")
echo "INFO session_dir ${TARVINE_SESSION_DIR:-}"
echo "INFO display ${DISPLAY:-}"

# The caller's (bogus) settings must have been replaced.
[[ ${DISPLAY:-} =~ ^:[0-9]+$ && $DISPLAY != :4242 ]] && ok env_display || bad env_display "DISPLAY=${DISPLAY:-}"
[[ ${DBUS_SESSION_BUS_ADDRESS:-} != *nobus* ]] && ok env_dbus || bad env_dbus "${DBUS_SESSION_BUS_ADDRESS:-}"
[[ ${PULSE_SERVER:-} == unix:* && ${PULSE_SERVER:-} != *nopulse* && -S ${PULSE_SERVER#unix:} ]] &&
  ok env_pulse || bad env_pulse "PULSE_SERVER=${PULSE_SERVER:-}"
is env_marker "${TARVINE_DESKTOP_SESSION:-}" 1
rt=${XDG_RUNTIME_DIR:-}
if [[ $rt != *norun* && -d $rt && $(stat -c '%a %u' "$rt") == "700 $(id -u)" ]]; then
  ok env_runtime_dir
else
  bad env_runtime_dir "XDG_RUNTIME_DIR=$rt $(stat -c '%a %u' "$rt" 2>&1)"
fi

# X server.
if info=$(xdpyinfo 2>&1); then
  ok x_connect
  [[ $info == *"dimensions:    1920x1080 pixels"* ]] && ok x_size || bad x_size "$(grep dimensions <<<"$info")"
  [[ $info == *"depth of root window:    24 planes"* ]] && ok x_depth || bad x_depth "$(grep 'depth of root' <<<"$info")"
  missing=
  for ext in RANDR Composite XTEST MIT-SHM XInputExtension; do
    grep -qE "^ +$ext\$" <<<"$info" || missing+=" $ext"
  done
  [[ -z $missing ]] && ok x_extensions || bad x_extensions "missing:$missing"
else
  bad x_connect "$info"
fi
# The server must not be open to clients without our cookie.
if XAUTHORITY=/dev/null xdpyinfo >/dev/null 2>&1; then bad x_auth "opened without a cookie"; else ok x_auth; fi

# Window manager.
wm=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>&1)
if [[ $wm =~ window\ id\ \#\ (0x[0-9a-f]+) ]]; then
  ok wm_check
  name=$(xprop -id "${BASH_REMATCH[1]}" _NET_WM_NAME 2>&1)
  [[ $name == *'"Openbox"'* ]] && ok wm_is_openbox || bad wm_is_openbox "$name"
else
  bad wm_check "$wm"
fi

# Sound devices.
is audio_default_sink "$(pactl get-default-sink 2>&1)" speakers
is audio_default_source "$(pactl get-default-source 2>&1)" mic
desc=$(pactl list sinks 2>&1 | grep -A3 'Name: speakers$' | grep -o 'Description: .*')
is audio_speakers_description "$desc" "Description: Speakers"

fmt=(--raw --format=s16le --rate=16000 --channels=1)
# record_while_playing SINK SOURCE... : plays the tone into SINK while
# recording each SOURCE into $W/rec.<source>.
record_while_playing() {
  local sink=$1 s
  shift
  local -a recs=()
  for s in "$@"; do
    parec -d "$s" "${fmt[@]}" --latency-msec=20 >"$W/rec.$s" 2>"$W/rec.$s.err" &
    recs+=($!)
  done
  sleep 0.4
  timeout 10 pacat -d "$sink" "${fmt[@]}" --latency-msec=50 "$W/tone.raw" 2>"$W/play.err" ||
    echo "INFO pacat_failed $(cat "$W/play.err")"
  sleep 0.3
  kill "${recs[@]}" 2>/dev/null
  wait "${recs[@]}" 2>/dev/null
}
# heard NAME FILE loud|silent
heard() {
  local n=0 peak=0
  read -r n peak < <("$PY" "$W/peak.py" "$2")
  if ((n < 8000)); then # under half a second: the recording itself failed
    bad "$1" "only $n samples recorded ($(cat "$2.err" 2>/dev/null))"
  elif [[ $3 == loud ]]; then
    ((peak > 4000)) && ok "$1" || bad "$1" "peak $peak, expected the tone"
  else
    ((peak < 200)) && ok "$1" || bad "$1" "peak $peak, expected silence"
  fi
}
record_while_playing speakers mic speakers.monitor
heard audio_speakers_reach_monitor "$W/rec.speakers.monitor" loud
heard audio_speakers_not_on_mic "$W/rec.mic" silent
record_while_playing mic_feed mic
heard audio_mic_feed_reaches_mic "$W/rec.mic" loud

# Accessibility bus.
addr=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
  --method org.a11y.Bus.GetAddress 2>&1)
[[ $addr == *"unix:"* ]] && ok a11y_bus_address || bad a11y_bus_address "$addr"
# Private to this session, not some other desktop's bus.
[[ $addr == *"$XDG_RUNTIME_DIR"* || $addr == *"${TARVINE_SESSION_DIR:-/nonexistent}"* ]] &&
  ok a11y_bus_private || bad a11y_bus_private "$addr"
enabled=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
  --method org.freedesktop.DBus.Properties.Get org.a11y.Status IsEnabled 2>&1)
is a11y_enabled "$enabled" "(<true>,)"

# A GTK window: managed and focused by the window manager, visible to AT-SPI.
title=probe-window-$$
"$PY" "$W/gtk_window.py" "$title" >"$W/gtk.log" 2>&1 &
echo "INFO leaked $!" # deliberately left running: teardown must stop it
win=$(timeout 15 xdotool search --sync --name "^$title\$" 2>/dev/null | head -n 1)
if [[ -n $win ]]; then
  ok gtk_window_mapped
  hex=$(printf '0x%x' "$win")
  clients=$(xprop -root _NET_CLIENT_LIST 2>&1)
  [[ $clients == *"$hex"* ]] && ok wm_manages_window || bad wm_manages_window "$hex not in $clients"
  active=
  for _ in $(seq 50); do
    active=$(xprop -root _NET_ACTIVE_WINDOW 2>&1)
    [[ $active == *"$hex"* ]] && break
    sleep 0.1
  done
  [[ $active == *"$hex"* ]] && ok wm_focuses_new_window || bad wm_focuses_new_window "$active, want $hex"
else
  bad gtk_window_mapped "$(cat "$W/gtk.log")"
fi
role=$("$PY" "$W/atspi_find.py" "$title" 2>&1)
[[ $? == 0 ]] && ok atspi_sees_gtk_window || bad atspi_sees_gtk_window "not found on the accessibility bus: $role"

# More leftovers a careless CMD might leave.
sleep 600 &
echo "INFO leaked $!"
exit 0
EOF
chmod +x "$work/probe.sh"

# ---------------------------------------------------------------------------
echo "# exit status of CMD"
for code in 0 1 7 125 200; do
  run_ds sh -c "exit $code" >/dev/null 2>&1
  rc=$?
  check "exit status $code passed through (got $rc)" [ "$rc" -eq "$code" ]
done
run_ds /nonexistent/command >/dev/null 2>&1
rc=$?
check "a command that cannot be run gives 127 (got $rc)" [ "$rc" -eq 127 ]

echo "# stdin and output"
out=$(printf 'line one\nline two\n' | run_ds cat 2>/dev/null)
check "stdin reaches CMD" [ "$out" = $'line one\nline two' ]
out=$(run_ds sh -c 'cat; echo done' <&- 2>/dev/null)
check "CMD runs with stdin closed" [ "$out" = "done" ]
err=$(run_ds true 2>&1 >/dev/null)
check "quiet by default (stderr: '${err:0:200}')" [ -z "$err" ]
err=$(TARVINE_SESSION_VERBOSE=1 run_ds true 2>&1 >/dev/null)
check "verbose mode says where the logs are" grep -q 'logs' <<<"$err"

echo "# inside a session (the caller's own desktop settings must be replaced)"
expected=(env_display env_dbus env_pulse env_marker env_runtime_dir x_connect x_size x_depth
  x_extensions x_auth wm_check wm_is_openbox audio_default_sink audio_default_source
  audio_speakers_description audio_speakers_reach_monitor audio_speakers_not_on_mic
  audio_mic_feed_reaches_mic a11y_bus_address a11y_bus_private a11y_enabled gtk_window_mapped
  wm_manages_window wm_focuses_new_window atspi_sees_gtk_window)
start=$(date +%s%N)
DISPLAY=:4242 DBUS_SESSION_BUS_ADDRESS="unix:path=$work/nobus" \
  PULSE_SERVER="unix:$work/nopulse" XDG_RUNTIME_DIR="$work/norun" \
  AT_SPI_BUS_ADDRESS="unix:path=$work/noa11y" XAUTHORITY="$work/noauth" \
  run_ds "$work/probe.sh" "$work" >"$work/probe.out" 2>"$work/probe.err"
rc=$?
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
check "probe session exits 0 (got $rc; $(tail -n 3 "$work/probe.err" | tr '\n' ' '))" [ "$rc" -eq 0 ]
echo "  (probe session took ${elapsed_ms} ms)"
for name in "${expected[@]}"; do
  line=$(grep -m1 -E "^(PASS|FAIL) $name(:|\$)" "$work/probe.out")
  if [[ $line == "PASS $name" ]]; then
    pass "$name"
  else
    fail "$name" "${line:-no result}"
  fi
done

echo "# after the session"
mapfile -t daemons < <(awk '$1 == "INFO" && $2 == "daemon" {print $3 " " $4}' "$work/probe.out")
mapfile -t leaked < <(awk '$1 == "INFO" && $2 == "leaked" {print $3}' "$work/probe.out")
session_dir=$(awk '$1 == "INFO" && $2 == "session_dir" {print $3}' "$work/probe.out")
display=$(awk '$1 == "INFO" && $2 == "display" {print $3}' "$work/probe.out")
names=" ${daemons[*]#* } "
for want in Xvfb dbus-daemon openbox pulseaudio at-spi-bus-laun; do
  check "$want was running in the session" grep -q " $want" <<<"$names"
done
survivors=()
for entry in "${daemons[@]}"; do
  pid=${entry%% *}
  comm=${entry#* }
  # Same pid and same name: not a recycled pid.
  if alive "$pid" && [[ $(cat "/proc/$pid/comm" 2>/dev/null) == "$comm" ]]; then survivors+=("$entry"); fi
done
check "every process of the session has ended (left: ${survivors[*]:-none})" [ ${#survivors[@]} -eq 0 ]
check "processes CMD left running were stopped too (${#leaked[@]} of them)" \
  eval '[ ${#leaked[@]} -eq 2 ] && ! alive "${leaked[0]}" && ! alive "${leaked[1]}"'
check "session directory removed ($session_dir)" eval '[ -n "$session_dir" ] && [ ! -e "$session_dir" ]'
n=${display#:}
lock_ours() { # the display's lock file survives only if Xvfb did not shut down cleanly
  local lockpid entry
  [[ -f /tmp/.X$n-lock ]] || return 1
  lockpid=$(tr -dc 0-9 <"/tmp/.X$n-lock")
  for entry in "${daemons[@]}"; do [[ ${entry%% *} == "$lockpid" ]] && return 0; done
  return 1
}
check "Xvfb shut down cleanly ($display lock released)" eval '[ -n "$n" ] && ! lock_ours'
check "nothing written to the caller's HOME" empty_dir "$work/home"
check "no process refers to the session any more" no_leftovers

echo "# parallel sessions"
parallel_probe='
  echo "$DISPLAY $PULSE_SERVER" >"$1/par.$2"
  xprop -root -f TARVINE_TEST_OWNER 8s -set TARVINE_TEST_OWNER "$2" || exit 3
  for _ in $(seq 300); do [ -s "$1/par.$3" ] && break; sleep 0.1; done
  [ -s "$1/par.$3" ] || exit 4
  xprop -root TARVINE_TEST_OWNER >"$1/owner.$2" || exit 5
  pactl get-default-sink >/dev/null || exit 6
'
run_ds sh -c "$parallel_probe" sh "$work" a b >/dev/null 2>"$work/par.a.err" &
pa=$!
run_ds sh -c "$parallel_probe" sh "$work" b a >/dev/null 2>"$work/par.b.err" &
pb=$!
wait $pa
ra=$?
wait $pb
rb=$?
check "two sessions at once both succeed (got $ra and $rb)" [ "$ra" -eq 0 -a "$rb" -eq 0 ]
read -r da sa <"$work/par.a" 2>/dev/null
read -r db sb <"$work/par.b" 2>/dev/null
check "they get different displays (${da:-?} and ${db:-?})" eval '[ -n "${da:-}" ] && [ -n "${db:-}" ] && [ "$da" != "$db" ]'
check "they get different sound servers" eval '[ -n "${sa:-}" ] && [ -n "${sb:-}" ] && [ "$sa" != "$sb" ]'
check "each sees only its own X server" \
  eval 'grep -q "\"a\"" "$work/owner.a" 2>/dev/null && grep -q "\"b\"" "$work/owner.b" 2>/dev/null'
check "no process refers to the parallel sessions any more" no_leftovers

echo "# signals"
for sig in TERM INT; do
  rm -f "$work/sig.ready"
  # env restores SIGINT, which bash ignores in background jobs; it execs, so
  # $! is desktop-session itself.
  env --default-signal=INT TMPDIR="$sessions" HOME="$work/home" "$ds" \
    sh -c 'echo $TARVINE_SESSION_DIR >"$1.tmp" && mv "$1.tmp" "$1"; sleep 300; echo not-reached' \
    sh "$work/sig.ready" >"$work/sig.out" 2>&1 &
  p=$!
  for _ in $(seq 300); do [[ -s $work/sig.ready ]] && break; sleep 0.1; done
  sdir=$(cat "$work/sig.ready" 2>/dev/null)
  if [[ -z $sdir ]]; then
    fail "SIG$sig: session came up" "$(cat "$work/sig.out")"
    kill $p 2>/dev/null
    wait $p
    continue
  fi
  t0=$(date +%s%N)
  kill -s "$sig" $p
  for _ in $(seq 300); do alive $p || break; sleep 0.1; done
  if alive $p; then
    fail "SIG$sig: desktop-session still running 30 s after the signal"
    kill -KILL $p
  fi
  wait $p
  rc=$?
  took=$((($(date +%s%N) - t0) / 1000000))
  case $sig in TERM) want=143 ;; INT) want=130 ;; esac
  check "SIG$sig ends the session with status $want (got $rc after ${took} ms)" [ "$rc" -eq "$want" ]
  check "SIG$sig: CMD did not carry on" eval '! grep -q not-reached "$work/sig.out"'
  check "SIG$sig: session directory removed" [ ! -e "$sdir" ]
  check "SIG$sig: no process refers to the session any more" no_leftovers
done

echo "# failed start-up"
mkdir -p "$work/bin-openbox" "$work/bin-pulse" "$work/bin-xvfb"
printf '#!/bin/sh\necho "openbox: broken on purpose" >&2\nexit 1\n' >"$work/bin-openbox/openbox"
# Never comes up and ignores SIGTERM as well.
printf '#!/bin/sh\necho $$ >"%s/hang.pid"\ntrap "" TERM\nexec sleep 300\n' "$work" >"$work/bin-pulse/pulseaudio"
printf '#!/bin/sh\necho "Fatal server error: no screens found (on purpose)" >&2\nexit 1\n' >"$work/bin-xvfb/Xvfb"
chmod +x "$work"/bin-*/*
for failing in openbox:bin-openbox xvfb:bin-xvfb; do
  step=${failing%%:*}
  dir=${failing#*:}
  rm -f "$work/ran"
  err=$(PATH="$work/$dir:$PATH" run_ds touch "$work/ran" 2>&1 >/dev/null)
  rc=$?
  check "a failing $step makes start-up fail with 125 (got $rc)" [ "$rc" -eq 125 ]
  check "$step failure: CMD was not run" [ ! -e "$work/ran" ]
  check "$step failure: the message names the step" grep -qi "$step" <<<"$err"
  check "$step failure: the daemon's own error is shown" grep -q "on purpose" <<<"$err"
  check "$step failure: no process refers to the session any more" no_leftovers
  check "$step failure: temporary files removed" empty_dir "$sessions"
done
rm -f "$work/ran" "$work/hang.pid"
t0=$(date +%s%N)
err=$(TARVINE_SESSION_START_TIMEOUT=2 PATH="$work/bin-pulse:$PATH" run_ds touch "$work/ran" 2>&1 >/dev/null)
rc=$?
took=$((($(date +%s%N) - t0) / 1000000))
check "a daemon that never comes up fails start-up with 125 (got $rc)" [ "$rc" -eq 125 ]
# 2 s to give up on it, a few more before SIGKILL.
check "the wait for it is bounded (took ${took} ms)" [ "$took" -lt 20000 ]
check "hang: the message names the step" grep -q pulseaudio <<<"$err"
check "hang: CMD was not run" [ ! -e "$work/ran" ]
hang=$(cat "$work/hang.pid" 2>/dev/null)
check "hang: the hung daemon was killed although it ignores SIGTERM" eval '[ -n "$hang" ] && ! alive "$hang"'
check "hang: no process refers to the session any more" no_leftovers

echo "# as an unprivileged user"
if [[ $(id -u) -eq 0 ]] && command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
  cp "$ds" "$work/desktop-session" && chmod 755 "$work/desktop-session"
  mkdir -p "$work/nobody-home" && chown nobody "$work/nobody-home"
  out=$(timeout -k 5 90 setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups \
    env HOME="$work/nobody-home" TMPDIR="$sessions" "$work/desktop-session" \
    sh -c 'id -u; pactl get-default-source; xprop -root _NET_SUPPORTING_WM_CHECK >/dev/null && echo wm;
           gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
             --method org.a11y.Bus.GetAddress >/dev/null && echo a11y; exit 9' 2>"$work/nobody.err")
  rc=$?
  out=${out//$'\n'/ }
  check "works as an unprivileged user (rc $rc: $out $(tail -n 3 "$work/nobody.err" | tr '\n' ' '))" \
    [ "$rc" -eq 9 -a "$out" = "$(id -u nobody) mic wm a11y" ]
  check "unprivileged: no process refers to the session any more" no_leftovers
else
  skip "unprivileged user" "needs root, setpriv and a 'nobody' user to switch to"
fi

if ((skipped)); then
  echo "$passed passed, $failed failed, $skipped skipped"
else
  echo "$passed passed, $failed failed"
fi
((failed == 0))
