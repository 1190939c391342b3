#!/usr/bin/env bash
# Runs docs/many-machines.md's Slurm recipe on a real one-node cluster that
# it starts here: munge, slurmctld and slurmd on the loopback address with a
# configuration of their own in a temporary folder. The job array converts a
# list in slices; its outputs must equal a local run's, byte for byte. Then a
# task is cancelled with scancel while it converts, and the same array,
# submitted again, completes what it left (the task script skips what is
# done). Exits 77 (skipped) when Slurm or munge is not installed, or when not
# run as root (the daemons here run as the user that starts them).
#   slurm_cluster.sh PICTORAVINE PV_SAMPLES SOURCE_DIR
set -euo pipefail
exe=$(realpath "$1") samples=$(realpath "$2") src=$(realpath "$3")
for tool in munged slurmctld slurmd sbatch squeue scancel; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/bootstrap --with-slurm installs Slurm)"
    exit 77
  fi
done
if [[ $(id -u) -ne 0 ]]; then
  echo "skipped: the test's cluster runs its daemons as root"
  exit 77
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [[ -n ${KEEP:-} ]] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT
export PICTORAVINE_DATA_DIR=$work/data
cluster=$work/cluster
mkdir -p "$cluster/state" "$cluster/spool" "$cluster/log"

# munge with a key of its own.
head -c 1024 /dev/urandom >"$cluster/munge.key"
chmod 400 "$cluster/munge.key"
munged --key-file="$cluster/munge.key" --socket="$cluster/munge.sock" --pid-file="$cluster/munged.pid" \
  --log-file="$cluster/log/munged.log" --seed-file="$cluster/munge.seed" --force
pids+=("$(cat "$cluster/munged.pid")")

# Ports of our own, so that another cluster on the machine is not disturbed.
base=$((21000 + RANDOM % 20000))
cat >"$cluster/slurm.conf" <<CONF
ClusterName=pictoravine-test
SlurmctldHost=localhost(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$base
SlurmdPort=$((base + 1))
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$cluster/munge.sock
StateSaveLocation=$cluster/state
SlurmdSpoolDir=$cluster/spool
SlurmctldPidFile=$cluster/slurmctld.pid
SlurmdPidFile=$cluster/slurmd.pid
SlurmctldLogFile=$cluster/log/slurmctld.log
SlurmdLogFile=$cluster/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
ReturnToService=2
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
NodeName=node1 NodeHostname=$(hostname) NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN
PartitionName=test Nodes=node1 Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$cluster/slurm.conf
slurmctld -D -i >"$cluster/log/ctld.out" 2>&1 &
pids+=($!)
slurmd -D -N node1 >"$cluster/log/slurmd.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  sinfo -h -o %T 2>/dev/null | grep -q idle && break
  sleep 0.2
done
if ! sinfo -h -o %T 2>/dev/null | grep -q idle; then
  echo "FAILED: the cluster did not come up"
  tail -n 20 "$cluster"/log/*
  exit 1
fi
echo "cluster up: $(sinfo -h)"

# 24 images (the demo's samples, each under four names), and three large
# ones as the second slice's first images, so that a task is still at work
# when it is cancelled; then the local run.
"$samples" "$work/samples" >/dev/null
mkdir -p "$work/images" "$work/large"
for f in "$work"/samples/*; do
  for k in 1 2 3 4; do cp "$f" "$work/images/$k-$(basename "$f")"; done
done
photo=$(find "$work/samples" -name '*.jpg' | sort | head -n 1)
"$exe" --convert PNG --filter resize 4 1 400 400 0 0 --output "$work/large" --file "$photo" --silent
for k in 1 2 3; do cp "$work/large/$(basename "${photo%.*}").png" "$work/large/large$k.png"; done
find "$work/images" -type f | sort >"$work/small.txt"
{
  head -n 5 "$work/small.txt"
  ls "$work"/large/large*.png
  tail -n +6 "$work/small.txt"
} >"$work/list.txt"
count=$(wc -l <"$work/list.txt")
convert=(--convert PNG --filter median 5)
"$exe" "${convert[@]}" --output "$work/local" --list "$work/list.txt" --silent || true

failed=0
# The outputs of a run into `out` equal the local run's.
same() {
  local name=$1 out=$2
  if diff -r -q --exclude=reports "$work/local" "$out" >"$work/diff.txt"; then
    echo "ok: $name"
  else
    echo "FAILED: $name"
    cat "$work/diff.txt"
    failed=$((failed + 1))
  fi
}

slice=5
tasks=$(((count + slice - 1) / slice))
# Submits the array converting into `out`; prints its job id.
submit() {
  sbatch --parsable --array=0-$((tasks - 1)) -o "$cluster/log/task-%A-%a.out" --export=ALL,PICTORAVINE="$exe" \
    "$src/scripts/slurm-convert-slice" "$work/list.txt" $slice "$1" "${convert[@]}"
}
# Waits until no task of the job is left (sbatch --wait looks only every few seconds).
finish() {
  for _ in $(seq 3000); do
    [[ -z $(squeue -h -j "$1" 2>/dev/null) ]] && return
    sleep 0.1
  done
  echo "FAILED: job $1 did not end"
  exit 1
}
array() { finish "$(submit "$1")"; }

# The whole array at once.
array "$work/out1"
same "sbatch --array of $tasks tasks" "$work/out1"

# A task cancelled while it converts, then the array submitted again.
job=$(submit "$work/out2")
# Cancelled half a second after it starts: at work on its first large image.
for _ in $(seq 600); do
  [[ -n $(squeue -h -j "${job}_1" -t RUNNING 2>/dev/null) ]] && break
  sleep 0.05
done
sleep 0.5
scancel "${job}_1"
finish "$job"
cancelled=$(find "$work/out2" -maxdepth 1 -name '*.png' | wc -l)
echo "after scancel: $cancelled of $count outputs"
if [[ $cancelled -ge $count ]]; then
  echo "FAILED: the cancelled task had finished its slice before scancel"
  failed=$((failed + 1))
fi
array "$work/out2"
same "a cancelled task resumed by the array submitted again" "$work/out2"
if find "$work/out2" -name '*.pvtmp-*' | grep -q .; then
  echo "FAILED: temporaries left behind"
  failed=$((failed + 1))
fi

[[ $failed -eq 0 ]]
