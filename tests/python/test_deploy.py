"""test_deploy.py: the Kubernetes and containerlab examples parse, agree with each other, and run."""
import json
import os
import re
import subprocess
import time
import warnings

import pytest

yaml = pytest.importorskip("yaml")

DEPLOY = os.path.join(os.path.dirname(__file__), "..", "..", "deploy")
# Options other branches are adding; until they land, a run here goes without them.
LATER = {"--junit", "--transcripts"}
# The image itself starts zentrel-serve with these, in front of a deployment's arguments.
IMAGE_ARGS = ["--listen", "0.0.0.0", "--events", "-"]


def load(*path):
    with open(os.path.join(DEPLOY, *path)) as f:
        return list(yaml.safe_load_all(f))


def check_options(binary, args):
    """The arguments to run here: every option must be in --help, but one another branch is
    still adding is left out (with its value) and warned about."""
    help_text = subprocess.run([binary, "--help"], capture_output=True, text=True,
                               timeout=10).stdout
    known = set(re.findall(r"--[a-z][a-z-]*", help_text))
    missing = {a for a in IMAGE_ARGS + args if a.startswith("--")} - known
    if missing - LATER:
        pytest.fail(f"options not in zentrel-serve --help: {sorted(missing - LATER)}")
    runnable = list(args)
    for option in missing:
        warnings.warn(f"this zentrel-serve has no {option} yet; served without it")
        at = runnable.index(option)
        del runnable[at:at + 2]
    return runnable


def serve_until_ready(binary, args, dirs, tmp_path):
    """Runs zentrel-serve on loopback with the deployment's arguments; returns its listening events."""
    events = tmp_path / "events.jsonl"
    args = list(args)
    args[args.index("--port") + 1] = "0"          # the deployment's ports may be taken here
    if "--junit" in args:
        args[args.index("--junit") + 1] = str(tmp_path / "junit.xml")
    process = subprocess.Popen([binary, "--listen", "127.0.0.1", "--events", str(events)]
                               + args + dirs, stderr=subprocess.PIPE)
    try:
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and process.poll() is None:
            lines = [json.loads(l) for l in events.read_text().splitlines() if l.strip()] \
                if events.exists() else []
            if any(e["event"] == "ready" for e in lines):
                return [e for e in lines if e["event"] == "listening"]
            time.sleep(0.02)
        pytest.fail(f"zentrel-serve did not get ready: {process.stderr.read1().decode()}"
                    if process.poll() is not None else "zentrel-serve not ready in 15 s")
    finally:
        process.terminate()
        process.wait(10)


IDENTITY = {"apiVersion", "kind", "metadata", "status"}


def desired(resource):
    """The desired state of a Kubernetes resource: its one field beside its identity."""
    (state,) = [value for key, value in resource.items() if key not in IDENTITY]
    return state


def test_kubernetes_fleet_serves_what_the_manifest_says(serve_binary, tmp_path):
    config_map, service, stateful_set = load("kubernetes", "zentrel.yaml")
    assert [config_map["kind"], service["kind"], stateful_set["kind"]] == \
        ["ConfigMap", "Service", "StatefulSet"]
    pod = desired(desired(stateful_set)["template"])
    [container] = pod["containers"]
    args = container["args"]
    port = int(args[args.index("--port") + 1])

    assert desired(service)["clusterIP"] == "None"
    assert desired(stateful_set)["serviceName"] == service["metadata"]["name"]
    labels = desired(stateful_set)["template"]["metadata"]["labels"]
    assert desired(service)["selector"].items() <= labels.items()
    assert desired(stateful_set)["selector"]["matchLabels"].items() <= labels.items()
    assert desired(service)["ports"][0]["port"] == port
    assert container["ports"][0]["containerPort"] == port
    assert container["readinessProbe"]["tcpSocket"]["port"] == port

    volumes = {v["name"]: v for v in pod["volumes"]}
    claims = {c["metadata"]["name"] for c in desired(stateful_set)["volumeClaimTemplates"]}
    mounts = {m["mountPath"]: m["name"] for m in container["volumeMounts"]}
    assert set(mounts.values()) <= set(volumes) | claims
    assert mounts["/routers"] in volumes
    report = args[args.index("--junit") + 1]
    assert any(report.startswith(path + "/") for path, name in mounts.items() if name in claims)

    # The router directories as the pod sees them under /routers.
    projected = volumes[mounts["/routers"]]["configMap"]
    assert projected["name"] == config_map["metadata"]["name"]
    routers = tmp_path / "routers"
    for entry in projected["items"]:
        target = routers / entry["path"]
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(config_map["data"][entry["key"]].encode("latin-1"))
    dirs = sorted(str(d) for d in routers.iterdir())

    listening = serve_until_ready(serve_binary, check_options(serve_binary, args), dirs, tmp_path)
    copies = int(args[args.index("--copies") + 1])
    names = sorted(e["router"] for e in listening if e.get("protocol", "telnet") == "telnet")
    assert names == sorted(f"{os.path.basename(d)}-{n}" for d in dirs
                           for n in range(1, copies + 1))
    assert len(names) == 100    # the manifest's comment: 100 routers a pod


def test_containerlab_nodes_serve_their_router_directory(serve_binary, tmp_path):
    [topology] = load("containerlab", "zentrel.clab.yml")
    assert topology["topology"]["defaults"]["kind"] == "linux"
    nodes = topology["topology"]["nodes"]
    assert nodes
    for name, node in nodes.items():
        [bind] = node["binds"]
        source, target = bind.split(":")[:2]
        assert target.startswith("/routers/")
        router = os.path.join(DEPLOY, "containerlab", source)
        assert os.path.isfile(os.path.join(router, "RESPONSE.TXT")), router
        args = check_options(serve_binary, node["cmd"].split())
        (tmp_path / name).mkdir()
        listening = serve_until_ready(serve_binary, args, [router], tmp_path / name)
        assert [e["router"] for e in listening] == [os.path.basename(target)]

