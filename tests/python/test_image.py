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
    programs = {name for name, data in files.items() if isinstance(data, bytes)}
    assert {"zentrel-serve", "zentrel-image-start"} <= programs
    assert programs <= {"zentrel-serve", "zentrel-record", "zentrel-image-start"}
    for name in programs:
        assert is_static(files[name]), name
    commit_time = subprocess.run(["git", "-C", SOURCE, "log", "-1", "--format=%ct"],
                                 capture_output=True, text=True).stdout.strip()
    if commit_time and not os.environ.get("SOURCE_DATE_EPOCH"):
        created = calendar.timegm(time.strptime(config["created"][:19], "%Y-%m-%dT%H:%M:%S"))
        assert created == int(commit_time)


def test_same_commit_gives_same_image_id(request, image):
    again = read_layout(archive(request, "image-again"))
    assert again[0] == image[0]


@pytest.fixture
def programs(image, tmp_path):
    """The image's programs, taken out of its layer to run here as they would run inside."""
    root = tmp_path / "image"
    root.mkdir()
    for name, data in image[2].items():
        if isinstance(data, bytes):
            (root / name).write_bytes(data)
            (root / name).chmod(0o755)
    return root


def router_dir(tmp_path):
    router = tmp_path / "routers" / "edge"
    router.mkdir(parents=True)
    for name, data in ROUTER.items():
        (router / name).write_bytes(data)
    return router.parent


def serve_one_client(command, env=None):
    """Runs the command, reads the listening event on stdout, plays to one client, returns the bytes."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    try:
        for line in process.stdout:
            event = json.loads(line)
            if event["event"] == "listening":
                assert event["router"] == "edge" and event["address"] == "127.0.0.1"
                break
        else:
            pytest.fail(f"no listening event: {process.stderr.read().decode()}")
        with socket.create_connection(("127.0.0.1", event["port"]), timeout=10) as client:
            got = b""
            while chunk := client.recv(4096):
                got += chunk
        assert process.wait(20) == 0, process.stderr.read().decode()
        return got
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


def test_entry_point_refuses_an_empty_routers_folder(programs, tmp_path):
    (tmp_path / "empty").mkdir()
    result = subprocess.run([programs / "zentrel-image-start"], capture_output=True, text=True,
                            env={"ZENTREL_ROUTERS": str(tmp_path / "empty")})
    assert result.returncode == 2
    assert result.stderr.count("\n") == 1 and "no router directory" in result.stderr


def test_entry_point_serves_the_mounted_routers_with_events_on_stdout(programs, tmp_path):
    routers = router_dir(tmp_path)
    got = serve_one_client([programs / "zentrel-image-start", "--listen", "127.0.0.1",
                            "--port", "0", "--connections", "1"],
                           env={"ZENTREL_ROUTERS": str(routers)})
    assert got == b"Username: \r\nimage#"


def podman_run(tag):
    """The podman run line that works here, or the reason none does.

    The plain line first. Then one for a machine like the CI one, where the
    runner may not raise a limit (no CAP_SYS_RESOURCE; conmon lowers the process
    limit to 32768 first) and crun refuses hybrid cgroups: runc, and the limits
    this process already has.
    """
    if not shutil.which("podman"):
        return None, "podman is not installed"
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


def test_container_serves_a_loopback_client(request, tmp_path):
    path = archive(request, "image")
    loaded = subprocess.run(["podman", "load", "-q", "-i", path], capture_output=True, text=True)
    if loaded.returncode != 0:
        pytest.skip(f"podman cannot load images here: {loaded.stderr.strip()}")
    tag = loaded.stdout.strip().split()[-1]
    run, why_not = podman_run(tag)
    if why_not:
        pytest.skip(f"podman cannot run containers here: {why_not}")
    routers = router_dir(tmp_path)
    # Host networking only: the client stays on loopback, no bridge network is made.
    got = serve_one_client(run + ["-v", f"{routers}:/routers:ro", tag,
                            "--listen", "127.0.0.1", "--port", "0", "--connections", "1"])
    assert got == b"Username: \r\nimage#"
