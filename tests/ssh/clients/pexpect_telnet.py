# pexpect_telnet.py: the telnet program driven by pexpect: login, a command, the close.
import os
import sys

import pexpect

child = pexpect.spawn("telnet", ["127.0.0.1", os.environ["TELNET_PORT"]], timeout=10,
                      encoding="latin-1")
child.expect("Username: ")
child.sendline("admin")
child.expect("Password: ")
child.sendline("secret")
child.expect("Router>")
child.sendline("show version")
child.expect(r"Version 15\.2\(4\)M7.*Router>")
child.sendline("exit")
child.expect(pexpect.EOF)
child.close()
if child.exitstatus != 1 and child.exitstatus != 0:
    sys.exit(f"telnet exited with {child.exitstatus}")
