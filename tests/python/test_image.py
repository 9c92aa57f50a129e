"""test_image.py: the OCI image make image wrote: its layout, its programs, and a container where podman can run one."""
import calendar
import gzip
import io
import json
import os
import resource
import shutil
import socket
import struct
import subprocess
import tarfile
import time

import pytest

SOURCE = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", ".."))
ROUTER = {"RESPONSE.TXT": b'"Username: "\r\n"\r\nimage#"\r\n', "zentrel.ini": b"[Settings]\r\nDelay=0\r\n"}


def archive(request, option):
    path = request.config.getoption(option.replace("-", "_"))
    if not path:
        pytest.skip(f"--{option}=TAR not given (make image-test gives it)")
    return path


def read_layout(path):
    """(config digest, config, {path in the layer: bytes}) of the archive's one image."""
    with tarfile.open(path) as outer:
        def blob(digest):
            return outer.extractfile("blobs/sha256/" + digest.split(":")[1]).read()
        [entry] = json.loads(outer.extractfile("index.json").read())["manifests"]
        manifest = json.loads(blob(entry["digest"]))
        config = json.loads(blob(manifest["config"]["digest"]))
        files = {}
        for layer in manifest["layers"]:
            data = blob(layer["digest"])
            if layer["mediaType"].endswith("gzip"):
                data = gzip.decompress(data)
            with tarfile.open(fileobj=io.BytesIO(data)) as inner:
                for member in inner.getmembers():
                    name = member.name.lstrip("./")
                    files[name] = inner.extractfile(member).read() if member.isfile() else member
        return manifest["config"]["digest"], config, files


def is_static(elf):
    """True when no program header asks for an interpreter (PT_INTERP)."""
    assert elf[:4] == b"\x7fELF" and elf[4] == 2, "not a 64-bit ELF file"
    phoff, = struct.unpack_from("<Q", elf, 0x20)
    phentsize, phnum = struct.unpack_from("<HH", elf, 0x36)
    return all(struct.unpack_from("<I", elf, phoff + i * phentsize)[0] != 3 for i in range(phnum))


@pytest.fixture(scope="module")
def image(request):
    return read_layout(archive(request, "image"))


def test_image_from_scratch_holds_static_programs_and_a_routers_volume(image):
    _, config, files = image
    assert config["config"]["Entrypoint"] == ["/zentrel-image-start"]
    assert "/routers" in config["config"]["Volumes"]
    assert isinstance(files["routers"], tarfile.TarInfo) and files["routers"].isdir()
    programs = {name for name, data in files.items() if isinstance(data, bytes) and "/" not in name}
    assert programs == {"zentrel-serve", "zentrel-record", "zentrel-image-start"}
    # The starter routers where zentrel-serve --router looks: beside its own folder.
    for starter in ("cisco_ios", "cisco_nxos", "arista_eos", "juniper_junos"):
        with open(os.path.join(SOURCE, "routers", starter, "commands.yaml"), "rb") as source:
            assert files[f"share/zentrel/routers/{starter}/commands.yaml"] == source.read(), starter
    for name in programs:
        assert is_static(files[name]), name
    commit_time = subprocess.run(["git", "-C", SOURCE, "log", "-1", "--format=%ct"],
                                 capture_output=True, text=True).stdout.strip()
    if commit_time and not os.environ.get("SOURCE_DATE_EPOCH"):
        created = calendar.timegm(time.strptime(config["created"][:19], "%Y-%m-%dT%H:%M:%S"))
        assert created == int(commit_time)


def test_same_commit_gives_same_image_id_and_same_archive(request, image):
    again = archive(request, "image-again")
    assert read_layout(again)[0] == image[0]
    with open(archive(request, "image"), "rb") as first, open(again, "rb") as second:
        assert first.read() == second.read()


def test_docker_reads_the_same_image_from_the_archive(request, image):
    """docker load reads manifest.json, not the OCI index: it must name the same config (docker's image ID)."""
    if not shutil.which("skopeo"):
        pytest.skip("skopeo is not installed (it reads the archive as docker load would)")
    path = archive(request, "image")
    read = subprocess.run(["skopeo", "inspect", "--raw", f"docker-archive:{path}"],
                          capture_output=True, text=True, timeout=60)
    assert read.returncode == 0, read.stderr
    assert json.loads(read.stdout)["config"]["digest"] == image[0]
    with tarfile.open(path) as outer:
        [docker] = json.loads(outer.extractfile("manifest.json").read())
    version = image[1]["config"]["Labels"]["org.opencontainers.image.version"]
    assert docker["RepoTags"] == [f"localhost/zentrel-serve:{version}"]


@pytest.fixture
def programs(image, tmp_path):
    """The image's programs, taken out of its layer to run here as they would run inside."""
    root = tmp_path / "image"
    root.mkdir()
    for name, data in image[2].items():
        if isinstance(data, bytes):
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_bytes(data)
            if "/" not in name:
                (root / name).chmod(0o755)
    return root


def test_every_program_of_the_image_starts_without_an_environment(image, programs):
    version = image[1]["config"]["Labels"]["org.opencontainers.image.version"]
    # The entry point hands --version on to zentrel-serve.
    for name, says in (("zentrel-image-start", "zentrel-serve"), ("zentrel-serve", "zentrel-serve"),
                       ("zentrel-record", "zentrel-record")):
        result = subprocess.run([programs / name, "--version"], capture_output=True, text=True,
                                env={}, timeout=30)
        assert (result.returncode, result.stdout.split()) == (0, [says, version]), result.stderr


def test_the_starters_come_with_the_image(programs):
    """--routers lists the image's own starters; --router needs nothing in /routers."""
    listed = subprocess.run([programs / "zentrel-image-start", "--routers"], capture_output=True, text=True,
                            env={}, timeout=30)
    assert listed.returncode == 0, listed.stderr
    assert [line.split()[0] for line in listed.stdout.splitlines()] == [
        "arista_eos", "cisco_ios", "cisco_nxos", "juniper_junos"]
    unknown = subprocess.run([programs / "zentrel-image-start", "--router", "nosuch"], capture_output=True,
                             text=True, env={"ZENTREL_ROUTERS": "/nonexistent"}, timeout=30)
    assert unknown.returncode == 2 and "the starters are arista_eos, cisco_ios" in unknown.stderr, unknown.stderr


def router_dir(tmp_path):
    router = tmp_path / "routers" / "edge"
    router.mkdir(parents=True)
    for name, data in ROUTER.items():
        (router / name).write_bytes(data)
    return router.parent


def read_all(receive):
    got = b""
    while chunk := receive(4096):
        got += chunk
    return got


def ssh_session(port):
    """What an SSH client gets after a password login that follows a refused GSSAPI login.

    The static zentrel-serve answers libssh's GSSAPI calls with "unavailable":
    a client that asks for a GSSAPI login anyway must get a refusal, not a
    crashed router, and may log in with a password after it.
    """
    paramiko = pytest.importorskip("paramiko")
    with paramiko.Transport(("127.0.0.1", port)) as transport:
        transport.start_client(timeout=10)
        with pytest.raises(paramiko.BadAuthenticationType) as offered:
            transport.auth_none("admin")
        assert "gssapi-with-mic" not in offered.value.allowed_types
        request = paramiko.Message()
        request.add_byte(bytes([50]))   # SSH_MSG_USERAUTH_REQUEST, Kerberos 5 as the one mechanism
        for text in ("admin", "ssh-connection", "gssapi-with-mic"):
            request.add_string(text)
        request.add_int(1)
        request.add_string(bytes.fromhex("06092a864886f712010202"))
        transport._send_message(request)   # paramiko has no public call that asks for a GSSAPI login
        transport.auth_password("admin", "any")
        channel = transport.open_session(timeout=10)
        channel.get_pty()
        channel.invoke_shell()
        channel.settimeout(10)
        return read_all(channel.recv)


def serve_clients(command, env=None):
    """Runs the command (a router with --ssh-port 0 --connections 2), serves one Telnet and
    one SSH client on loopback, and returns what each got and the events on stdout."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    try:
        events, ports = [], {}
        for line in process.stdout:
            events.append(json.loads(line))
            if events[-1]["event"] == "listening":
                assert events[-1]["router"] == "edge" and events[-1]["address"] == "127.0.0.1"
                ports[events[-1]["protocol"]] = events[-1]["port"]
            if events[-1]["event"] == "ready":
                break
        else:
            pytest.fail(f"no ready event: {process.stderr.read().decode()}")
        got = {"ssh": ssh_session(ports["ssh"])}
        with socket.create_connection(("127.0.0.1", ports["telnet"]), timeout=10) as client:
            got["telnet"] = read_all(client.recv)
        assert process.wait(30) == 0, process.stderr.read().decode()
        events += [json.loads(line) for line in process.stdout]
        return got, events
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


SERVE_ONE_OF_EACH = ["--listen", "127.0.0.1", "--port", "0", "--ssh-port", "0", "--connections", "2"]


def check_served(got, events):
    assert got == {"telnet": b"Username: \r\nimage#", "ssh": b"Username: \r\nimage#"}
    ended = [event for event in events if event["event"] == "session-end"]
    assert [(event["reason"], event["bytes_out"]) for event in ended] == [("script-exhausted", 18)] * 2
    assert events[-1] == {"event": "exit", "status": 0, "sessions": 2}


def test_entry_point_refuses_an_empty_routers_folder(programs, tmp_path):
    (tmp_path / "empty").mkdir()
    result = subprocess.run([programs / "zentrel-image-start"], capture_output=True, text=True,
                            env={"ZENTREL_ROUTERS": str(tmp_path / "empty")})
    assert result.returncode == 2
    assert result.stderr.count("\n") == 1 and "no router directory" in result.stderr


def test_entry_point_serves_telnet_and_ssh_with_events_on_stdout(programs, tmp_path):
    check_served(*serve_clients([programs / "zentrel-image-start"] + SERVE_ONE_OF_EACH,
                                env={"ZENTREL_ROUTERS": str(router_dir(tmp_path))}))


def podman_run(tag):
    """The podman run line that works here, or the reason none does.

    The plain line first. Then one for a machine like the CI one, where the
    runner may not raise a limit (no CAP_SYS_RESOURCE; conmon lowers the process
    limit to 32768 first) and crun refuses hybrid cgroups: runc, and the limits
    this process already has.
    """
    plain = ["podman", "run", "--rm", "--network", "host", "--init"]
    lines = [plain]
    if shutil.which("runc"):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        lines.append(["podman", "--runtime", shutil.which("runc")] + plain[1:]
                     + ["--ulimit", f"nofile={soft}:{hard}", "--ulimit", "nproc=32768:32768"])
    reason = None
    for line in lines:
        probe = subprocess.run(line + [tag, "--version"], capture_output=True, text=True,
                               timeout=120)
        if probe.returncode == 0:
            return line, None
        reason = (probe.stderr.strip().splitlines() or ["(no message)"])[-1]
    return None, reason


@pytest.fixture(scope="module")
def container(request):
    """(the podman run line that works here, the loaded image's name); a skip where none can run."""
    path = archive(request, "image")
    if not shutil.which("podman"):
        pytest.skip("podman is not installed")
    loaded = subprocess.run(["podman", "load", "-q", "-i", path], capture_output=True, text=True)
    if loaded.returncode != 0:
        pytest.skip(f"podman cannot load images here: {loaded.stderr.strip()}")
    tag = loaded.stdout.strip().split()[-1]
    run, why_not = podman_run(tag)
    if why_not:
        pytest.skip(f"podman cannot run containers here: {why_not}")
    return run, tag


def test_container_serves_loopback_clients_with_events_on_stdout(container, tmp_path):
    run, tag = container
    # Host networking only: the clients stay on loopback, no bridge network is made.
    check_served(*serve_clients(run + ["-v", f"{router_dir(tmp_path)}:/routers:ro", tag]
                                + SERVE_ONE_OF_EACH))


def test_container_without_routers_says_so_and_exits_2(container):
    run, tag = container
    result = subprocess.run(run + [tag, "--port", "0"], capture_output=True, text=True, timeout=120)
    assert result.returncode == 2
    assert result.stderr.count("\n") == 1, result.stderr
    assert "no router directory in /routers" in result.stderr
