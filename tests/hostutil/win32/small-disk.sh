#!/bin/sh
# small-disk.sh mount|unmount DIR: a 1 MiB tmpfs on DIR for the disk-full cases of the Windows
# tests, which reach it through Z:. Mounting needs root; without it the cases skip themselves.
dir=$2
case $1 in
mount)
  mkdir -p "$dir" || exit 0
  mountpoint -q "$dir" && exit 0
  mount -t tmpfs -o size=1m kvsmall "$dir" 2>/dev/null ||
    echo "small-disk: no tmpfs on $dir; the disk-full cases are skipped"
  ;;
unmount)
  mountpoint -q "$dir" && umount "$dir"
  rmdir "$dir" 2>/dev/null
  ;;
esac
exit 0
