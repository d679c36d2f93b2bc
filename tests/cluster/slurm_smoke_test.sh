#!/usr/bin/env bash
# The Slurm array script on a one-node cluster of this machine: munged, slurmctld and slurmd
# started here on a private configuration, socket and ports, stopped by their process ids.
# A few small files go through scripts/slurm-batch.sh in blocks of two; every output must
# match the tool's own run on the same file, and meter's summaries of three tasks are joined
# into one. Exits 77 (skipped) with the reason where Slurm or munge is not installed or cannot
# run here.
#   slurm_smoke_test.sh KORVANTHILE_CLI SLURM_BATCH_SCRIPT
set -uo pipefail

cli=$(realpath "$1")
script=$(realpath "$2")
skip() { echo "SKIP: $*"; exit 77; }

for tool in munged slurmctld slurmd sbatch squeue sinfo scontrol sox; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps)"
done
[ "$(id -u)" -eq 0 ] || skip "slurmd needs root to start its tasks"

work=$(mktemp -d /tmp/korv-slurm-XXXXXX)
chmod 755 "$work"
pids=()
stop() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap stop EXIT

# munge with its own key and socket.
dd if=/dev/urandom of="$work/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge.key"
mkdir -m 700 "$work/munge"
munged --force --key-file="$work/munge.key" --socket="$work/munge/socket" \
  --pid-file="$work/munge/pid" --log-file="$work/munge/log" --seed-file="$work/munge/seed" \
  || skip "munged does not start here: $(tail -n 2 "$work/munge/log" 2>/dev/null)"
pids+=("$(cat "$work/munge/pid")")

# Two free ports for the controller and the node daemon.
free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 20000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then echo "$port"; return; fi
  done
  return 1
}
ctl_port=$(free_port) && node_port=$(free_port) || skip "no free port"
[ "$ctl_port" != "$node_port" ] || node_port=$((node_port + 1))
host=$(hostname -s)
mkdir -p "$work/state" "$work/spool"
export SLURM_CONF=$work/slurm.conf
cat > "$SLURM_CONF" <<CONF
ClusterName=korvtest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctl_port
SlurmdPort=$node_port
SlurmUser=$(id -un)
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge/socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
SlurmdParameters=config_overrides
MinJobAge=600
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=korv Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF

slurmctld -D -i -c -f "$SLURM_CONF" >"$work/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -f "$SLURM_CONF" -N "$host" >"$work/slurmd.out" 2>&1 &
pids+=($!)

# The node idle within 30 s.
for _ in $(seq 300); do
  state=$(sinfo -h -n "$host" -o %T 2>/dev/null)
  [ "$state" = idle ] && break
  kill -0 "${pids[1]}" 2>/dev/null && kill -0 "${pids[2]}" 2>/dev/null ||
    skip "slurmctld or slurmd does not run here: $(tail -n 3 "$work"/slurm*.log 2>/dev/null)"
  sleep 0.1
done
[ "${state:-}" = idle ] || skip "the node did not come up (state ${state:-none})"

# Five tones, in blocks of two: three tasks; one name with a space.
mkdir "$work/in" "$work/out" "$work/ref"
for i in 1 2 3 4 5; do
  name="$work/in/tone $i.wav"
  [ "$i" -ne 3 ] && name="$work/in/tone$i.wav"
  sox -n -r 22050 -b 16 "$name" synth 0.5 sine $((300 * i)) || exit 1
  echo "$name" >> "$work/list.txt"
done
job=$(cd "$work" && KORVANTHILE_CLI=$cli "$script" list.txt 2 levels --csv --out "$work/out")
[[ $job =~ ^[0-9]+$ ]] || { echo "FAIL: sbatch gave no job id: $job"; exit 1; }

# Every task finished within 60 s.
for _ in $(seq 600); do
  [ -z "$(squeue -h -j "$job" 2>/dev/null)" ] && break
  sleep 0.1
done
if [ -n "$(squeue -h -j "$job" 2>/dev/null)" ]; then
  echo "FAIL: the array did not finish in 60 s"; squeue -j "$job"; exit 1
fi

status=0
tasks=$(scontrol show job "$job" -o | grep -c "ArrayTaskId=")
states=$(scontrol show job "$job" -o | grep -o "JobState=[A-Z_]*" | sort | uniq -c)
if [ "$tasks" -ne 3 ] || [ "$(scontrol show job "$job" -o | grep -c "JobState=COMPLETED")" -ne 3 ]; then
  echo "FAIL: expected 3 completed tasks, got $tasks: $states"; status=1
fi
while IFS= read -r name; do
  base=$(basename "$name" .wav)
  "$cli" levels --csv --out "$work/ref" "$name" || status=1
  if ! cmp -s "$work/out/$base.levels.csv" "$work/ref/$base.levels.csv"; then
    echo "FAIL: $base.levels.csv is missing or differs from the tool's own run"; status=1
  fi
done < "$work/list.txt"
[ "$(find "$work/out" -type f | wc -l)" -eq 5 ] || { echo "FAIL: not five outputs"; status=1; }

# Once more as a new user writes it: the tool in a folder with a comma, a block size with a
# leading zero (one task of all five), and -j among the options beside the CPUs Slurm gives.
mkdir "$work/bin,tools"
ln -s "$cli" "$work/bin,tools/korvanthile-cli"
job2=$(cd "$work" && KORVANTHILE_CLI="$work/bin,tools/korvanthile-cli" \
  SBATCH_OPTIONS=--cpus-per-task=1 "$script" list.txt 08 image -j 1 --out "$work/out2")
[[ $job2 =~ ^[0-9]+$ ]] || { echo "FAIL: sbatch gave no job id: $job2"; exit 1; }
for _ in $(seq 600); do
  [ -z "$(squeue -h -j "$job2" 2>/dev/null)" ] && break
  sleep 0.1
done
if [ "$(scontrol show job "$job2" -o | grep -c "JobState=COMPLETED")" -ne 1 ]; then
  echo "FAIL: the second array did not complete in one task:"
  scontrol show job "$job2" -o | grep -o "JobState=[A-Z_]*"
  cat "$work"/slurm-"$job2"_*.out 2>/dev/null
  status=1
fi
[ "$(find "$work/out2" -name '*.png' | wc -l)" -eq 5 ] || { echo "FAIL: not five images"; status=1; }
# meter --summary over three tasks, the second with a file that is no sound: each task writes
# its own summary, the join puts the good files' rows in FILE in the order of the list, names
# the bad file and ends FAILED; the rows are those of the tool's own run on the good files.
mkdir "$work/sum"
printf 'no sound here' > "$work/in/bad.wav"
sed "4i $work/in/bad.wav" "$work/list.txt" > "$work/list3.txt"
ids=$(cd "$work" && KORVANTHILE_CLI=$cli "$script" list3.txt 2 meter --summary=sum/survey.csv \
  -o "$work/out3")
job3=$(sed -n 1p <<<"$ids")
join3=$(sed -n 2p <<<"$ids")
[[ $job3 =~ ^[0-9]+$ && $join3 =~ ^[0-9]+$ ]] || { echo "FAIL: not two job ids: $ids"; exit 1; }
for _ in $(seq 600); do
  [ -z "$(squeue -h -j "$job3,$join3" 2>/dev/null)" ] && break
  sleep 0.1
done
task_states=$(scontrol show job "$job3" -o | grep -o "JobState=[A-Z_]*" | sort | uniq -c | xargs)
if [ "$task_states" != "2 JobState=COMPLETED 1 JobState=FAILED" ]; then
  echo "FAIL: expected two tasks COMPLETED and one FAILED: $task_states"; status=1
fi
if ! scontrol show job "$join3" -o | grep -q "JobState=FAILED"; then
  echo "FAIL: the join did not end FAILED:"; scontrol show job "$join3" -o | grep -o "JobState=[A-Z_]*"
  status=1
fi
grep -v bad.wav "$work/list3.txt" > "$work/good.txt"
(cd "$work" && "$cli" meter --from good.txt -o "$work/ref3" --summary "$work/ref3.csv") || status=1
if ! cmp -s "$work/sum/survey.csv" "$work/ref3.csv"; then
  echo "FAIL: the joined summary differs from the tool's own over the good files:"
  diff "$work/ref3.csv" "$work/sum/survey.csv"; status=1
fi
if ! grep -qx "  $work/in/bad.wav" "$work/slurm-$join3.out"; then
  echo "FAIL: the join did not name the file without a row:"; cat "$work/slurm-$join3.out"
  status=1
fi
if [ "$(ls -A "$work/sum")" != survey.csv ]; then
  echo "FAIL: the task files or the lock are left beside the summary:"; ls -A "$work/sum"
  status=1
fi
[ $status -eq 0 ] && echo "5 files in 3 array tasks: every output matches; in one task as typed;" \
  "and one summary joined from three tasks, the bad file named"
exit $status
