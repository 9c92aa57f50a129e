#!/usr/bin/python3
# asyncio_peer.py: the fleet a user would write in Python instead, served the way zentrel-serve does.
#
# Same command line as zentrel-serve for what the bench uses (--port, --listen, --copies,
# --sessions, --events, DIR...), the same files (zentrel.ini's TCP-Port and Delay,
# RESPONSE.TXT read afresh for every client), the same item rules and the same pace: each
# pause starts when the previous item has been handed to the socket. Standard library only,
# written plainly, as the straightforward asyncio server it stands for.
#
# A directory with commands.yaml is served command-driven, as the command map a user would
# write: each typed line looked up whole in a dict, echoed, and answered with its answer and
# the prompt. It reads the bench's generated files only: the prompt, `delay` and one command
# a line as `"command": {"answer": "text"}`.
import argparse
import asyncio
import json
import os
import signal
import sys
import time


def settings(directory):
    port, delay = 1101, 0.0
    try:
        with open(os.path.join(directory, "zentrel.ini"), "rb") as ini:
            for raw in ini.read().decode("latin-1").splitlines():
                key, _, value = raw.partition("=")
                key = key.strip().lower()
                try:
                    if key == "tcp-port":
                        port = int(round(float(value))) or 1101
                    elif key == "delay":
                        delay = max(0.0, float(value))
                except ValueError:
                    pass
    except OSError as error:
        print(f"asyncio_peer: {directory}: zentrel.ini: {error.strerror}; defaults used",
              file=sys.stderr)
    return port, delay


def read_items(data):
    """Splits a script into items: a comma or a line end (CR LF, LF, CR) ends one, blanks in
    front are skipped, a quoted item runs to the next quote and loses both quotes, and what
    follows its closing quote up to the separator is dropped."""
    items, at, size = [], 0, len(data)
    while at < size:
        while at < size and data[at] in b" \t":
            at += 1
        if at < size and data[at] == 0x22:
            close = data.find(b'"', at + 1)
            if close < 0:
                items.append(data[at + 1:])
                break
            items.append(data[at + 1:close])
            at = close + 1
            while at < size and data[at] not in b",\r\n":
                at += 1
        else:
            start = at
            while at < size and data[at] not in b",\r\n":
                at += 1
            items.append(data[start:at])
        if at < size:
            if data[at] == 0x0D and at + 1 < size and data[at + 1] == 0x0A:
                at += 1
            at += 1
    return items


def command_map(directory):
    """The prompt, the delay and {line: answer} of the bench's generated commands.yaml,
    answers and prompt with CR LF line ends as they go out; None without the file."""
    try:
        with open(os.path.join(directory, "commands.yaml"), encoding="latin-1") as source:
            text = source.read()
    except FileNotFoundError:
        return None
    prompt, delay, answers = "", 0.0, {}
    for raw in text.splitlines():
        line = raw.strip()
        if line.startswith("prompt:"):
            prompt = json.loads(line.partition(":")[2])
        elif line.startswith("delay:"):
            delay = float(line.partition(":")[2])
        elif line.startswith('"'):
            entry = json.loads("{" + line + "}")
            for command, answer in entry.items():
                answers[command] = answer["answer"].replace("\n", "\r\n").encode("latin-1")
    return prompt.encode("latin-1"), delay, answers


class Events:
    def __init__(self, path):
        self.out = None
        if path == "-":
            self.out = sys.stdout
        elif path:
            self.out = open(path, "w", encoding="latin-1")

    def emit(self, **fields):
        if self.out:
            self.out.write(json.dumps(fields) + "\n")
            self.out.flush()


class Router:
    def __init__(self, name, directory, port, delay, sessions, events, commands=None):
        self.name, self.directory, self.port, self.delay = name, directory, port, delay
        self.slots = asyncio.Semaphore(sessions)
        self.events = events
        self.commands = commands
        self.count = 0
        self.server = None

    async def converse(self, reader, writer):
        """Echoes each line (CR, LF or CR LF ends one) and answers it with its answer and the
        prompt; a line no command answers gets the prompt again. Ends when the client does."""
        prompt, delay, answers = self.commands
        writer.write(b"\xff\xfb\x01\xff\xfb\x03" + prompt)   # WILL ECHO, WILL SUPPRESS-GO-AHEAD
        pending, after_cr, lines = b"", False, 0
        while True:
            chunk = await reader.read(65536)
            if not chunk:
                return lines
            for byte in chunk:
                if after_cr and byte in (0x0A, 0x00):
                    after_cr = False
                    continue
                after_cr = byte == 0x0D
                if byte not in (0x0D, 0x0A):
                    pending += bytes((byte,))
                    continue
                line, pending = pending.decode("latin-1"), b""
                lines += 1
                if delay > 0:
                    await asyncio.sleep(delay)
                writer.write(line.encode("latin-1") + b"\r\n" + answers.get(line.strip(), b"") + prompt)
            await writer.drain()

    async def serve(self, reader, writer):
        # Clients beyond --sessions wait here, accepted, for a free slot.
        async with self.slots:
            self.count += 1
            number = self.count
            host, port = writer.get_extra_info("peername")[:2]
            peer = f"{host}:{port}" if ":" not in host else f"[{host}]:{port}"
            started = time.monotonic()
            self.events.emit(event="session-start", router=self.name, session=number, peer=peer,
                             time=time.time())
            if self.commands:
                reason, lines = "client-gone", 0
                try:
                    lines = await self.converse(reader, writer)
                    writer.close()
                except (ConnectionError, OSError):
                    pass
                except asyncio.CancelledError:
                    reason = "stopped"
                    writer.close()
                self.events.emit(event="session-end", router=self.name, session=number, peer=peer,
                                 reason=reason, commands=lines,
                                 seconds=round(time.monotonic() - started, 6))
                return
            try:
                with open(os.path.join(self.directory, "RESPONSE.TXT"), "rb") as script:
                    items = read_items(script.read())
            except OSError as error:
                print(f"asyncio_peer: {self.name}: RESPONSE.TXT: {error.strerror}", file=sys.stderr)
                items = []
            sent, out, reason = 0, 0, "script-exhausted"
            try:
                for item in items:
                    if self.delay > 0:
                        await asyncio.sleep(self.delay)
                    if writer.is_closing():
                        reason = "client-gone"
                        break
                    writer.write(item)
                    out += len(item)
                    sent += 1
                    await writer.drain()
                writer.close()
                await writer.wait_closed()
            except (ConnectionError, OSError):
                reason = "client-gone"
            except asyncio.CancelledError:
                reason = "stopped"
                writer.close()
            self.events.emit(event="session-end", router=self.name, session=number, peer=peer,
                             reason=reason, items_sent=sent, items=len(items), bytes_in=0,
                             bytes_out=out, seconds=round(time.monotonic() - started, 6))


async def main(options):
    events = Events(options.events)
    routers = []
    next_port = options.port
    for directory in options.dirs:
        if not os.path.isdir(directory):
            print(f"asyncio_peer: {directory}: no such directory", file=sys.stderr)
            return 2
        port, delay = settings(directory)
        commands = command_map(directory)
        base = os.path.basename(os.path.abspath(directory))
        if next_port is not None and next_port > 0:
            port = next_port
        for copy in range(1, options.copies + 1):
            name = f"{base}-{copy}" if options.copies > 1 else base
            wanted = 0 if next_port == 0 else port + copy - 1
            routers.append(Router(name, directory, wanted, delay, options.sessions, events, commands))
        if next_port:
            next_port = port + options.copies
    for router in routers:
        try:
            router.server = await asyncio.start_server(router.serve, options.listen, router.port)
        except OSError as error:
            print(f"asyncio_peer: {router.name}: port {router.port}: {error.strerror}",
                  file=sys.stderr)
            return 2
        router.port = router.server.sockets[0].getsockname()[1]
        events.emit(event="listening", router=router.name, address=options.listen, port=router.port)
    # Before ready: whoever reads that event may stop the fleet at once.
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, stop.set)
    events.emit(event="ready")
    await stop.wait()
    for router in routers:
        router.server.close()
    pending = [task for task in asyncio.all_tasks() if task is not asyncio.current_task()]
    for task in pending:
        task.cancel()
    await asyncio.gather(*pending, return_exceptions=True)
    return 0


def parse():
    parser = argparse.ArgumentParser(prog="asyncio_peer.py")
    parser.add_argument("--port", type=int, default=None)
    parser.add_argument("--listen", default="127.0.0.1")
    parser.add_argument("--copies", type=int, default=1)
    parser.add_argument("--sessions", type=int, default=1)
    parser.add_argument("--events", default=None)
    parser.add_argument("dirs", nargs="*", default=["."])
    options = parser.parse_args()
    if options.copies < 1 or options.sessions < 1:
        parser.error("--copies and --sessions take a number from 1")
    return options


if __name__ == "__main__":
    sys.exit(asyncio.run(main(parse())))
