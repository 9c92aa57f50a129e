# cast_cat.py: CAST OUT: what `asciinema cat CAST` prints, byte for byte, into OUT.
# asciinema cat wants a terminal on /dev/tty, so it runs on a pseudo-terminal
# of its own while its standard output goes to the file; the text it writes
# is encoded back to bytes as Latin-1, one code point per byte.
import os
import pty
import sys

cast, out = sys.argv[1], sys.argv[2]
env = dict(os.environ, PYTHONIOENCODING="latin-1")
pid, master = pty.fork()
if pid == 0:
    fd = os.open(out, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    os.dup2(fd, 1)
    os.execvpe("asciinema", ["asciinema", "cat", cast], env)
while True:
    try:
        if not os.read(master, 4096):
            break
    except OSError:
        break
_, status = os.waitpid(pid, 0)
sys.exit(os.waitstatus_to_exitcode(status))
