#!/bin/bash
# In a new mount namespace: gives ROOT a /dev of its own, then runs COMMAND.
#     root_dev.sh ROOT COMMAND [ARGUMENTS...]
set -euo pipefail
root=$1
shift
mount -t tmpfs -o mode=0755,nosuid,size=1m kestrune-dev "$root/dev"
for node in null:3 zero:5 full:7 random:8 urandom:9; do
    mknod -m 0666 "$root/dev/${node%:*}" c 1 "${node#*:}"
done
mknod -m 0666 "$root/dev/tty" c 5 0
mkdir "$root/dev/pts" "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
ln -s pts/ptmx "$root/dev/ptmx"
ln -s /proc/self/fd "$root/dev/fd"
for fd in 0:stdin 1:stdout 2:stderr; do ln -s "/proc/self/fd/${fd%:*}" "$root/dev/${fd#*:}"; done
exec "$@"
