#!/usr/bin/env bash
# Renders a choreography on a Slurm cluster: a job array with one chunk of
# frames per task and, for a movie, a final job that encodes the finished
# frames once every task has succeeded. Frames are independent and
# deterministic, so any task may run on any node; every task skips frames
# whose file is already complete, so submitting the same command again
# resumes an interrupted render.
#
# The same file is the body of the jobs: sbatch runs a copy of it with
# --run-task render|encode and the frames of the whole render, and each array
# task works out its own chunk from SLURM_ARRAY_TASK_ID.
set -euo pipefail

# Not $0: sbatch runs a copy named slurm_script.
program=slurm-render.sh

usage() {
  cat << EOF
Usage: $program [OPTIONS] SCENE.cho [-- RENDER_OPTIONS...]

Submits 'zentrope render SCENE.cho' as a Slurm job array, one chunk of frames
per task, each rendering with --skip-existing --threads 0 --progress json.
With -o NAME.avi the tasks write a PNG sequence beside the movie
(NAME_####.png) and a last job, run once every task has succeeded, assembles
it with 'zentrope encode'.

Frames:
  --frames A-B[xS]      frames to render, every S-th (default: the scene's
                        render range as 'zentrope info SCENE --json' gives it)
  --chunk N             frames per task (default: 10)
  --tasks N             number of tasks instead; the frames are shared evenly
Output:
  -o, --output NAME     output as 'zentrope render -o' takes it: a '#' run
                        numbers the frames (shots/walk_####.png); NAME.avi
                        makes a movie (default: the scene's own output name)
  --fps N               frame rate of the movie (default: encode's)
Slurm:
  -p, --partition NAME  partition for every job
  -c, --cpus-per-task N cores per task (the render uses all it is given)
  -J, --job-name NAME   job name (default: zentrope-SCENE)
  --max-running N       at most N tasks at once
  --log-dir DIR         job logs in DIR (default: Slurm's, the current folder)
  --sbatch OPTION       any other sbatch option for every job, repeatable
                        (--sbatch --time=2:00:00 --sbatch --mem=4G)
  --wait                wait until the jobs end; exit 1 if any failed
  --dry-run             print the sbatch commands instead of submitting
Program:
  --zentrope PATH       the zentrope program (default: \$ZENTROPE, else the
                        one on PATH); every node must reach it at that path
  -h, --help            this text

RENDER_OPTIONS go to every task as they are: --mode raytrace --size 1920x1080
--shadows --aa high ... (not --frames, --step, -o, --list-missing).

Exit status: 0 when submitted (with --wait: when every job succeeded), 1 when
sbatch or a job failed, 2 for a wrong command line.

Example:
  $program --frames 1-240 --chunk 24 -p render -o shots/walk.avi --fps 24 \\
    walk.cho -- --mode raytrace --shadows --size 1280x720
EOF
}

# A usage error: the reason and the way to the help, exit status 2.
die_usage() {
  echo "$program: $*" >&2
  echo "Try '$program --help'." >&2
  exit 2
}

die() {
  echo "$program: $*" >&2
  exit 1
}

is_count() { [[ $1 =~ ^[1-9][0-9]*$ ]]; }

# Sets first, last and step from "A", "A-B" or "A-BxS"; false on anything
# else (lists with commas cannot be cut into chunks).
parse_range() {
  if [[ $1 =~ ^([0-9]+)(-([0-9]+)(x([1-9][0-9]*))?)?$ ]]; then
    first=$((10#${BASH_REMATCH[1]}))
    last=$((10#${BASH_REMATCH[3]:-${BASH_REMATCH[1]}}))
    step=$((10#${BASH_REMATCH[5]:-1}))
    return 0
  fi
  return 1
}

# The "A", "A-B" or "A-BxS" form of a range for 'zentrope render --frames'.
range_text() {
  if (($1 == $2)); then
    echo "$1"
  elif (($3 > 1)); then
    echo "$1-$2x$3"
  else
    echo "$1-$2"
  fi
}

absolute() {
  case $1 in
    /*) echo "$1" ;;
    *) echo "$PWD/$1" ;;
  esac
}

frames=
chunk=
tasks=
output=
fps=
partition=
cpus=
job_name=
max_running=
log_dir=
sbatch_extra=()
wait_for_jobs=0
dry_run=0
zentrope=${ZENTROPE:-}
run_task=
scene=
render_options=()

# Options that take a value: the value, or a usage error when it is missing.
need_value() {
  (($2 >= 2)) || die_usage "$1 needs a value"
}

while (($# > 0)); do
  case $1 in
    -h | --help)
      usage
      exit 0
      ;;
    --frames | --chunk | --tasks | -o | --output | --fps | -p | --partition | -c | --cpus-per-task | \
      -J | --job-name | --max-running | --log-dir | --sbatch | --zentrope | --run-task)
      need_value "$1" $#
      case $1 in
        --frames) frames=$2 ;;
        --chunk) chunk=$2 ;;
        --tasks) tasks=$2 ;;
        -o | --output) output=$2 ;;
        --fps) fps=$2 ;;
        -p | --partition) partition=$2 ;;
        -c | --cpus-per-task) cpus=$2 ;;
        -J | --job-name) job_name=$2 ;;
        --max-running) max_running=$2 ;;
        --log-dir) log_dir=$2 ;;
        --sbatch) sbatch_extra+=("$2") ;;
        --zentrope) zentrope=$2 ;;
        --run-task) run_task=$2 ;;
      esac
      shift 2
      ;;
    --wait)
      wait_for_jobs=1
      shift
      ;;
    --dry-run)
      dry_run=1
      shift
      ;;
    --)
      shift
      render_options=("$@")
      break
      ;;
    -*) die_usage "unknown option $1" ;;
    *)
      [ -z "$scene" ] || die_usage "one scene only (got $scene and $1); render options go after --"
      scene=$1
      shift
      ;;
  esac
done

# ---- The job bodies -------------------------------------------------------

if [ -n "$run_task" ]; then
  case $run_task in
    render)
      : "${SLURM_ARRAY_TASK_ID:?the render task runs as a Slurm array task}"
      parse_range "$frames" || die "bad --frames $frames"
      is_count "$chunk" || die "bad --chunk $chunk"
      # The range's true last frame: 3-20x4 ends at 19.
      last=$((first + (last - first) / step * step))
      # Task i renders frames i*chunk ... i*chunk+chunk-1 of the range,
      # counted in steps; the last chunk stops at the range's end.
      task_first=$((first + SLURM_ARRAY_TASK_ID * chunk * step))
      task_last=$((task_first + (chunk - 1) * step))
      ((task_last <= last)) || task_last=$last
      if ((task_first > last)); then
        echo "$program: task $SLURM_ARRAY_TASK_ID is past the last frame $last: nothing to do" >&2
        exit 0
      fi
      command=("$zentrope" render "$scene" --frames "$(range_text "$task_first" "$task_last" "$step")"
        --skip-existing)
      # A --threads or --progress among the render options wins over ours.
      given=" ${render_options[*]} "
      [[ $given =~ \ --threads[\ =] ]] || command+=(--threads 0)
      [[ $given =~ \ --progress[\ =] ]] || command+=(--progress json)
      [ -z "$output" ] || command+=(-o "$output")
      command+=("${render_options[@]}")
      echo "$program: task $SLURM_ARRAY_TASK_ID on $(hostname -s): ${command[*]}" >&2
      exec "${command[@]}"
      ;;
    encode)
      # The frames pattern comes as --frames, the movie as -o.
      command=("$zentrope" encode "$frames" -o "$output")
      [ -z "$fps" ] || command+=(--fps "$fps")
      echo "$program: encode on $(hostname -s): ${command[*]}" >&2
      exec "${command[@]}"
      ;;
    *) die_usage "--run-task is render or encode" ;;
  esac
fi

# ---- Submitting -----------------------------------------------------------

[ -n "$scene" ] || die_usage "no scene given"
[ -f "$scene" ] || die_usage "no scene file $scene"
[ -z "$chunk" ] || is_count "$chunk" || die_usage "--chunk wants a whole number of frames above 0, not $chunk"
[ -z "$tasks" ] || is_count "$tasks" || die_usage "--tasks wants a whole number above 0, not $tasks"
[ -z "$chunk" ] || [ -z "$tasks" ] || die_usage "give --chunk or --tasks, not both"
[ -z "$cpus" ] || is_count "$cpus" || die_usage "--cpus-per-task wants a whole number above 0, not $cpus"
[ -z "$max_running" ] || is_count "$max_running" ||
  die_usage "--max-running wants a whole number above 0, not $max_running"
# Movies run at whole frames per second: a bad rate must fail now, not after
# the whole render.
[ -z "$fps" ] || is_count "$fps" || die_usage "--fps wants a whole number above 0, not $fps"
if [ -n "$frames" ]; then
  parse_range "$frames" || die_usage "--frames wants A, A-B or A-BxS (every S-th frame), not $frames"
  ((first <= last)) || die_usage "the range $frames starts after its last frame"
fi
for option in "${render_options[@]}"; do
  case $option in
    --frames | --frames=* | --step | --step=* | -o | --output | --output=* | --list-missing)
      die_usage "$option is the script's to set: use its own --frames and -o"
      ;;
    --format | --format=* | --quick | --frame | --frame=*)
      die_usage "$option cannot be spread over tasks: the output's extension (-o) gives the format"
      ;;
  esac
done

if [ -z "$zentrope" ]; then
  zentrope=$(command -v zentrope) || die_usage "no zentrope program: give --zentrope PATH or set ZENTROPE"
fi
[ -x "$zentrope" ] || die_usage "$zentrope is not a program"
# Jobs start in the submitting folder, but a node may see another PATH.
zentrope=$(absolute "$zentrope")
scene=$(absolute "$scene")

# The scene's own render range and output name, when the command line
# leaves them out.
if [ -z "$frames" ] || [ -z "$output" ]; then
  info=$("$zentrope" info "$scene" --json) || die "cannot read $scene (zentrope info failed)"
  # One value of the JSON object: a number, or a string without quotes.
  info_number() { sed -n "s/.*\"$1\": *\\(-\\{0,1\\}[0-9][0-9.eE+-]*\\).*/\\1/p" <<< "$info" | head -n 1; }
  info_string() { sed -n "s/.*\"$1\": *\"\\([^\"]*\\)\".*/\\1/p" <<< "$info" | head -n 1; }
  if [ -z "$frames" ]; then
    from=$(info_number render_from)
    to=$(info_number render_to)
    by=$(info_number render_step)
    # The scene keeps them as decimals; farms cut whole frames.
    for value in "$from" "$to" "$by"; do
      [[ $value =~ ^[0-9]+(\.0*)?$ ]] ||
        die_usage "the scene's render range ($from to $to by $by) is not whole frames: give --frames"
    done
    from=${from%%.*}
    to=${to%%.*}
    by=${by%%.*}
    ((by > 0)) || die_usage "the scene's render step is $by: give --frames"
    frames=$(range_text "$from" "$to" "$by")
  fi
  if [ -z "$output" ]; then
    scene_output=$(info_string output_name)
    # Only a movie needs the name here; frames keep the scene's own names.
    case ${scene_output,,} in
      *.avi) output=$scene_output ;;
    esac
  fi
fi

parse_range "$frames" || die_usage "--frames wants A, A-B or A-BxS (every S-th frame), not $frames"
((first <= last)) || die_usage "the range $frames starts after its last frame"
count=$(((last - first) / step + 1))
if [ -n "$tasks" ]; then
  chunk=$(((count + tasks - 1) / tasks))
fi
chunk=${chunk:-10}
tasks=$(((count + chunk - 1) / chunk))
last=$((first + (count - 1) * step))
frames=$(range_text "$first" "$last" "$step")

movie=
if [ -n "$output" ]; then
  output=$(absolute "$output")
  case ${output,,} in
    *.qtm)
      die_usage "a QTM file is one file that one task must write: render it with zentrope render"
      ;;
    *.avi)
      # The tasks write a numbered PNG sequence beside the movie, padded to
      # the last frame's width (at least 4).
      movie=$output
      padding=${#last}
      ((padding >= 4)) || padding=4
      stem=${movie%.*}
      output="$stem"_$(printf '%*s' "$padding" '' | tr ' ' '#').png
      ;;
  esac
fi

self=$(absolute "${BASH_SOURCE[0]}")
if [ -z "$job_name" ]; then
  job_name=${scene##*/}
  job_name=zentrope-${job_name%.*}
fi
common=()
[ -z "$partition" ] || common+=(--partition "$partition")
common+=("${sbatch_extra[@]}")
[ -z "$log_dir" ] || log_dir=$(absolute "$log_dir")

array_spec="0-$((tasks - 1))"
[ -z "$max_running" ] || array_spec+="%$max_running"
array_job=(sbatch --parsable "${common[@]}" --job-name "$job_name" --array "$array_spec")
[ -z "$cpus" ] || array_job+=(--cpus-per-task "$cpus")
[ -z "$log_dir" ] || array_job+=(--output "$log_dir/%x_%A_%a.log")
array_job+=("$self" --run-task render --zentrope "$zentrope" --frames "$frames" --chunk "$chunk")
[ -z "$output" ] || array_job+=(-o "$output")
array_job+=("$scene" -- "${render_options[@]}")

# The encode job's command, less its dependency on the array job.
encode_job=()
if [ -n "$movie" ]; then
  encode_job=(sbatch --parsable "${common[@]}" --job-name "$job_name-encode" --kill-on-invalid-dep=yes)
  [ -z "$log_dir" ] || encode_job+=(--output "$log_dir/%x_%j.log")
  encode_job+=("$self" --run-task encode --zentrope "$zentrope" --frames "$output" -o "$movie")
  [ -z "$fps" ] || encode_job+=(--fps "$fps")
fi

echo "$program: frames $frames in $tasks task(s) of $chunk${movie:+, then $movie}" >&2
if ((dry_run)); then
  printf '%q ' "${array_job[@]}"
  echo
  if [ -n "$movie" ]; then
    printf '%q ' "${encode_job[@]:0:2}" "--dependency=afterok:ARRAY_JOB" "${encode_job[@]:2}"
    echo
  fi
  exit 0
fi

command -v sbatch > /dev/null || die "sbatch is missing: install slurm-client"
# Slurm opens the logs before the job starts.
[ -z "$log_dir" ] || mkdir -p "$log_dir"
[ -z "$movie" ] || mkdir -p "${movie%/*}"

if ((!wait_for_jobs)); then
  array_id=$("${array_job[@]}") || die "sbatch refused the render array"
  array_id=${array_id%%;*}
  echo "$program: render array job $array_id" >&2
  if [ -n "$movie" ]; then
    encode_id=$("${encode_job[@]:0:2}" --dependency="afterok:$array_id" "${encode_job[@]:2}") ||
      die "sbatch refused the encode job (the render array $array_id is queued)"
    echo "$program: encode job ${encode_id%%;*}, after job $array_id" >&2
  fi
  exit 0
fi

if [ -z "$movie" ]; then
  # sbatch --wait ends with the highest exit status among the tasks.
  array_status=0
  array_id=$("${array_job[@]:0:2}" --wait "${array_job[@]:2}") || array_status=$?
  array_id=${array_id%%;*}
  [ -n "$array_id" ] || die "sbatch refused the render array (exit status $array_status)"
  ((array_status == 0)) || die "the render array $array_id failed (exit status $array_status)"
  echo "$program: render array job $array_id done" >&2
  exit 0
fi

# Waiting for both: the array's sbatch prints its id at once and then waits,
# while the encode job is submitted against that id. A dependency that can
# no longer be met cancels the encode job, and its sbatch --wait then says 0,
# so the array's own status decides.
coproc array_wait { "${array_job[@]:0:2}" --wait "${array_job[@]:2}"; }
# shellcheck disable=SC2154 # coproc sets it
array_pid=$array_wait_PID
array_id=
read -r array_id <&"${array_wait[0]}" || true
array_id=${array_id%%;*}
array_status=0
if [ -z "$array_id" ]; then
  wait "$array_pid" || array_status=$?
  die "sbatch refused the render array (exit status $array_status)"
fi
echo "$program: render array job $array_id" >&2
encode_status=0
encode_id=$("${encode_job[@]:0:2}" --wait --dependency="afterok:$array_id" "${encode_job[@]:2}") ||
  encode_status=$?
wait "$array_pid" || array_status=$?
((array_status == 0)) ||
  die "the render array $array_id failed (exit status $array_status); the movie was not encoded"
((encode_status == 0)) || die "the encode job ${encode_id%%;*} failed (exit status $encode_status)"
echo "$program: $movie" >&2
