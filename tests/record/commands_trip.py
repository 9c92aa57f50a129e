"""commands_trip.py: the commands case of round_trip.py.

netmiko recorded with zentrel-record --commands against the cisco_ios starter,
over Telnet and over SSH at once; the commands.yaml served to the same script
and, at the same time, to the script with its commands in another order. Each
command's answers, and what netmiko read while it configured, must be the
recorded ones.
"""
import concurrent.futures
import json
import os
import re
import shutil
import subprocess

from trip_processes import (SERVE, SOURCE, fail, finish, run_netmiko, secret_free, settings,
                            start_record, start_serve)

# The commands case's script: show commands, an interface description, and the
# running config again. In the other order each group of commands is reversed;
# the running config is still asked once before the change and once after.
SHOWS_BEFORE = ["show version", "show ip interface brief", "show running-config", "show clock"]
SHOWS_AFTER = ["show running-config", "show privilege"]
# The starter answers after this long, so that netmiko's fast configuration
# lines come before the router answered the one before, as with a real router.
STARTER_DELAY = 0.01
INTERFACES = {"telnet": "GigabitEthernet0/2", "ssh": "GigabitEthernet0/3"}


def commands_script(transport, reorder):
    change = ["--config", "interface " + INTERFACES[transport],
              "--config", "description recorded over " + transport]
    turn = (lambda shows: shows[::-1]) if reorder else list
    return ["--enable", "--fast", *turn(SHOWS_BEFORE), *change, *turn(SHOWS_AFTER)]


def answers_by_command(ran):
    """Each command's answers in the order it was asked, and under "--config" what
    netmiko read while it configured: the echo of each line after the prompt of the
    mode it was typed in."""
    answers = {"--config": ran["configured"]}
    for command, answer in ran["answers"]:
        answers.setdefault(command, []).append(answer)
    return answers


def commands_round_trip(work, starter_ports, ssh):
    """netmiko through zentrel-record --commands [--ssh] against the starter, then the
    recording served to the same script and, at the same time, to the script in another
    order."""
    transport = "ssh" if ssh else "telnet"
    recorded = os.path.join(work, "commands-" + transport)
    record, port = start_record(starter_ports[transport], recorded, "--commands", ssh=ssh)
    original = answers_by_command(run_netmiko(port, ssh, *commands_script(transport, False)))
    summary, warnings = finish(record, "zentrel-record --commands")
    print(summary + warnings, end="")
    if "warning" in warnings:
        fail("the recording over %s has warnings: %s" % (transport, warnings))
    description = "description recorded over " + transport
    running = original["show running-config"]
    if ("Version 15.9" not in original["show version"][0] or description in running[0]
            or description not in running[1]):
        fail("the starter's answers through the recorder: %r" % original)

    names = sorted(os.listdir(recorded))
    if names != ["commands.yaml", "session.cast", "zentrel.ini"]:
        fail("the recorded directory holds %r" % names)
    if ("SSH-Port" in settings(recorded)) != ssh:
        fail("zentrel.ini: %r" % settings(recorded))
    secret_free(recorded)
    with open(os.path.join(recorded, "commands.yaml")) as f:
        delay = re.search(r"^delay: ([0-9.]+)$", f.read(), re.M)
    # The median answer time, as the recorder saw it through its own relay.
    if not delay or not STARTER_DELAY <= float(delay.group(1)) < STARTER_DELAY + 0.05:
        fail("commands.yaml over %s: delay %s, the starter's is %s"
             % (transport, delay and delay.group(1), STARTER_DELAY))

    serve, replay_port = start_serve(recorded, "--sessions", "2", ssh=ssh, connections=2)
    with concurrent.futures.ThreadPoolExecutor() as pool:
        runs = [pool.submit(run_netmiko, replay_port, ssh, *commands_script(transport, reorder))
                for reorder in (False, True)]
        replays = [answers_by_command(run.result()) for run in runs]
    finish(serve, "zentrel-serve")
    for order, replayed in zip(("same", "other"), replays):
        for command, answers in original.items():
            if replayed.get(command) != answers:
                fail("over %s, in the %s order, %r was answered %r, recorded %r"
                     % (transport, order, command, replayed.get(command), answers))
    print("round trip commands over %s: %d commands answered as recorded in both orders, delay %s"
          % (transport, len(original) - 1, delay.group(1)))


def commands_case(work):
    """ZENTREL_STARTERS=<a copy with a delay> zentrel-serve --router cisco_ios, recorded
    over Telnet and over SSH at once."""
    starters = os.path.join(work, "starters")
    shutil.copytree(os.path.join(SOURCE, "routers", "cisco_ios"), os.path.join(starters, "cisco_ios"))
    with open(os.path.join(starters, "cisco_ios", "commands.yaml"), "a") as f:
        f.write("delay: %s\n" % STARTER_DELAY)
    serve = subprocess.Popen([SERVE, "--router", "cisco_ios", "--port", "0", "--ssh-port", "0",
                              "--sessions", "2", "--connections", "2", "--events", "-", "--timeout", "120",
                              "--exit-with-parent"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             env={**os.environ, "ZENTREL_STARTERS": starters})
    ports = {}
    for line in serve.stdout:
        event = json.loads(line)
        if event.get("event") == "listening":
            ports[event["protocol"]] = event["port"]
        if event.get("event") == "ready":
            break
    if set(ports) != {"telnet", "ssh"}:
        fail("zentrel-serve --router cisco_ios did not listen: " + serve.stderr.read())
    with concurrent.futures.ThreadPoolExecutor() as pool:
        for trip in [pool.submit(commands_round_trip, work, ports, ssh) for ssh in (False, True)]:
            trip.result()
    finish(serve, "zentrel-serve --router cisco_ios")
