#!/usr/bin/env bash
# scripts/slurm-render.sh on a real Slurm cluster of one node: munged,
# slurmctld and slurmd started here on private ports, with every file they
# write in a temporary folder, and stopped again by their pid files.
# Usage: slurm_test.sh ZENTROPE SOURCE_DIR [SCENE.cho] (as root: slurmd
# starts the jobs as the submitting user).
set -u
zentrope=$1
source_dir=$2
scene=${3:-$source_dir/examples/demo/demo.cho}
script="$source_dir/scripts/slurm-render.sh"
started_at=$(date +%s)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_eq() { [ "$1" == "$2" ] || fail "$3: got [$1] expected [$2]"; }
give_up() {
  echo "$failures failure(s)"
  exit 1
}

# The daemons and tools: a missing one fails the test and names its package.
need() { command -v "$1" > /dev/null || fail "$1 is missing: install $2"; }
need munged munge
need munge munge
need unmunge munge
need slurmctld slurmctld
need slurmd slurmd
need sbatch slurm-client
need sinfo slurm-client
need scancel slurm-client
need squeue slurm-client
need ffprobe ffmpeg
need timeout coreutils
need python3 python3
[ "$(id -u)" = 0 ] || fail "slurmd starts jobs as their user and must run as root: run this test as root"
[ -x "$zentrope" ] || fail "no program $zentrope"
[ -f "$scene" ] || fail "no scene $scene"
[ -f "$script" ] || fail "no script $script"
[ "$failures" -eq 0 ] || give_up

# A test running inside a Slurm job must not reach that job's cluster.
for variable in $(compgen -e | grep '^SLURM_'); do
  unset "$variable"
done
work=$(mktemp -d)
export ZENTROPE_INI="$work/zentrope.ini"
export ZENTROPE_PROJECTS="$work/PROJECTS.BRX"
export SLURM_CONF="$work/slurm.conf"

# Stops only what this test started: the jobs of its own cluster, then each
# daemon by the pid file it wrote in the temporary folder.
stop_daemon() {
  local pid_file=$1 pid
  [ -s "$pid_file" ] || return 0
  pid=$(cat "$pid_file")
  kill -TERM "$pid" 2> /dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2> /dev/null || return 0
    sleep 0.2
  done
  echo "$pid_file: $pid did not stop on TERM, killed"
  kill -KILL "$pid" 2> /dev/null
}
cleanup() {
  # A submission still waiting (timeout passes the TERM on to it).
  [ -z "${submission:-}" ] || kill -TERM "$submission" 2> /dev/null
  if [ -s "$work/slurmctld.pid" ]; then
    timeout 20 scancel --quiet --user="$(id -un)" 2> /dev/null
    for _ in $(seq 50); do
      [ -z "$(timeout 10 squeue -h -o %i 2> /dev/null)" ] && break
      sleep 0.2
    done
  fi
  stop_daemon "$work/slurmd.pid"
  stop_daemon "$work/slurmctld.pid"
  stop_daemon "$work/munge/munged.pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- The script's checks and arithmetic, without a cluster ---------------

# Catches: a bad command line submitting anything, or exiting 0 or 1
# instead of the usage status 2.
expect_usage_error() {
  local what=$1
  shift
  bash "$script" --zentrope "$zentrope" --dry-run "$@" > /dev/null 2> "$work/usage.txt"
  local status=$?
  expect_eq "$status" 2 "$what: exit status"
  [ -s "$work/usage.txt" ] || fail "$what: no message"
}
expect_usage_error "no scene"
expect_usage_error "missing scene" "$work/none.cho"
expect_usage_error "zero chunk" --frames 1-8 --chunk 0 "$scene"
expect_usage_error "both chunk and tasks" --frames 1-8 --chunk 2 --tasks 2 "$scene"
expect_usage_error "reversed range" --frames 8-1 "$scene"
expect_usage_error "frame list" --frames 1,3,5 "$scene"
expect_usage_error "output among the render options" --frames 1-8 "$scene" -- -o x.png
expect_usage_error "unknown option" --frames 1-8 --no-such-option "$scene"
expect_usage_error "fractional frame rate" --frames 1-8 -o "$work/m.avi" --fps 12.5 "$scene"

# A stand-in program that only records its command line, to see what each
# array task would run.
recorder="$work/recorder"
printf '#!/bin/sh\necho "$@" > "%s/recorded.txt"\n' "$work" > "$recorder"
chmod +x "$recorder"
task_frames() {
  rm -f "$work/recorded.txt"
  SLURM_ARRAY_TASK_ID=$1 bash "$script" --run-task render --zentrope "$recorder" --frames "$2" \
    --chunk "$3" -o "$work/x_####.png" "$scene" 2> /dev/null || fail "task $1 of $2 by $3 failed"
  [ -f "$work/recorded.txt" ] || {
    echo none
    return
  }
  sed -n 's/.*--frames \([^ ]*\).*/\1/p' "$work/recorded.txt"
}
# Frames 3, 7, 11, 15, 19 (every 4th up to 20) in chunks of 2: 3-7, 11-15,
# then 19 alone, and a fourth task past the end renders nothing.
# Catches: the last chunk running to the range's end (20) or to a whole
# chunk (23) instead of stopping at frame 19, or the step dropped.
expect_eq "$(task_frames 0 3-20x4 2)" 3-7x4 "task 0 of 3-20x4"
expect_eq "$(task_frames 1 3-20x4 2)" 11-15x4 "task 1 of 3-20x4"
expect_eq "$(task_frames 2 3-20x4 2)" 19 "task 2 of 3-20x4"
expect_eq "$(task_frames 3 3-20x4 2)" none "task 3 of 3-20x4"
expect_eq "$(task_frames 3 1-8 2)" 7-8 "task 3 of 1-8"
# Catches: a task that re-renders finished frames or ignores its cores.
task_frames 0 1-8 2 > /dev/null
for option in --skip-existing "--threads 0" "--progress json" "-o $work/x_####.png"; do
  grep -q -- "$option" "$work/recorded.txt" || fail "the task's render lacks $option"
done
# Five frames over at most 3 tasks: ceil(5 / 3) = 2 frames a task, so
# ceil(5 / 2) = 3 tasks. Catches: tasks that do not cover the range.
bash "$script" --zentrope "$zentrope" --dry-run --frames 3-20x4 --tasks 3 "$scene" \
  > "$work/dry.txt" 2> /dev/null || fail "dry run failed"
grep -q -- '--array 0-2 ' "$work/dry.txt" || fail "3-20x4 over 3 tasks: $(cat "$work/dry.txt")"
grep -q -- '--frames 3-19x4 --chunk 2 ' "$work/dry.txt" || fail "3-20x4 chunks: $(cat "$work/dry.txt")"
# A movie: frames as a PNG sequence beside it, then a dependent encode job.
# Catches: the encode job missing, or not waiting for the array.
bash "$script" --zentrope "$zentrope" --dry-run --frames 1-12 -o "$work/m/walk.avi" --fps 12 \
  "$scene" > "$work/dry.txt" 2> /dev/null || fail "movie dry run failed"
grep -q -- "-o $work/m/walk_####.png " "$work/dry.txt" || fail "movie frames: $(cat "$work/dry.txt")"
grep -q -- "--dependency=afterok:.*encode.*--frames $work/m/walk_####.png -o $work/m/walk.avi --fps 12" \
  "$work/dry.txt" || fail "encode job: $(cat "$work/dry.txt")"
# Without --frames, the scene's render range as info states it, read here
# with a JSON parser: from, the last frame reached by the step, the step.
# Catches: the range misread from info's decimals (1.0), or the length
# taken for the last frame.
expected=$("$zentrope" info "$scene" --json | python3 -c '
import json, sys
j = json.load(sys.stdin)
a, b, s = int(j["render_from"]), int(j["render_to"]), int(j["render_step"])
b = a + (b - a) // s * s
print(f"{a}-{b}" + (f"x{s}" if s > 1 else ""))') || fail "the scene's render range: no answer"
bash "$script" --zentrope "$zentrope" --dry-run "$scene" > "$work/dry.txt" 2> /dev/null ||
  fail "dry run with the scene's range failed"
grep -q -- "--frames $expected --chunk" "$work/dry.txt" ||
  fail "the scene's range $expected: $(cat "$work/dry.txt")"
[ "$failures" -eq 0 ] || give_up

# ---- A private cluster ----------------------------------------------------

# Two free ports, so that a cluster already on the default ones is left alone.
listening() { (exec 3<> "/dev/tcp/127.0.0.1/$1") 2> /dev/null; }
for _ in $(seq 20); do
  ctld_port=$((20000 + RANDOM % 20000))
  slurmd_port=$((ctld_port + 1))
  listening "$ctld_port" || listening "$slurmd_port" || break
done

mkdir -p "$work/munge" "$work/state" "$work/spool" "$work/logs"
# munged wants its socket reachable by everyone, its key readable by itself.
chmod 755 "$work" "$work/munge"
# A key of its own: this cluster trusts no other munged.
head -c 1024 /dev/urandom > "$work/munge/munge.key"
chmod 600 "$work/munge/munge.key"
munge_socket="$work/munge/munge.socket"
munged --socket="$munge_socket" --key-file="$work/munge/munge.key" \
  --pid-file="$work/munge/munged.pid" --log-file="$work/munge/munged.log" \
  --seed-file="$work/munge/munged.seed" ||
  fail "munged did not start: $(tail -n 3 "$work/munge/munged.log" 2> /dev/null)"
[ "$failures" -eq 0 ] || give_up
munge_ok=0
for _ in $(seq 50); do
  if munge -S "$munge_socket" -n 2> /dev/null | unmunge -S "$munge_socket" > /dev/null 2>&1; then
    munge_ok=1
    break
  fi
  sleep 0.2
done
((munge_ok)) || {
  fail "munged does not answer on $munge_socket"
  give_up
}

node=$(hostname -s)
cat > "$SLURM_CONF" << EOF
ClusterName=zentropetest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket=$munge_socket
CredType=cred/munge
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
ReturnToService=2
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
JobAcctGatherType=jobacct_gather/none
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=1000 State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
slurmctld -f "$SLURM_CONF" || fail "slurmctld did not start: $(tail -n 3 "$work/slurmctld.log")"
slurmd -f "$SLURM_CONF" || fail "slurmd did not start: $(tail -n 3 "$work/slurmd.log")"
[ "$failures" -eq 0 ] || give_up
state=
for _ in $(seq 60); do
  state=$(timeout 10 sinfo -h -o %T 2> /dev/null)
  [ "$state" = idle ] && break
  sleep 0.5
done
[ "$state" = idle ] || {
  fail "the node is [$state], not idle, after 30 s: $(tail -n 3 "$work/slurmctld.log")"
  give_up
}

# ---- Frames on the farm ---------------------------------------------------

size=160x120
# The reference: the same frames rendered in one go on one thread.
"$zentrope" render "$scene" --frames 1-8 --size "$size" --threads 1 --progress none \
  -o "$work/single/frame_####.png" > /dev/null 2> "$work/single.txt" ||
  fail "single render: $(cat "$work/single.txt")"

# Every submission is bounded, and all of them end before CTest's limit
# (600 s) would kill the test without stopping its daemons: a dependency
# that never resolves must not hang the test.
deadline=$((started_at + 540))
# In the background, so that a TERM or Ctrl-C reaches the trap at once
# rather than after the submission.
submission=
submit() {
  local left=$((deadline - $(date +%s)))
  ((left > 10)) || left=10
  timeout "$left" bash "$script" --zentrope "$zentrope" --wait "$@" &
  submission=$!
  local status=0
  wait "$submission" || status=$?
  submission=
  return "$status"
}

# 8 frames in 4 tasks of 2. Catches: frames missing, rendered twice by two
# tasks, left under temporary names, or different from the single render.
submit --frames 1-8 --tasks 4 --log-dir "$work/logs/frames" -o "$work/farm/frame_####.png" \
  "$scene" -- --size "$size" 2> "$work/farm.txt" || fail "farm render: $(cat "$work/farm.txt")"
for f in 1 2 3 4 5 6 7 8; do
  name=$(printf 'frame_%04d.png' "$f")
  if [ ! -f "$work/farm/$name" ]; then
    fail "the farm did not write $name"
  elif ! cmp -s "$work/single/$name" "$work/farm/$name"; then
    fail "$name differs from the single render"
  fi
done
expect_eq "$(find "$work/farm" -type f | wc -l)" 8 "files the farm left"
# Each task's log lists the frames it finished (--progress json): task a
# renders 2a+1 and 2a+2.
logs=("$work"/logs/frames/*.log)
expect_eq "${#logs[@]}" 4 "task logs"
for a in 0 1 2 3; do
  log=$(compgen -G "$work/logs/frames/*_$a.log")
  rendered=$(grep -o '"frame": *[0-9]*' "$log" 2> /dev/null | grep -o '[0-9]*$' | tr '\n' ' ')
  expect_eq "$rendered" "$((2 * a + 1)) $((2 * a + 2)) " "frames of task $a"
done

# Submitting again after a lost frame renders that frame only.
# Catches: the tasks re-rendering finished frames (no --skip-existing).
rm "$work/farm/frame_0005.png"
find "$work/farm" -name "*.png" -exec touch -d 2001-01-01 {} +
submit --frames 1-8 --tasks 4 --log-dir "$work/logs/resume" -o "$work/farm/frame_####.png" \
  "$scene" -- --size "$size" 2> "$work/resume.txt" || fail "resumed render: $(cat "$work/resume.txt")"
cmp -s "$work/single/frame_0005.png" "$work/farm/frame_0005.png" || fail "frame 5 not rendered again"
expect_eq "$(find "$work/farm" -type f ! -newermt 2001-01-02 | wc -l)" 7 "frames left as they were"

# ---- A movie --------------------------------------------------------------

# Frames 1-7 in chunks of 3 (1-3, 4-6, 7), then the encode job. Its movie
# holds all 7 frames only if it ran after every task.
# Catches: the encode job missing, run before the frames exist, or fed the
# wrong pattern; a short last chunk dropped.
submit --frames 1-7 --chunk 3 --fps 12 --log-dir "$work/logs/movie" -o "$work/movie/walk.avi" \
  "$scene" -- --size "$size" 2> "$work/movie.txt" || fail "movie: $(cat "$work/movie.txt")"
for f in 1 2 3 4 5 6 7; do
  cmp -s "$work/single/frame_000$f.png" "$work/movie/walk_000$f.png" ||
    fail "movie frame $f missing or different from the single render"
done
logs=("$work"/logs/movie/*.log)
expect_eq "${#logs[@]}" 4 "movie logs (3 tasks and the encode job)"
if [ -f "$work/movie/walk.avi" ]; then
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$work/movie/walk.avi")
  expect_eq "$frames" 7 "frames ffprobe counts in walk.avi"
  rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 \
    "$work/movie/walk.avi")
  expect_eq "$rate" 12/1 "frame rate of walk.avi"
else
  fail "no walk.avi"
fi

# A render that fails in every task: the encode job is cancelled, and the
# script says so. Catches: success reported from the cancelled encode job's
# status 0, or a wait that never ends on a dependency that cannot be met.
submit --frames 1-2 --tasks 2 --log-dir "$work/logs/broken" -o "$work/broken/walk.avi" \
  "$scene" -- --mode no-such-mode 2> "$work/broken.txt"
status=$?
expect_eq "$status" 1 "exit status of a failed farm render"
[ ! -e "$work/broken/walk.avi" ] || fail "a movie was encoded from failed tasks"

echo "slurm test: $(($(date +%s) - started_at)) s"
[ "$failures" -eq 0 ] || give_up
echo "all passed"
