# nul_logins.py: logins whose user name, password or answer hold a NUL, against a router on port argv[1].
# The account is admin / secret. A string is compared whole: "secret\0anything"
# is not "secret", "admin\0evil" is not "admin". Each row gets its own connection.
import sys

import paramiko

port = int(sys.argv[1])


def interactive(answer):
    return lambda title, instructions, prompts: [answer for _ in prompts]


ROWS = [
    # method, user, secret, let in
    ("password", "admin", "secret", True),
    ("password", "admin", "secret\0anything", False),
    ("password", "admin\0evil", "secret", False),
    ("password", "admin", "secret\0", False),
    ("keyboard-interactive", "admin", "secret", True),
    ("keyboard-interactive", "admin", "secret\0anything", False),
    ("keyboard-interactive", "admin\0evil", "secret", False),
]

wrong = []
for method, user, secret, expected in ROWS:
    transport = paramiko.Transport(("127.0.0.1", port))
    transport.start_client(timeout=10)
    try:
        if method == "password":
            transport.auth_password(user, secret)
        else:
            transport.auth_interactive(user, interactive(secret))
        let_in = transport.is_authenticated()
    except paramiko.AuthenticationException:
        let_in = False
    finally:
        transport.close()
    if let_in != expected:
        wrong.append(f"{method} {user!r} / {secret!r}: {'let in' if let_in else 'refused'}")
if wrong:
    sys.exit("\n".join(wrong))
