#!/usr/bin/env bash
# The README's recipes for spreading a large conversion with GNU parallel, run for real: on
# this machine over eight files of one name, and over ssh to two "hosts" (an sshd started here
# on 127.0.0.1 with a throwaway key, port and configuration of its own) working on one shared
# folder. Every job's exit status is read from --joblog and every output is decoded.
#   parallel-recipe.sh VIDMORPH
# Exits 77 (skipped) when parallel or sshd is not installed.
set -euo pipefail
app=$(realpath "$1")
for program in parallel ffmpeg ssh ssh-keygen; do
    command -v "$program" >/dev/null || { echo "SKIPPED: $program is not installed"; exit 77; }
done
sshd=$(command -v sshd || echo /usr/sbin/sshd)
[ -x "$sshd" ] || { echo "SKIPPED: sshd is not installed"; exit 77; }

work=$(mktemp -d)
sshd_pid=
cleanup() {
    [ -n "$sshd_pid" ] && kill "$sshd_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# Every run, local or over ssh, keeps its scratch files and logs in the test's folder.
runenv="env XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config"
status=0

for i in 1 2 3 4 5 6 7 8; do
    mkdir -p "$work/camera$i"
    ffmpeg -v error -f lavfi -i "sine=frequency=$((200 + 50 * i)):duration=0.$((i + 1))" \
        -c:a aac "$work/camera$i/IMG_0001.mp4"
done

check() { # name joblog outfolder
    local name=$1 joblog=$2 out=$3 failed count
    failed=$(awk 'NR > 1 && $7 != 0' "$joblog" | wc -l)
    count=$(ls "$out" | wc -l)
    echo "$name: $((count)) outputs, $failed failed jobs"
    [ "$failed" -eq 0 ] || { echo "FAIL: $name: a job failed"; cat "$joblog"; status=1; }
    [ "$count" -eq 8 ] || { echo "FAIL: $name: $count outputs, not 8"; ls -la "$out"; status=1; }
    for file in "$out"/*; do
        ffmpeg -v error -i "$file" -f null - 2>"$work/decode" || true
        [ ! -s "$work/decode" ] || { echo "FAIL: $file does not decode"; status=1; }
    done
}

# This machine, one job per core, as the README shows it.
find "$work" -name 'IMG_0001.mp4' -print0 |
    parallel -0 -j"$(nproc)" --joblog "$work/local.log" \
        $runenv "$app" --convert -q --format MP3 --output "$work/out-local" {} >/dev/null || true
check "parallel on this machine" "$work/local.log" "$work/out-local"

# Two ssh "hosts" and this machine (:) on one shared folder.
if [ "$(id -u)" -eq 0 ]; then
    mkdir -p /run/sshd # sshd's privilege separation needs it; runtime only
fi
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$work/user_key"
cp "$work/user_key.pub" "$work/authorized_keys"
# A free port of this machine: sshd is tried on a few until one is free.
for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    cat >"$work/sshd_config" <<CONFIG
ListenAddress 127.0.0.1
Port $port
HostKey $work/host_key
AuthorizedKeysFile $work/authorized_keys
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PidFile none
CONFIG
    "$sshd" -D -e -f "$work/sshd_config" 2>"$work/sshd.log" &
    sshd_pid=$!
    sleep 0.5
    kill -0 "$sshd_pid" 2>/dev/null && break
    sshd_pid=
done
[ -n "$sshd_pid" ] || { echo "FAIL: sshd did not start"; cat "$work/sshd.log"; exit 1; }
cat >"$work/ssh_config" <<CONFIG
Host host-a host-b
    HostName 127.0.0.1
    Port $port
    User $(id -un)
    IdentityFile $work/user_key
    IdentitiesOnly yes
    StrictHostKeyChecking no
    UserKnownHostsFile $work/known_hosts
    LogLevel ERROR
CONFIG
for _ in $(seq 50); do
    ssh -F "$work/ssh_config" -o BatchMode=yes host-a true 2>/dev/null && break
    sleep 0.2
done
if ! ssh -F "$work/ssh_config" -o BatchMode=yes host-a true; then
    echo "FAIL: the test's sshd does not answer"; cat "$work/sshd.log"; exit 1
fi
find "$work" -name 'IMG_0001.mp4' -print0 |
    parallel -0 --ssh "ssh -F $work/ssh_config" -S host-a,host-b,: -j2 --joblog "$work/ssh.log" \
        $runenv "$app" --convert -q --format MP3 --output "$work/out-ssh" {} >/dev/null || true
check "parallel over ssh" "$work/ssh.log" "$work/out-ssh"
hosts=$(awk 'NR > 1 {print $2}' "$work/ssh.log" | sort -u | tr '\n' ' ')
echo "hosts used: $hosts"
case "$hosts" in *host-a*) ;; *) echo "FAIL: no job ran over ssh"; status=1 ;; esac

# Stops in the middle: nothing the runs had begun may stay behind on any "host", neither the
# empty names they had taken nor half-written files; an output that is there is whole.
for i in 1 2 3 4; do
    mkdir -p "$work/long$i"
    ffmpeg -v error -f lavfi -i "testsrc=size=320x240:rate=25:duration=120" \
        -f lavfi -i "sine=frequency=$((300 + 50 * i)):duration=120" -c:v libx264 -preset ultrafast \
        -c:a aac "$work/long$i/clip.mkv"
done
# Waits (up to two minutes) until `count` entries stand in the folder.
wait_for_entries() { # folder count
    for _ in $(seq 1200); do
        [ "$(ls -A "$1" 2>/dev/null | wc -l)" -ge "$2" ] && return 0
        sleep 0.1
    done
    echo "FAIL: $1 never held $2 entries"; status=1; return 1
}
# Waits (up to a minute) until no process names the folder any more.
wait_for_no_run() { # folder
    for _ in $(seq 600); do
        pgrep -f -- "$1" >/dev/null || return 0
        sleep 0.1
    done
    echo "FAIL: runs still at work in $1:"; pgrep -af -- "$1"; status=1
}
check_nothing_begun() { # name folder
    local file seconds
    for file in "$2"/* "$2"/.[!.]*; do
        [ -e "$file" ] || continue
        seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file" 2>/dev/null)
        if [ ! -s "$file" ] || [ "${seconds%.*}" != 119 ] && [ "${seconds%.*}" != 120 ]; then
            echo "FAIL: $1 left $(basename "$file") ($(stat -c %s "$file") bytes, ${seconds:-no} s)"
            status=1
        fi
    done
    echo "$1: $(ls -A "$2" | wc -l) whole outputs, nothing else"
}

# Ctrl+C on the recipe over ssh: the terminal's SIGINT reaches parallel, its ssh clients and
# the job on this machine; parallel's wrapper on the other side sends SIGTERM, then SIGKILL.
setsid parallel -0 --ssh "ssh -F $work/ssh_config" -S host-a,host-b,: -j1 \
    $runenv "$app" --convert -q --format H264 --output "$work/out-stop" {} \
    < <(find "$work" -name 'clip.mkv' -print0) >/dev/null 2>&1 &
recipe=$!
wait_for_entries "$work/out-stop" 3 && kill -INT -- "-$recipe"
wait "$recipe" || true
wait_for_no_run "$work/out-stop"
check_nothing_begun "Ctrl+C on parallel over ssh" "$work/out-stop"

# A closed ssh connection: the client killed outright while the run converts.
ssh -F "$work/ssh_config" host-a $runenv "$app" --convert --format H264 \
    --output "$work/out-cut" "$work/long1/clip.mkv" >/dev/null 2>&1 &
client=$!
wait_for_entries "$work/out-cut" 1 && kill -KILL "$client"
wait "$client" || true
wait_for_no_run "$work/out-cut"
check_nothing_begun "closed ssh connection" "$work/out-cut"
exit $status
