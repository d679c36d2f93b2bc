#!/usr/bin/env bash
# korvanthile-cli over an archive on a Slurm cluster: one array task per block of files.
#
#   scripts/slurm-batch.sh LIST FILES_PER_TASK COMMAND [OPTIONS...]
#
# LIST names the files, one a line (as --from reads them); each array task runs
#   korvanthile-cli COMMAND OPTIONS... -
# over its block of FILES_PER_TASK lines, so the outputs go beside the files or into the
# --out the options name, as on one machine. The job id is printed (sbatch --parsable).
# KORVANTHILE_CLI names the tool (default: korvanthile-cli on the PATH); SBATCH_OPTIONS adds
# options of your site ("--partition=long --time=4:00:00 --cpus-per-task=8"). A task uses the
# CPUs Slurm gives it (--jobs from SLURM_CPUS_PER_TASK) unless the options say --jobs.
set -euo pipefail

usage() {
  sed -n '2,13s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

cli=${KORVANTHILE_CLI:-korvanthile-cli}
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

# The task's part: its block of the list, given to the tool on standard input.
if [ -n "${SLURM_ARRAY_TASK_ID:-}" ]; then
  first=$((SLURM_ARRAY_TASK_ID * per_task + 1))
  last=$((first + per_task - 1))
  jobs=()
  if [ -n "${SLURM_CPUS_PER_TASK:-}" ] && ! names_jobs "$@"; then
    jobs=(--jobs "$SLURM_CPUS_PER_TASK")
  fi
  sed -n "${first},${last}p" "$list" | "$cli" "$@" "${jobs[@]}" -
  exit
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
# shellcheck disable=SC2086 # SBATCH_OPTIONS is a list of options
exec sbatch --parsable --job-name=korvanthile --array="0-$((tasks - 1))" ${SBATCH_OPTIONS:-} \
  "$(realpath "$0")" --task-tool "$cli" "$list" "$per_task" "$@"
