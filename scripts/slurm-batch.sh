#!/usr/bin/env bash
# korvanthile-cli over an archive on a Slurm cluster: one array task per block of files.
#
#   scripts/slurm-batch.sh LIST FILES_PER_TASK COMMAND [OPTIONS...]
#
# LIST names the files, one a line (as --from reads them); each array task runs
#   korvanthile-cli COMMAND OPTIONS... -
# over its block of FILES_PER_TASK lines, so the outputs go beside the files or into the
# --out the options name, as on one machine. The array's job id is printed (sbatch --parsable).
# With meter --summary FILE each task writes its own summary beside FILE (FILE's name with
# the job and task ids, e.g. survey.1234_0.csv) and a second job, started when every task has
# ended, joins them into FILE in the order of the list, its header once; its id is printed on
# a second line. A task that failed has no rows there for the files it could not measure: the
# join names each file without a row in its slurm-JOB.out and ends FAILED. The task files are
# removed once FILE is in place.
# KORVANTHILE_CLI names the tool (default: korvanthile-cli on the PATH); SBATCH_OPTIONS adds
# options of your site ("--partition=long --time=4:00:00 --cpus-per-task=8"). A task uses the
# CPUs Slurm gives it (--jobs from SLURM_CPUS_PER_TASK) unless the options say --jobs.
set -euo pipefail

usage() {
  sed -n '2,18s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

# The summary a task writes, or its exit status (SUFFIX .status): beside the joined one, its
# name with the job and task ids before the extension.
task_file() { # SUMMARY JOB TASK [SUFFIX]
  local dir=${1%/*} base=${1##*/} stem ext=
  stem=$base
  if [[ $base == ?*.* ]]; then
    stem=${base%.*}
    ext=.${base##*.}
  fi
  echo "$dir/$stem.$2_$3${4:-$ext}"
}

# The summary the tool's options name (--summary FILE or --summary=FILE), if any.
summary_of() {
  while [ $# -gt 0 ]; do
    case $1 in
      --summary) [ $# -ge 2 ] && echo "$2"; return ;;
      --summary=*) echo "${1#--summary=}"; return ;;
    esac
    shift
  done
}

# The options with the summary's name replaced by NEW, into the array `rewritten`.
rewrite_summary() { # NEW OPTIONS...
  local new=$1
  shift
  rewritten=()
  while [ $# -gt 0 ]; do
    case $1 in
      --summary) rewritten+=(--summary "$new"); shift ;;
      --summary=*) rewritten+=("--summary=$new") ;;
      *) rewritten+=("$1") ;;
    esac
    shift
  done
}

# Holds FILE.lock as korvanthile-cli does (flock, the file removed while still held at the
# end), so no tool run writes FILE while the join replaces it. Its descriptor is 9.
lock_summary() { # SUMMARY
  local lock=$1.lock
  for _ in $(seq 16); do
    exec 9<>"$lock" || return 1
    if ! flock -n 9; then
      echo "slurm-batch: $1 is being written by another run of the tool (it holds $lock)" >&2
      return 1
    fi
    # A run that ended may have removed the file between the open and the lock.
    [ "$(stat -L -c %d:%i "/proc/$$/fd/9")" = "$(stat -c %d:%i "$lock" 2>/dev/null)" ] && return
    exec 9>&-
  done
  return 1
}

# The lock let go, its file removed first; with TEMP, the join failed: said, TEMP removed.
unlock_summary() { # SUMMARY [TEMP]
  rm -f "$1.lock"
  exec 9>&-
  if [ -n "${2:-}" ]; then
    rm -f "$2"
    echo "slurm-batch: cannot write $1; the task summaries are kept" >&2
  fi
}

# The join: SUMMARY from the tasks' summaries in task order, every listed file without a row
# named. Exits 1 when a task failed or a file has no row, so the job ends FAILED.
join_summaries() { # JOB TASKS LIST SUMMARY
  local job=$1 tasks=$2 list=$3 summary=$4 status=0 task rc parts=() temp
  for ((task = 0; task < tasks; task++)); do
    rc=$(cat "$(task_file "$summary" "$job" "$task" .status)" 2>/dev/null || echo none)
    if [ "$rc" = none ]; then
      echo "slurm-batch: task $task of job $job did not finish (it left no exit status)" >&2
      status=1
      continue
    fi
    if [ "$rc" != 0 ]; then
      echo "slurm-batch: task $task of job $job ended with status $rc (see slurm-${job}_$task.out)" >&2
      status=1
    fi
    if [ -f "$(task_file "$summary" "$job" "$task")" ]; then
      parts+=("$(task_file "$summary" "$job" "$task")")
    fi
  done
  if [ ${#parts[@]} -eq 0 ]; then
    echo "slurm-batch: no task wrote a summary; $summary is not written" >&2
    return 1
  fi
  lock_summary "$summary" || { echo "slurm-batch: the task summaries are kept" >&2; return 1; }
  temp=$(mktemp "${summary%/*}/.${summary##*/}.XXXXXX")
  # The rows in task order; then each list line (as the tool reads it: a CR at its end
  # dropped, blank lines skipped) that names no row's file (the first CSV field).
  rc=0
  LC_ALL=C awk -v list="$list" -v out="$temp" '
    function field(line,   f, i, c) {
      if (substr(line, 1, 1) != "\"") {
        i = index(line, ",")
        return i ? substr(line, 1, i - 1) : line
      }
      f = ""
      for (i = 2; i <= length(line); i++) {
        c = substr(line, i, 1)
        if (c == "\"") {
          if (substr(line, i + 1, 1) != "\"") return f
          i++
        }
        f = f c
      }
      return f
    }
    FILENAME == list {
      sub(/\r$/, "")
      if ($0 != "" && !($0 in rowed)) missing[++missed] = $0
      next
    }
    FNR == 1 { if (!headed++) print > out; next }
    { print > out; rowed[field($0)] = 1 }
    END {
      if (close(out) != 0) exit 2
      if (missed) {
        printf "slurm-batch: %d file%s of the list %s no row in the summary:\n", missed,
          missed == 1 ? "" : "s", missed == 1 ? "has" : "have" > "/dev/stderr"
        for (i = 1; i <= missed; i++) print "  " missing[i] > "/dev/stderr"
        exit 1
      }
    }' "${parts[@]}" "$list" || rc=$?
  [ "$rc" -le 1 ] || { unlock_summary "$summary" "$temp"; return 1; }
  [ "$rc" -eq 0 ] || status=1
  chmod "$(printf %o $((0666 & ~$(umask))))" "$temp"
  if ! mv -f "$temp" "$summary"; then
    unlock_summary "$summary" "$temp"
    return 1
  fi
  unlock_summary "$summary"
  for ((task = 0; task < tasks; task++)); do
    rm -f "$(task_file "$summary" "$job" "$task")" "$(task_file "$summary" "$job" "$task" .status)"
  done
  echo "slurm-batch: $summary written, its rows: $(($(grep -c '' "$summary") - 1))"
  return $status
}

cli=${KORVANTHILE_CLI:-korvanthile-cli}
if [ "${1:-}" = --join ] && [ $# -eq 5 ]; then
  join_summaries "$2" "$3" "$4" "$5"
  exit
fi
# The tasks are given the tool as an argument: sbatch --export would split its path at a comma.
if [ "${1:-}" = --task-tool ] && [ $# -ge 2 ]; then
  cli=$2
  shift 2
fi
if [ $# -lt 3 ]; then usage; fi
list=$1
per_task=$2
shift 2
case $per_task in
  '' | *[!0-9]*) echo "slurm-batch: FILES_PER_TASK must be a whole number above 0" >&2; exit 2 ;;
esac
per_task=$((10#$per_task)) # "08" is eight, not a bad octal number
if [ "$per_task" -eq 0 ]; then
  echo "slurm-batch: FILES_PER_TASK must be a whole number above 0" >&2
  exit 2
fi
summary=$(summary_of "$@")

# Whether the tool's options name the number of jobs: --jobs N, --jobs=N, -j N, -jN, -vj N.
names_jobs() {
  local a
  for a in "$@"; do
    if [[ $a == --jobs || $a == --jobs=* || $a =~ ^-v*j ]]; then
      return 0
    fi
  done
  return 1
}

# The task's part: its block of the list, given to the tool on standard input; with a
# summary, its own one and its exit status for the join.
if [ -n "${SLURM_ARRAY_TASK_ID:-}" ]; then
  first=$((SLURM_ARRAY_TASK_ID * per_task + 1))
  last=$((first + per_task - 1))
  jobs=()
  if [ -n "${SLURM_CPUS_PER_TASK:-}" ] && ! names_jobs "$@"; then
    jobs=(--jobs "$SLURM_CPUS_PER_TASK")
  fi
  if [ -z "$summary" ]; then
    sed -n "${first},${last}p" "$list" | "$cli" "$@" "${jobs[@]}" -
    exit
  fi
  own=$(task_file "$summary" "$SLURM_ARRAY_JOB_ID" "$SLURM_ARRAY_TASK_ID")
  recorded=$(task_file "$summary" "$SLURM_ARRAY_JOB_ID" "$SLURM_ARRAY_TASK_ID" .status)
  rm -f "$own" "$recorded" # a requeued task's earlier run is not counted
  rewrite_summary "$own" "$@"
  rc=0
  sed -n "${first},${last}p" "$list" | "$cli" "${rewritten[@]}" "${jobs[@]}" - || rc=$?
  echo "$rc" > "$recorded.tmp" && mv -f "$recorded.tmp" "$recorded"
  exit "$rc"
fi

# The submission: as many tasks as the list has blocks.
if [ ! -r "$list" ]; then
  echo "slurm-batch: cannot read the list $list" >&2
  exit 2
fi
list=$(realpath "$list")
files=$(grep -c '' "$list" || true)
if [ "$files" -eq 0 ]; then
  echo "slurm-batch: the list $list names no files" >&2
  exit 2
fi
tasks=$(((files + per_task - 1) / per_task))
if [ -n "$summary" ]; then
  # One name for the tasks and the join, wherever they run.
  given=$summary
  summary=$(realpath -m -- "$summary")
  if [ ! -d "${summary%/*}" ] || [ ! -w "${summary%/*}" ]; then
    echo "slurm-batch: --summary $given: its folder is not there or not writable" >&2
    exit 2
  fi
  if [ -e "$summary" ]; then
    id=$(stat -L -c %d:%i -- "$summary")
    input=$(sed 's/\r$//; /^$/d' "$list" | xargs -r -d '\n' stat -L -c '%d:%i %n' -- 2>/dev/null |
      awk -v id="$id" '$1 == id { sub(/^[^ ]* /, ""); print; exit }')
    if [ -n "$input" ]; then
      echo "slurm-batch: --summary $given is the listed file $input; not replaced" >&2
      exit 2
    fi
  fi
  rewrite_summary "$summary" "$@"
  set -- "${rewritten[@]}"
fi
# shellcheck disable=SC2086 # SBATCH_OPTIONS is a list of options
job=$(sbatch --parsable --job-name=korvanthile --array="0-$((tasks - 1))" ${SBATCH_OPTIONS:-} \
  "$(realpath "$0")" --task-tool "$cli" "$list" "$per_task" "$@")
job=${job%%;*}
echo "$job"
[ -n "$summary" ] || exit 0
# shellcheck disable=SC2086
if ! join=$(sbatch --parsable --job-name=korvanthile-join --dependency="afterany:$job" \
  ${SBATCH_OPTIONS:-} "$(realpath "$0")" --join "$job" "$tasks" "$list" "$summary"); then
  echo "slurm-batch: the job that joins the summaries was not submitted; the tasks' own are" \
    "$(task_file "$summary" "$job" '*')" >&2
  exit 1
fi
echo "${join%%;*}"
