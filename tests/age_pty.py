#!/usr/bin/env python3
# Runs a command on a pseudo-terminal and types argv[1] at each passphrase
# prompt, as a person would: age reads passphrases from the terminal only.
# Usage: age_pty.py PASSPHRASE COMMAND [ARG...]; exits with the command's status.
import os
import pty
import sys

pid, fd = pty.fork()
if pid == 0:
    os.execvp(sys.argv[2], sys.argv[2:])
seen, answered = b"", 0
while True:
    try:
        data = os.read(fd, 1024)
    except OSError:  # the terminal closes when the command ends
        break
    if not data:
        break
    seen += data
    while seen.count(b"Enter passphrase") + seen.count(b"Confirm passphrase") > answered:
        os.write(fd, sys.argv[1].encode() + b"\r")
        answered += 1
_, status = os.waitpid(pid, 0)
sys.exit(os.waitstatus_to_exitcode(status))
