#!/usr/bin/env bash
# The README's recipe for a Slurm job array, each task converting its --shard of the batch,
# run for real on a one-node cluster the test starts as root: munged with a key, socket and
# state of its own, slurmctld and slurmd with a slurm.conf, free ports and state folders of
# the test's own. It runs a batch with a broken file, the same batch again with
# --skip-existing, and a scancel of the array in the middle of two long files.
#   slurm-recipe.sh VIDMORPH
# Exits 77 (skipped) when the daemons cannot start: not root, or slurm-wlm / munge missing.
set -euo pipefail
app=$(realpath "$1")
[ "$(id -u)" -eq 0 ] || { echo "SKIPPED: the daemons of a cluster start as root only"; exit 77; }
for program in /usr/sbin/munged /usr/sbin/slurmctld /usr/sbin/slurmd sbatch squeue scancel sinfo \
    ffmpeg ss; do
    command -v "$program" >/dev/null || { echo "SKIPPED: $program is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

mkdir -p "$work/munge" "$work/ctld" "$work/spool" "$work/in" "$work/long"
chmod 700 "$work/munge"
dd if=/dev/urandom of="$work/munge/key" bs=1024 count=1 status=none
chmod 400 "$work/munge/key"
/usr/sbin/munged --foreground --force --key-file="$work/munge/key" --socket="$work/munge/sock" \
    --pid-file="$work/munge/pid" --log-file="$work/munge/log" --seed-file="$work/munge/seed" \
    >"$work/munged.out" 2>&1 &
pids+=($!)
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 20000))
        ss -Hltn "sport = :$port" | grep -q . || { echo "$port"; return; }
    done
}
ctld_port=$(free_port)
slurmd_port=$(free_port)
while [ "$slurmd_port" = "$ctld_port" ]; do slurmd_port=$(free_port); done
cat >"$work/slurm.conf" <<CONF
ClusterName=vidmorphtest
SlurmctldHost=localhost
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
AuthType=auth/munge
AuthInfo=socket=$work/munge/sock
CredType=cred/munge
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$work/ctld
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MpiDefault=none
NodeName=localhost CPUs=2 RealMemory=500 State=UNKNOWN
PartitionName=test Nodes=localhost Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$work/slurm.conf
# Each wait below is for a state, bounded so a cluster that never gets there fails the test.
until_true() { # tries command...
    local tries=$1
    shift
    while ! "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.2
    done
}
until_true 100 test -S "$work/munge/sock" || { echo "SKIPPED: munged does not start"; exit 77; }
/usr/sbin/slurmctld -D -i >"$work/slurmctld.out" 2>&1 &
pids+=($!)
/usr/sbin/slurmd -D -N localhost >"$work/slurmd.out" 2>&1 &
pids+=($!)
node_idle() { sinfo -h -o %T 2>/dev/null | grep -q idle; }
until_true 150 node_idle || {
    echo "SKIPPED: slurmctld and slurmd do not start"
    tail -5 "$work/slurmctld.log" "$work/slurmd.log" || true
    exit 77
}

# Every task keeps its scratch files, logs and record of failures in the test's folder.
export XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
for i in 1 2 3; do
    ffmpeg -v error -f lavfi -i "sine=frequency=$((300 + 100 * i)):duration=0.5" -c:a aac \
        "$work/in/clip$i.mp4"
done
echo "not a video" >"$work/in/notes.avi"
for i in 1 2; do
    ffmpeg -v error -f lavfi -i "testsrc=size=640x360:rate=25:duration=60" \
        -f lavfi -i "sine=duration=60" -c:v mpeg4 -q:v 2 -c:a aac "$work/long/talk$i.mp4"
done

queue_empty() { [ -z "$(squeue -h -j "$1" 2>/dev/null)" ]; }
# The README's recipe: one task a share, each converting its share on its own.
submit() { # tasks outfolder input [options...]
    local tasks=$1 out=$2 input=$3
    shift 3
    sbatch --parsable --array=1-"$tasks" --output="$work/task-%A-%a.txt" --wrap \
        "$app --convert --output $out --shard \$SLURM_ARRAY_TASK_ID/$tasks --progress json $* $input; echo exit \$? >$work/rc-\$SLURM_JOB_ID-\$SLURM_ARRAY_TASK_ID"
}
events() { cat "$work"/task-"$1"-*.txt; }

# A batch with a broken file: its task exits 1 with the file's reason, the others 0.
job=$(submit 2 "$work/out" "$work/in" -f MP3 --name plain)
until_true 600 queue_empty "$job" || fail "the first array does not end"
grep -h '"state":"failed"' "$work"/task-"$job"-*.txt | grep -q '"reason_code":"unreadable"' ||
    fail "notes.avi is not reported unreadable: $(events "$job")"
[ "$(cat "$work"/rc-*-* | sort | tr '\n' ' ')" = "exit 0 exit 1 " ] ||
    fail "exit statuses: $(cat "$work"/rc-*-*)"
[ "$(ls -A "$work/out" | tr '\n' ' ')" = "clip1.mp3 clip2.mp3 clip3.mp3 " ] ||
    fail "outputs: $(ls -A "$work/out")"
for file in "$work"/out/*; do
    ffmpeg -v error -i "$file" -f null - || fail "$file does not play"
done
stamps=$(stat -c '%n %Y %s' "$work"/out/*)

# Again with --skip-existing: nothing converted twice, the broken file skipped as failed before.
rm -f "$work"/rc-*
job=$(submit 2 "$work/out" "$work/in" -f MP3 --name plain --skip-existing)
until_true 600 queue_empty "$job" || fail "the second array does not end"
[ "$(grep -hc '"state":"skipped"' "$work"/task-"$job"-*.txt | paste -sd+ | bc)" -eq 4 ] ||
    fail "not all four skipped: $(events "$job")"
grep -h '"state":"skipped"' "$work"/task-"$job"-*.txt | grep -q '"reason_code":"unreadable"' ||
    fail "notes.avi is not skipped as failed before"
[ "$(cat "$work"/rc-*-* | sort | tr '\n' ' ')" = "exit 0 exit 0 " ] ||
    fail "exit statuses: $(cat "$work"/rc-*-*)"
[ "$(stat -c '%n %Y %s' "$work"/out/*)" = "$stamps" ] || fail "an output was written again"

# scancel in the middle of two long files: each task gives its name back, nothing stays.
job=$(submit 2 "$work/long-out" "$work/long" -f H264)
converting() { [ "$(grep -lh '"state":"running"' "$work"/task-"$job"-*.txt 2>/dev/null | wc -l)" -eq 2 ]; }
until_true 300 converting || fail "the long files do not start: $(events "$job")"
scancel "$job"
until_true 300 queue_empty "$job" || fail "the array is still queued after scancel"
left=$(ls -A "$work/long-out" 2>/dev/null || true)
[ -z "$left" ] || fail "left in the output folder: $left"

[ "$status" -eq 0 ] && echo "PASS: a batch, a re-run and a cancel on a one-node cluster"
exit "$status"
