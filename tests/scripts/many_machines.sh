#!/usr/bin/env bash
# Runs the recipes of docs/many-machines.md on this machine: GNU Parallel with
# two local job slots (and a failed slice re-run with --resume-failed), GNU
# Parallel through SSH to the loopback address when an SSH server can be
# started here, and the Slurm task script once per task number. After each,
# the reports together must hold every image exactly once, converted.
#   many_machines.sh PICTORAVINE PV_SAMPLES SOURCE_DIR
set -euo pipefail
exe=$(realpath "$1") samples=$(realpath "$2") src=$(realpath "$3")
work=$(mktemp -d)
sshd_pid=
cleanup() {
  [[ -n $sshd_pid ]] && kill "$sshd_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export PICTORAVINE_DATA_DIR=$work/data
passed=0 failed=0

# 24 images: the demo's samples, each copied under four names.
"$samples" "$work/samples" >/dev/null
mkdir -p "$work/images"
for f in "$work"/samples/*; do
  for k in 1 2 3 4; do cp "$f" "$work/images/$k-$(basename "$f")"; done
done
find "$work/images" -type f | sort >"$work/list.txt"
count=$(wc -l <"$work/list.txt")

# Every image of the list once among the converted lines of the reports (a
# skipped line counts only when no report converted it), each output there.
check() {
  local name=$1
  shift
  if python3 - "$work/list.txt" "$@" <<'PY'; then
import json, os, sys
want = [l.strip() for l in open(sys.argv[1]) if l.strip()]
converted, skipped = {}, set()
for report in sys.argv[2:]:
    for line in open(report):
        j = json.loads(line)
        if j["status"] != 0:
            continue
        if j["skipped"]:
            skipped.add(j["source"])
            continue
        converted[j["source"]] = converted.get(j["source"], 0) + 1
        assert all(os.path.getsize(o) > 0 for o in j["outputs"]), j
twice = [s for s, n in converted.items() if n > 1]
missing = [s for s in want if s not in converted and s not in skipped]
extra = [s for s in converted if s not in want]
if twice or missing or extra:
    print("converted twice:", twice, "missing:", missing, "unknown:", extra)
    sys.exit(1)
PY
    echo "ok: $name"
    passed=$((passed + 1))
  else
    echo "FAILED: $name"
    failed=$((failed + 1))
  fi
}

# GNU Parallel, two local slots.
parallel --pipe -N 5 -S 2/: --joblog "$work/local.joblog" \
  "$exe" --convert PNG --output "$work/out1" --skip-done --list - --report - --silent \
  <"$work/list.txt" >"$work/local.jsonl" || true
check "GNU Parallel over two local slots" "$work/local.jsonl"

# A slice with a damaged image fails; once the image is mended, only that
# slice runs again, and its other images are skipped.
damaged=$(sed -n 7p "$work/list.txt")
cp "$damaged" "$work/good-copy"
printf 'damaged' >"$damaged"
set +e
parallel --pipe -N 5 -S 2/: --joblog "$work/resume.joblog" \
  "$exe" --convert PNG --output "$work/out2" --skip-done --list - --report - --silent \
  <"$work/list.txt" >"$work/first.jsonl"
first=$?
set -e
cp "$work/good-copy" "$damaged"
touch "$damaged"
parallel --pipe -N 5 -S 2/: --joblog "$work/resume.joblog" --resume-failed \
  "$exe" --convert PNG --output "$work/out2" --skip-done --list - --report - --silent \
  <"$work/list.txt" >"$work/second.jsonl"
rerun=$(grep -c . "$work/second.jsonl" || true)
if [[ $first -ne 0 && $rerun -eq 5 ]]; then
  check "a failed slice re-run with --resume-failed" "$work/first.jsonl" "$work/second.jsonl"
else
  echo "FAILED: --resume-failed (first run exit $first, $rerun lines re-run)"
  failed=$((failed + 1))
fi

# GNU Parallel through SSH to the loopback address, with a key made here.
if command -v sshd >/dev/null && command -v ssh >/dev/null; then
  mkdir -p "$work/ssh" /run/sshd 2>/dev/null || true
  ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/host_key"
  ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/id"
  cp "$work/ssh/id.pub" "$work/ssh/authorized_keys"
  port=$((20000 + RANDOM % 20000))
  cat >"$work/ssh/sshd_config" <<CFG
Port $port
ListenAddress 127.0.0.1
HostKey $work/ssh/host_key
AuthorizedKeysFile $work/ssh/authorized_keys
PermitRootLogin prohibit-password
PasswordAuthentication no
StrictModes no
UsePAM no
PidFile $work/ssh/sshd.pid
CFG
  "$(command -v sshd)" -f "$work/ssh/sshd_config" -D -E "$work/ssh/log" &
  sshd_pid=$!
  ssh=(ssh -i "$work/ssh/id" -p "$port" -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null
       -o BatchMode=yes -o LogLevel=ERROR)
  for _ in $(seq 50); do "${ssh[@]}" "$(id -un)@127.0.0.1" true 2>/dev/null && break; sleep 0.1; done
  if "${ssh[@]}" "$(id -un)@127.0.0.1" true 2>/dev/null; then
    parallel --pipe -N 5 --ssh "${ssh[*]}" -S "2/$(id -un)@127.0.0.1" --env PICTORAVINE_DATA_DIR \
      --joblog "$work/ssh.joblog" \
      "$exe" --convert PNG --output "$work/out3" --skip-done --list - --report - --silent \
      <"$work/list.txt" >"$work/ssh.jsonl" || true
    check "GNU Parallel through SSH to 127.0.0.1" "$work/ssh.jsonl"
  else
    echo "skipped: no SSH server could be started on the loopback address"
  fi
else
  echo "skipped: no SSH server or client here"
fi

# The Slurm task script, once per task of the array, as Slurm would run it.
slice=7
tasks=$(((count + slice - 1) / slice))
for ((t = 0; t < tasks; t++)); do
  SLURM_ARRAY_TASK_ID=$t PICTORAVINE=$exe "$src/scripts/slurm-convert-slice" "$work/list.txt" $slice "$work/out4" \
    --convert PNG || true
done
check "the Slurm array's $tasks tasks" "$work"/out4/reports/*.jsonl

echo "many machines: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
