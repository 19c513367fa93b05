#!/usr/bin/python3
"""skyward-farm: the whole film rendered as one video on many job slots at
once: this machine's cores, other machines through ssh, or a Slurm cluster.

The film is cut into ranges of frames; each range is rendered by
demo-capture --frames A-B into a video of its own that starts with a key frame
and joins the others by stream copy. What the farm guards:

- The film: before anything is rendered every host is asked for the
  fingerprint of the film it would render (demo-capture --fingerprint with the
  run's options: version, a digest of the assets and shader texts, size, rate,
  frames), which also checks the options by demo-capture's own rules. Hosts
  that disagree are refused before anything is rendered. Each range records
  the fingerprint its host printed when it rendered it; a range of another
  build is never joined: it is named, set aside and rendered again.
- The ranges: a range counts as done only once it decodes whole (every frame,
  no decode error) and its SHA-256 is recorded in the manifest; the digests
  are checked again before the join, and a range that fails is named, set
  aside and rendered again.
- The work folder (.skyward-farm/NAME beside the output): one run at a time
  (a POSIX lock), state written whole or not at all (temporary file, fsync,
  rename), every failure to write said with its reason.
- The workers: every process the farm starts is in one process group led by
  a watcher that ends them all when the farm ends, however it ends (even
  SIGKILL); a remote worker ends when its ssh connection closes. The progress
  line is the farm's own and ends with it.

Python 3 with the standard library only.
"""

import fcntl
import hashlib
import json
import os
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

PROGRAM = os.environ.get("FARM_PROGRAM_NAME") or os.path.basename(sys.argv[0]).removesuffix(".py")
DEFAULT_CAPTURE = os.environ.get("SKYWARD_FARM_CAPTURE") or "skyward-capture"
MARK = "skyward-farm-fingerprint: "

USAGE = f"""Usage: {PROGRAM} [options] OUTPUT.mp4
Renders the whole film into OUTPUT as ranges of frames on many job slots (this
machine's cores, other machines through ssh, or a Slurm cluster), checks every
range, then joins them without re-encoding and checks the result.

  --size WxH          image size (default 1920x1080; even numbers)
  --fps N             frame rate (default 60)
  --ranges N          cut the film into N ranges (default: 4 per job slot)
  -j, --jobs N        ranges rendered at once on each host (default: one per
                      core); with --slurm, array tasks running at once
                      (default: as many as Slurm allows)
  --sshlogin LOGIN    render on this host ([N/][user@]host, N ranges at once
                      there, or ':' for this machine); may be given more than
                      once, or as a list separated by commas (default: this
                      machine only)
  --ssh COMMAND       the ssh command to reach the hosts (such as 'ssh -p 2222')
  --slurm             render the ranges as one Slurm job array (sbatch) and join
                      them in a job that depends on it; the work folder beside
                      OUTPUT must be on a file system that every node shares
  --partition NAME    with --slurm: the partition of the jobs
  --time LIMIT        with --slurm: the time limit of each task (sbatch --time)
  --sbatch-args ARGS  with --slurm: more sbatch options, passed through
  --no-wait           with --slurm: print the job ids and return once they are
                      submitted; run the same command again to see the result
  --capture COMMAND   the command that runs the capture tool where a range is
                      rendered, followed there by its options (default:
                      $SKYWARD_FARM_CAPTURE, else skyward-capture, the Debian
                      package's command); for a build folder:
                      --capture 'cd /path/to/build && ./demo-capture'
  --retries N         tries of a failing range before the run fails (default 3)
  --ffmpeg PATH       the ffmpeg that checks and joins the ranges
                      (default: ffmpeg)
  --ffprobe PATH      the ffprobe that checks the joined video
                      (default: ffprobe)
  --help              show this text

Before anything is rendered, every host is asked (demo-capture --fingerprint)
to check the options and to name the film it would render: its version, a
digest of the asset files and shader texts, size, rate and frames. Hosts that
name different films are refused. A range is kept only when its host rendered
this film, it decodes whole and its SHA-256 is recorded; the digests are
checked again before the join. A range that fails is named, set aside and
rendered again.

The ranges are kept in .skyward-farm/NAME beside OUTPUT until they are joined;
one run at a time may use it. A run started again with the same output and
settings renders only the ranges still missing: it keeps the ranges whose
fingerprint is this run's and whose digest is unchanged. A remote host renders
in a temporary folder and sends each range back over its ssh connection; a host
without an X display renders through EGL, with no X server. With --slurm the
nodes write the ranges into the work folder themselves, so it must be on a file
system the nodes share (NFS, Lustre, ...), as must the capture command.
The container follows OUTPUT's extension (.mp4 if none), as for demo-capture.
"""


class Failure(Exception):
    """One line for the user, and the exit status."""

    def __init__(self, message, status=1):
        super().__init__(message)
        self.status = status


def say(text):
    sys.stderr.write(f"{PROGRAM}: {text}\n")
    sys.stderr.flush()


def reason_of(error):
    return error.strerror or str(error) if isinstance(error, OSError) else str(error)


# ---------------------------------------------------------------------------
# Options


def whole_number(option, text, largest):
    if not re.fullmatch(r"[1-9][0-9]{0,8}", text) or int(text) > largest:
        raise Failure(f"{option} takes a whole number from 1 to {largest}, not '{text}' "
                      f"(see {PROGRAM} --help)", 2)
    return int(text)


def parse_options(argv):
    options = {"size": "1920x1080", "fps": "60", "ranges": None, "jobs": None, "retries": "3",
               "ssh": "ssh", "capture": DEFAULT_CAPTURE, "ffmpeg": "ffmpeg", "ffprobe": "ffprobe",
               "logins": [], "login_slots": {}, "slurm": False, "partition": None, "time": None, "sbatch_args": "",
               "no_wait": False, "output": None}
    valued = {"--size": "size", "--fps": "fps", "--ranges": "ranges", "-j": "jobs", "--jobs": "jobs",
              "--sshlogin": "logins", "-S": "logins", "--ssh": "ssh", "--capture": "capture",
              "--retries": "retries", "--ffmpeg": "ffmpeg", "--ffprobe": "ffprobe",
              "--partition": "partition", "--time": "time", "--sbatch-args": "sbatch_args"}
    flags = {"--slurm": "slurm", "--no-wait": "no_wait"}
    given = set()
    i = 0
    only_names = False
    while i < len(argv):
        arg = argv[i]
        i += 1
        if only_names or arg == "-" or not arg.startswith("-"):
            if options["output"] is not None:
                raise Failure(f"one output only: {options['output']} and {arg} "
                              f"(see {PROGRAM} --help)", 2)
            options["output"] = arg
            continue
        if arg == "--":
            only_names = True
            continue
        if arg in ("--help", "-h"):
            sys.stdout.write(USAGE)
            sys.stdout.flush()
            raise SystemExit(0)
        name, value = arg, None
        if arg.startswith("--") and "=" in arg:
            name, value = arg.split("=", 1)
        if name in flags and value is None:
            options[flags[name]] = True
            continue
        if name not in valued:
            raise Failure(f"unknown option {name} (see {PROGRAM} --help)", 2)
        if value is None:
            if i >= len(argv):
                raise Failure(f"{name} needs a value (see {PROGRAM} --help)", 2)
            value = argv[i]
            i += 1
        key = valued[name]
        if key == "logins":
            # [N/][user@]host, several separated by commas, as GNU parallel
            # takes them: N job slots on that host.
            for part in value.split(","):
                match = re.fullmatch(r"([0-9]{1,6})/(.+)", part)
                login = match.group(2) if match else part
                if not login or (match and int(match.group(1)) < 1):
                    raise Failure(f"{name} takes [N/][user@]host, not '{value}' "
                                  f"(see {PROGRAM} --help)", 2)
                if login in options["logins"]:
                    raise Failure(f"{name}: {login} is given more than once (see {PROGRAM} --help)", 2)
                options["logins"].append(login)
                if match:
                    options["login_slots"][login] = int(match.group(1))
            continue
        if key in given:
            raise Failure(f"{name} is given more than once (see {PROGRAM} --help)", 2)
        given.add(key)
        options[key] = value
    if options["output"] is None:
        raise Failure(f"no output video given (see {PROGRAM} --help)", 2)
    if options["output"] == "":
        raise Failure(f"the output video needs a name, not '' (see {PROGRAM} --help)", 2)
    options["retries"] = whole_number("--retries", options["retries"], 100)
    if options["ranges"] is not None:
        options["ranges"] = whole_number("--ranges", options["ranges"], 1000000)
    if options["jobs"] is not None:
        options["jobs"] = whole_number("--jobs", options["jobs"], 100000)
    for key, text in (("capture", "--capture"), ("ffmpeg", "--ffmpeg"), ("ffprobe", "--ffprobe"),
                      ("ssh", "--ssh")):
        if not options[key].strip():
            raise Failure(f"{text} needs a command, not '{options[key]}' (see {PROGRAM} --help)", 2)
    try:
        options["ssh_words"] = shlex.split(options["ssh"])
        options["sbatch_words"] = shlex.split(options["sbatch_args"])
    except ValueError as error:
        raise Failure(f"--ssh or --sbatch-args: {error} (see {PROGRAM} --help)", 2)
    if options["slurm"]:
        if options["logins"]:
            raise Failure(f"--slurm cannot be combined with --sshlogin (see {PROGRAM} --help)", 2)
    else:
        for key, text in (("partition", "--partition"), ("time", "--time"), ("no_wait", "--no-wait")):
            if options[key]:
                raise Failure(f"{text} is for --slurm; it cannot be used without it "
                              f"(see {PROGRAM} --help)", 2)
        if options["sbatch_args"]:
            raise Failure(f"--sbatch-args is for --slurm; it cannot be used without it "
                          f"(see {PROGRAM} --help)", 2)
    if not options["logins"]:
        options["logins"] = [":"]
    return options


# ---------------------------------------------------------------------------
# Files: atomic writes, digests, the lock


def fsync_folder(folder):
    try:
        descriptor = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    except OSError:
        return
    try:
        os.fsync(descriptor)
    except OSError:
        pass
    finally:
        os.close(descriptor)


def write_atomically(path, text):
    """The whole text under path, or the old file untouched: a short temporary
    name in the same folder, fsync, rename, fsync of the folder."""
    folder = os.path.dirname(path)
    temporary = os.path.join(folder, f".tmp-{os.getpid()}-{threading.get_ident() % 100000}")
    try:
        with open(temporary, "w", encoding="utf-8") as file:
            file.write(text)
            file.flush()
            os.fsync(file.fileno())
        os.replace(temporary, path)
        fsync_folder(folder)
    except OSError as error:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise Failure(f"cannot write {path}: {reason_of(error)}")


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as file:
        while True:
            block = file.read(1 << 20)
            if not block:
                return digest.hexdigest()
            digest.update(block)


class WorkLock:
    """One run per work folder: a POSIX lock (fcntl, which NFS honours too) on
    its lock file, which names the holder."""

    def __init__(self, work):
        self.path = os.path.join(work, "lock")
        try:
            self.descriptor = os.open(self.path, os.O_RDWR | os.O_CREAT, 0o644)
        except OSError as error:
            raise Failure(f"cannot open {self.path}: {reason_of(error)}")
        try:
            fcntl.lockf(self.descriptor, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            holder = os.read(self.descriptor, 4096).decode("utf-8", "replace").strip()
            os.close(self.descriptor)
            raise Failure(f"cannot use {work}: another run is rendering into it "
                          f"({holder or 'its holder is not named'}); wait for it to end or stop it")
        self.name(f"pid {os.getpid()} on {socket.gethostname()}")

    def name(self, holder):
        # The lock file itself cannot be replaced by a rename (the lock is on
        # it): rewritten in place, after the lock is held.
        try:
            os.ftruncate(self.descriptor, 0)
            os.pwrite(self.descriptor, (holder + "\n").encode(), 0)
            os.fsync(self.descriptor)
        except OSError as error:
            raise Failure(f"cannot write {self.path}: {reason_of(error)}")

    def release(self):
        os.close(self.descriptor)


# ---------------------------------------------------------------------------
# Workers: one process group led by a watcher


class Watcher:
    """A child that leads the process group of every worker. It waits for the
    farm's end of a pipe to close (the farm ended, whatever ended it), then
    ends the group: SIGTERM, then SIGKILL for what is left after 5 s."""

    def __init__(self):
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:
            try:
                os.setpgid(0, 0)
                os.close(write_end)
                for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
                    signal.signal(number, signal.SIG_IGN)
                os.closerange(3, read_end)
                while os.read(read_end, 1):
                    pass
                group = os.getpgid(0)
                os.killpg(group, signal.SIGTERM)
                deadline = time.monotonic() + 5
                while time.monotonic() < deadline and Watcher.others(group):
                    time.sleep(0.05)
                    try:
                        os.waitpid(-1, os.WNOHANG)
                    except ChildProcessError:
                        pass
                if Watcher.others(group):
                    os.killpg(group, signal.SIGKILL)
            finally:
                os._exit(0)
        os.close(read_end)
        self.pid = pid
        self.pipe = write_end
        os.set_inheritable(write_end, False)
        # The group must exist before the first worker joins it.
        try:
            os.setpgid(pid, pid)
        except OSError:
            pass

    @staticmethod
    def others(group):
        me = os.getpid()
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == me:
                continue
            try:
                with open(f"/proc/{entry}/stat", "rb") as file:
                    fields = file.read().rsplit(b")", 1)[1].split()
                if int(fields[2]) == group and fields[0] != b"Z":
                    return True
            except (OSError, IndexError, ValueError):
                pass
        return False

    def join(self):
        pid = self.pid
        return lambda: os.setpgid(0, pid)

    def end(self):
        """Ends every worker now and waits for the watcher."""
        try:
            os.close(self.pipe)
        except OSError:
            pass
        try:
            os.waitpid(self.pid, 0)
        except ChildProcessError:
            pass


# ---------------------------------------------------------------------------
# The capture command where a range is rendered

# The script a range runs in: $1 is the capture command (a shell text,
# followed by its options), $2 the video to write, or '-' to send it on the
# standard output (a remote host); the rest are demo-capture's options. The
# host's fingerprint is said on stderr after MARK; the capture's messages
# follow there.
WORKER_SCRIPT = r"""
capture=$1 video=$2
shift 2
cap() { ( eval "$capture"' "$@"' ); }
fingerprint=$(cap "$@" --fingerprint --video range.mp4 </dev/null) || exit $?
printf '%s%s\n' "MARK" "$fingerprint" >&2
if [ "$video" != - ]; then
  cap "$@" --video "$video" </dev/null >&2
  exit $?
fi
# On a remote host: rendered in a temporary folder, then sent back. The
# farm keeps the connection's input open; when it closes (the farm ended or
# the connection broke) the capture is stopped.
folder=$(mktemp -d "${TMPDIR:-/tmp}/skyward-farm.XXXXXX") || exit 1
trap 'rm -rf "$folder"' EXIT
trap 'exit 143' TERM HUP INT
exec 3<&0
cap "$@" --video "$folder/range.mp4" </dev/null >&2 &
capture_pid=$!
( while read -r line <&3; do :; done; kill -TERM "$capture_pid" 2>/dev/null ) >/dev/null 2>&1 &
watch_pid=$!
wait "$capture_pid"
status=$?
kill "$watch_pid" 2>/dev/null
exec 3<&-
[ "$status" = 0 ] || exit "$status"
cat "$folder/range.mp4"
""".replace("MARK", MARK)

QUERY_SCRIPT = r"""
capture=$1
shift
printf 'cores %s\n' "$(nproc 2>/dev/null || getconf _NPROCESSORS_ONLN 2>/dev/null || echo 1)"
( eval "$capture"' "$@"' ) </dev/null
"""


def host_name(login):
    return f"{socket.gethostname()} (local)" if login == ":" else login


def host_command(options, login, script, arguments):
    """The argument vector that runs the script with its arguments on a host."""
    local = ["/bin/sh", "-c", script, "sh"] + arguments
    if login == ":":
        return local
    return options["ssh_words"] + [login, " ".join(shlex.quote(word) for word in local)]


def last_words(text):
    for line in reversed(text.replace("\r", "\n").split("\n")):
        line = line.strip()
        if line and not line.startswith(MARK):
            return line
    return ""


def query_host(options, login, settings):
    """The host's cores and fingerprint; demo-capture's own refusal of an
    option becomes the farm's, with status 2."""
    arguments = [options["capture"]] + settings + ["--fingerprint", "--video", options["probe_name"]]
    try:
        run = subprocess.run(host_command(options, login, QUERY_SCRIPT, arguments),
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise Failure(f"cannot ask {host_name(login)} for its film: {reason_of(error)}")
    out = run.stdout.decode("utf-8", "replace").splitlines()
    err = run.stderr.decode("utf-8", "replace")
    cores = 1
    if out and out[0].startswith("cores "):
        cores = int(out[0][6:]) if out[0][6:].isdigit() else 1
        out = out[1:]
    # demo-capture refuses an option with status 2, its sentence and a line
    # "(see demo-capture --help)"; a shell that cannot run it may say 2 too.
    if run.returncode == 2 and re.search(r"^\(see \S+ --help\)$", err, re.M):
        line = next((l for l in err.splitlines() if l.strip()), "")
        sentence = re.sub(r"^[^:\s]+: ", "", line)
        raise Failure(f"{sentence} (see {PROGRAM} --help)" if sentence else
                      f"the capture command refused the options (status 2) on {host_name(login)}", 2)
    if run.returncode != 0 or not out:
        said = last_words(err) or f"it ended with status {run.returncode} and said nothing"
        raise Failure(f"cannot run the capture command on {host_name(login)} "
                      f"({options['capture']}): {said}")
    return cores, out[-1].strip()


# ---------------------------------------------------------------------------
# Ranges and the manifest


class Range:
    def __init__(self, index, first, last):
        self.index = index
        self.first = first
        self.last = last
        self.name = f"range-{first:06d}-{last:06d}.mp4"
        self.tries = 0

    @property
    def frames(self):
        return self.last - self.first + 1

    @property
    def label(self):
        return f"{self.first}-{self.last}"


def probe_video(ffmpeg, path):
    """None when the video decodes whole, else the reason; and the frames."""
    try:
        run = subprocess.run([ffmpeg, "-hide_banner", "-nostdin", "-v", "error", "-xerror",
                              "-i", path, "-map", "0:v:0", "-f", "null", "-", "-progress", "pipe:1",
                              "-nostats"], stdin=subprocess.DEVNULL, capture_output=True)
    except OSError as error:
        return f"cannot run {ffmpeg}: {reason_of(error)}", 0
    frames = 0
    for line in run.stdout.decode("ascii", "replace").splitlines():
        if line.startswith("frame="):
            frames = int(line[6:]) if line[6:].strip().isdigit() else frames
    said = last_words(run.stderr.decode("utf-8", "replace"))
    if run.returncode != 0 or said:
        return f"it does not decode ({said or 'ffmpeg ended with status %d' % run.returncode})", frames
    return None, frames


class Farm:
    def __init__(self, options):
        self.options = options
        self.interrupted = None
        self.progress_shown = False
        self.on_failure = []
        self.tty = sys.stderr.isatty() or bool(os.environ.get("FARM_PROGRESS"))

    # -- setup

    def prepare(self):
        o = self.options
        output = o["output"]
        if output.endswith("/"):
            raise Failure(f"cannot use {output}: it names a folder, not a file")
        if os.path.lexists(output) and (os.path.islink(output) or not os.path.isfile(output)):
            raise Failure(f"cannot use {output}: it is not a regular file")
        folder = os.path.dirname(output) or "."
        self.output_name = os.path.basename(output)
        extension = os.path.splitext(self.output_name)[1]
        self.extension = extension
        # demo-capture is asked about a video of the same extension: a name
        # of its own, so that no option of the user's can be taken for it.
        o["probe_name"] = "range" + extension if len(extension) < 200 else "range.mp4"
        try:
            os.makedirs(folder, exist_ok=True)
        except OSError as error:
            raise Failure(f"cannot make the folder {folder}: {reason_of(error)}")
        self.output_folder = os.path.abspath(folder)
        self.output = os.path.join(self.output_folder, self.output_name)
        self.work = os.path.join(self.output_folder, ".skyward-farm", self.output_name)

    def ask_hosts(self):
        """Every host checks the options and names its film before anything is
        rendered or any state is touched."""
        o = self.options
        self.settings = ["--size", o["size"], "--fps", o["fps"]]
        answers = {}
        errors = []

        def ask(login):
            try:
                answers[login] = query_host(o, login, self.settings)
            except Failure as failure:
                errors.append(failure)

        threads = [threading.Thread(target=ask, args=(login,)) for login in o["logins"]]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        if errors:
            raise sorted(errors, key=lambda f: -f.status)[0]
        first = o["logins"][0]
        self.fingerprint = answers[first][1]
        for login in o["logins"][1:]:
            if answers[login][1] != self.fingerprint:
                # Refused rather than rendered: a host of another build would
                # render ranges that can never be joined, try after try.
                raise Failure(f"{host_name(login)} renders another film than {host_name(first)}: "
                              f"'{answers[login][1]}' against '{self.fingerprint}'; "
                              f"install the same build on every host")
        self.cores = {login: answers[login][0] for login in o["logins"]}
        match = re.search(r"\bframes=(\d+)\b", self.fingerprint)
        if not match:
            raise Failure(f"cannot read the film's frame count from the capture command's "
                          f"fingerprint '{self.fingerprint}' (is it demo-capture?)")
        self.frames = int(match.group(1))
        self.slots = {login: o["login_slots"].get(login) or o["jobs"] or self.cores[login]
                      for login in o["logins"]}
        ranges = o["ranges"] or 4 * sum(self.slots.values())
        self.count = min(ranges, self.frames)
        self.ranges = [Range(i, i * self.frames // self.count + 1,
                             (i + 1) * self.frames // self.count) for i in range(self.count)]

    def check_container(self):
        """The output's container takes H.264, as ffmpeg chooses it from the
        extension (MP4 without one)."""
        if not self.extension:
            self.container = ["-f", "mp4"]
            return
        self.container = []
        # A one-frame video under the same extension, in a folder of its own
        # in the work folder (removed with it when the name is refused).
        folder = os.path.join(self.work, "container")
        try:
            os.makedirs(folder, exist_ok=True)
        except OSError as error:
            raise Failure(f"cannot make the folder {folder}: {reason_of(error)}")
        probe = os.path.join(folder, "probe" + self.extension if len(self.extension) < 100
                             else "probe.x")
        try:
            run = subprocess.run([self.options["ffmpeg"], "-hide_banner", "-nostdin", "-v", "error",
                                  "-y", "-f", "lavfi", "-i", "color=size=16x16:rate=1:duration=1",
                                  "-frames:v", "1", "-c:v", "libx264", "-pix_fmt", "yuv420p",
                                  probe], stdin=subprocess.DEVNULL, capture_output=True)
        except OSError as error:
            raise Failure(f"cannot run {self.options['ffmpeg']}: {reason_of(error)}")
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        if run.returncode != 0:
            said = last_words(run.stderr.decode("utf-8", "replace"))
            raise Failure(f"cannot write a video named {self.output_name}: ffmpeg cannot write "
                          f"H.264 in a '{self.extension}' file ({said}); name it .mp4, .mkv or .mov")

    def open_work(self):
        try:
            os.makedirs(self.work, exist_ok=True)
        except OSError as error:
            raise Failure(f"cannot make the folder {self.work}: {reason_of(error)}")
        self.lock = WorkLock(self.work)
        for sub in ("incoming", "set-aside", "logs"):
            try:
                os.makedirs(os.path.join(self.work, sub), exist_ok=True)
            except OSError as error:
                raise Failure(f"cannot make the folder {os.path.join(self.work, sub)}: "
                              f"{reason_of(error)}")
        # What a stopped worker left: partial files of no run.
        for entry in os.listdir(os.path.join(self.work, "incoming")):
            try:
                os.unlink(os.path.join(self.work, "incoming", entry))
            except OSError:
                pass
        for entry in os.listdir(self.work):
            if entry.startswith(".tmp-"):
                try:
                    os.unlink(os.path.join(self.work, entry))
                except OSError:
                    pass

    # -- the manifest

    def manifest_path(self):
        return os.path.join(self.work, "manifest.json")

    def read_manifest(self):
        try:
            with open(self.manifest_path(), encoding="utf-8") as file:
                manifest = json.load(file)
            if not isinstance(manifest, dict) or not isinstance(manifest.get("ranges"), dict):
                raise ValueError("not a manifest")
            return manifest
        except FileNotFoundError:
            return None
        except (OSError, ValueError) as error:
            say(f"cannot read {self.manifest_path()} ({reason_of(error)}); its ranges are checked again")
            return None

    def write_manifest(self):
        write_atomically(self.manifest_path(), json.dumps(self.manifest, indent=1, sort_keys=True) + "\n")

    def set_aside(self, name, why):
        source = os.path.join(self.work, name)
        say(f"{name} {why}; set aside in {os.path.join(self.work, 'set-aside')}, rendering it again")
        try:
            os.replace(source, os.path.join(self.work, "set-aside", name))
        except FileNotFoundError:
            pass
        except OSError as error:
            raise Failure(f"cannot set {source} aside: {reason_of(error)}")
        if self.manifest["ranges"].pop(name, None) is not None:
            self.write_manifest()

    def settings_text(self):
        return f"size={self.options['size']} fps={self.options['fps']} ranges={self.count} frames={self.frames}"

    def resume(self):
        """Keeps the ranges whose fingerprint is the run's and whose digest is
        the one recorded; sets every other range file aside."""
        old = self.read_manifest()
        if old is not None and old.get("settings") not in (None, self.settings_text()):
            raise Failure(f"cannot use {self.work}: it holds ranges of another capture "
                          f"({old.get('settings')}); remove it or give the same settings")
        self.manifest = {"settings": self.settings_text(), "fingerprint": self.fingerprint,
                         "ranges": {}}
        recorded = old["ranges"] if old else {}
        planned = {r.name: r for r in self.ranges}
        self.todo = []
        for entry in sorted(os.listdir(self.work)):
            if entry.startswith("range-") and entry not in planned:
                self.set_aside(entry, "is not a range of this run")
        for r in self.ranges:
            path = os.path.join(self.work, r.name)
            record = recorded.get(r.name)
            if not os.path.exists(path):
                self.todo.append(r)
                continue
            if not isinstance(record, dict):
                self.set_aside(r.name, "was never checked (no digest recorded)")
            elif record.get("fingerprint") != self.fingerprint:
                self.set_aside(r.name, f"was rendered by another build on {record.get('host')} "
                               f"('{record.get('fingerprint')}', not '{self.fingerprint}')")
            elif sha256_of(path) != record.get("sha256"):
                self.set_aside(r.name, "is not the file that was checked (its SHA-256 has changed)")
            else:
                self.manifest["ranges"][r.name] = record
                continue
            self.todo.append(r)
        self.write_manifest()
        self.done_before = self.count - len(self.todo)
        self.missing_frames = sum(r.frames for r in self.todo)

    # -- progress

    def progress(self, final=False):
        if not (self.tty or final):
            return
        done = [r for r in self.ranges if r.name in self.manifest["ranges"]]
        done_frames = sum(r.frames for r in done)
        new_frames = done_frames - (self.frames - self.missing_frames)
        elapsed = time.monotonic() - self.start
        rate = new_frames / elapsed if elapsed > 0 else 0
        left = "?"
        if rate > 0:
            seconds = int((self.frames - done_frames) / rate + 0.5)
            left = (f"{seconds // 3600}:{seconds // 60 % 60:02d}:{seconds % 60:02d}" if seconds >= 3600
                    else f"{seconds // 60}:{seconds % 60:02d}")
        sys.stderr.write(f"\r{PROGRAM}: {len(done)}/{self.count} ranges  {done_frames}/{self.frames} "
                         f"frames  {rate:.2f} frames/s  {left} left ")
        if final:
            sys.stderr.write("\n")
        sys.stderr.flush()
        self.progress_shown = not final

    def end_progress(self):
        if self.progress_shown:
            sys.stderr.write("\n")
            sys.stderr.flush()
            self.progress_shown = False

    # -- checks of a range that arrived

    def accept(self, r, incoming, host, fingerprint):
        """None when the range is this film, decodes whole and is recorded;
        else why not (the file is then set aside)."""
        if fingerprint != self.fingerprint:
            why = (f"was rendered by another build on {host} ('{fingerprint or 'none said'}', "
                   f"not '{self.fingerprint}')")
        else:
            why, frames = probe_video(self.options["ffmpeg"], incoming)
            if why is None and frames != r.frames:
                why = f"has {frames} frames, not {r.frames}"
        if why is not None:
            try:
                os.replace(incoming, os.path.join(self.work, "set-aside", r.name))
            except OSError:
                pass
            return why
        digest = sha256_of(incoming)
        final = os.path.join(self.work, r.name)
        try:
            with open(incoming, "rb") as file:
                os.fsync(file.fileno())
            os.replace(incoming, final)
        except OSError as error:
            raise Failure(f"cannot keep {final}: {reason_of(error)}")
        self.manifest["ranges"][r.name] = {"sha256": digest, "fingerprint": fingerprint,
                                           "host": host, "frames": r.frames}
        self.write_manifest()
        return None

    # -- rendering on local and ssh hosts

    def render(self):
        o = self.options
        pending = list(self.todo)
        running = {}  # Popen -> (range, login, log path, video path, stdout file)
        checking = {}  # future -> (range, login)
        busy = {login: 0 for login in o["logins"]}
        pool = ThreadPoolExecutor(max_workers=4)
        last_progress = 0.0
        failure = None
        slots_used = {login: set() for login in o["logins"]}

        def free_slot(login):
            slot = next(i for i in range(self.slots[login] + 1) if i not in slots_used[login])
            slots_used[login].add(slot)
            return slot
        try:
            while pending or running or checking:
                if self.interrupted:
                    raise self.interrupted
                while pending and failure is None:
                    login = next((l for l in o["logins"] if busy[l] < self.slots[l]), None)
                    if login is None:
                        break
                    r = pending.pop(0)
                    r.tries += 1
                    process = self.start_worker(r, login, free_slot(login))
                    running[process] = r
                    busy[login] += 1
                for process in list(running):
                    if process.poll() is None:
                        continue
                    r = running.pop(process)
                    busy[process.farm_login] -= 1
                    slots_used[process.farm_login].discard(process.farm_slot)
                    process.farm_stdout.close()
                    log_text = self.read_log(process.farm_log)
                    fingerprint = next((l[len(MARK):].strip() for l in log_text.splitlines()
                                        if l.startswith(MARK)), "")
                    host = host_name(process.farm_login)
                    if process.returncode != 0:
                        said = last_words(log_text) or (
                            f"the capture command ended with status {process.returncode}")
                        if process.farm_login != ":" and process.returncode == 255 and not fingerprint:
                            said = f"cannot reach the host: {said}"
                        if r.tries < o["retries"]:
                            pending.insert(0, r)
                        elif failure is None:
                            failure = Failure(f"cannot render frames {r.label} on {host}: {said} "
                                              f"(after {r.tries} tries; rendered ranges are kept "
                                              f"in {self.work})")
                        continue
                    checking[pool.submit(self.accept, r, process.farm_video, host, fingerprint)] = (r, host)
                for r, host, why in self.refused_ranges(checking):
                    if r.tries < o["retries"]:
                        pending.insert(0, r)
                    elif failure is None:
                        failure = Failure(f"cannot render frames {r.label} on {host}: the range {why} "
                                          f"(after {r.tries} tries)")
                if failure is not None and running:
                    # No other range starts; those running are stopped.
                    for process in running:
                        self.stop_worker(process)
                if failure is not None and not running and not checking:
                    raise failure
                now = time.monotonic()
                if now - last_progress >= 1:
                    self.progress()
                    last_progress = now
                time.sleep(0.05)
        finally:
            for process in running:
                self.stop_worker(process)
            for process in running:
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
            pool.shutdown(wait=True)
            self.end_progress()

    def refused_ranges(self, checking):
        """The ranges whose checks (accept, run in the pool) have ended with a
        reason to refuse them, each named in one line; the checks that ended
        leave `checking`, a map of future to (range, host)."""
        refused = []
        for future in [f for f in checking if f.done()]:
            r, host = checking.pop(future)
            why = future.result()
            if why is not None:
                say(f"{r.name} (frames {r.label}) from {host} {why}; set aside, rendering it again")
                refused.append((r, host, why))
        return refused

    def read_log(self, path):
        try:
            with open(path, "rb") as file:
                return file.read().decode("utf-8", "replace")
        except OSError:
            return ""

    def start_worker(self, r, login, slot):
        o = self.options
        log = os.path.join(self.work, "logs", r.name[:-4] + ".log")
        video = os.path.join(self.work, "incoming", r.name)
        arguments = [o["capture"], video if login == ":" else "-", "--frames", r.label] + self.settings
        try:
            log_file = open(log, "wb")
            stdout = open(video, "wb") if login != ":" else open(os.devnull, "wb")
        except OSError as error:
            raise Failure(f"cannot write {log}: {reason_of(error)}")
        try:
            # A remote worker reads its input until the farm ends: the pipe's
            # write end stays here.
            command = host_command(o, login, WORKER_SCRIPT, arguments)
            if login == ":" and os.environ.get("FARM_PIN"):
                # The benchmark's one core per job slot (scripts/bench.sh farm).
                command = ["taskset", "-c", str(slot % (os.cpu_count() or 1))] + command
            process = subprocess.Popen(command,
                                       stdin=subprocess.PIPE if login != ":" else subprocess.DEVNULL,
                                       stdout=stdout, stderr=log_file, preexec_fn=self.watcher.join())
        except OSError as error:
            raise Failure(f"cannot start a worker for {host_name(login)}: {reason_of(error)}")
        finally:
            log_file.close()
        process.farm_login = login
        process.farm_slot = slot
        process.farm_log = log
        process.farm_video = video
        process.farm_stdout = stdout
        return process

    def stop_worker(self, process):
        try:
            process.terminate()
        except OSError:
            pass
        if process.stdin:
            try:
                process.stdin.close()
            except OSError:
                pass

    # -- the join

    def check_digests(self):
        """The digests again, just before the join: a range changed since it
        was checked is set aside and rendered again."""
        bad = []
        for r in self.ranges:
            record = self.manifest["ranges"].get(r.name)
            path = os.path.join(self.work, r.name)
            try:
                ok = record is not None and sha256_of(path) == record["sha256"]
            except OSError:
                ok = False
            if not ok:
                if os.path.exists(path):
                    self.set_aside(r.name, "has changed since it was checked (its SHA-256 is not the one recorded)")
                else:
                    say(f"{r.name} is missing; rendering it again")
                    self.manifest["ranges"].pop(r.name, None)
                    self.write_manifest()
                bad.append(r)
        return bad

    def join(self):
        o = self.options
        listing = "".join(f"file '{r.name}'\n" for r in self.ranges)
        list_path = os.path.join(self.work, "list.txt")
        write_atomically(list_path, listing)
        joined = os.path.join(self.work, "joined" + (self.extension if len(self.extension) < 100 else ""))
        arguments = [o["ffmpeg"], "-hide_banner", "-nostdin", "-loglevel", "error", "-xerror", "-y",
                     "-f", "concat", "-safe", "0", "-i", list_path, "-c", "copy"]
        if self.extension.lower() in ("", ".mp4", ".mov"):
            arguments += ["-movflags", "+faststart"]
        arguments += self.container + [joined]
        try:
            run = subprocess.run(arguments, stdin=subprocess.DEVNULL, capture_output=True)
        except OSError as error:
            raise Failure(f"cannot run {o['ffmpeg']}: {reason_of(error)}")
        if run.returncode != 0:
            try:
                os.unlink(joined)
            except OSError:
                pass
            said = last_words(run.stderr.decode("utf-8", "replace")) or f"ffmpeg ended with status {run.returncode}"
            raise Failure(f"cannot join the ranges into {self.output}: {said} (the ranges are kept in {self.work})")
        try:
            run = subprocess.run([o["ffprobe"], "-v", "error", "-select_streams", "v:0", "-count_packets",
                                  "-show_entries", "stream=nb_read_packets:format=duration",
                                  "-of", "default=nw=1:nk=1", joined], stdin=subprocess.DEVNULL,
                                 capture_output=True)
        except OSError as error:
            raise Failure(f"cannot run {o['ffprobe']}: {reason_of(error)}")
        words = run.stdout.decode("ascii", "replace").split()
        fps = float(o["fps"])
        ok = len(words) == 2 and words[0] == str(self.frames)
        try:
            duration = float(words[1]) if len(words) == 2 else -1
        except ValueError:
            duration = -1
        ok = ok and abs(duration - self.frames / fps) < 0.5 / fps
        if not ok:
            os.unlink(joined)
            raise Failure(f"cannot use the joined video: {words[0] if words else 'no'} frames and "
                          f"{words[1] if len(words) > 1 else 'no'} s instead of {self.frames} frames and "
                          f"{self.frames / fps:g} s; {self.output} not written")
        if os.path.lexists(self.output) and (os.path.islink(self.output) or not os.path.isfile(self.output)):
            raise Failure(f"cannot use {self.output}: it is not a regular file")
        try:
            with open(joined, "rb") as file:
                os.fsync(file.fileno())
            os.replace(joined, self.output)
            fsync_folder(self.output_folder)
        except OSError as error:
            raise Failure(f"cannot rename the joined video to {self.output}: {reason_of(error)}")
        self.duration = duration

    def clean_up(self):
        for root, folders, files in os.walk(self.work, topdown=False):
            for name in files:
                if not (root == self.work and name == "lock"):
                    try:
                        os.unlink(os.path.join(root, name))
                    except OSError:
                        pass
            for name in folders:
                try:
                    os.rmdir(os.path.join(root, name))
                except OSError:
                    pass
        try:
            os.unlink(os.path.join(self.work, "lock"))
        except OSError:
            pass
        self.lock.release()
        for folder in (self.work, os.path.dirname(self.work)):
            try:
                os.rmdir(folder)
            except OSError:
                pass

    def save_run(self):
        """What the Slurm join job needs to join this run's ranges."""
        saved = {"options": {k: v for k, v in self.options.items()},
                 "fingerprint": self.fingerprint, "frames": self.frames, "settings": self.settings,
                 "ranges": [[r.first, r.last] for r in self.ranges]}
        saved["options"]["output"] = self.output
        write_atomically(os.path.join(self.work, "slurm", "run.json"), json.dumps(saved, indent=1) + "\n")

    # -- the run

    def run(self):
        o = self.options
        self.prepare()
        self.ask_hosts()
        self.watcher = Watcher()
        made_work = not os.path.exists(self.work)
        self.open_work()
        if o["slurm"]:
            Slurm(self).earlier_jobs()
        try:
            self.check_container()
        except Failure:
            # A refused name leaves nothing beside the output.
            if made_work:
                self.clean_up()
            raise
        self.resume()
        where = ", ".join(host_name(l) for l in o["logins"]) if not o["slurm"] else "Slurm"
        if o["slurm"]:
            at_once = f"{o['jobs'] or 'as many as Slurm allows'} at once"
        else:
            at_once = f"{o['jobs'] or 'one per core'} at once each"
        say(f"{self.frames} frames of {o['size']} at {o['fps']} fps in {self.count} ranges on {where} "
            f"({at_once}); {self.done_before} ranges already rendered, {len(self.todo)} to render")
        self.start = time.monotonic()
        if o["slurm"]:
            slurm = Slurm(self)
            if slurm.run():
                if o["no_wait"]:
                    return
                self.clean_up()
                try:
                    os.unlink(os.path.join(os.path.dirname(self.work), f"join-{slurm.join_job}.log"))
                    os.rmdir(os.path.dirname(self.work))
                except OSError:
                    pass
                say(f"{self.joined_by}; rendering and checking took {self.rendered_at - self.start:.1f} s, "
                    f"the join {time.monotonic() - self.rendered_at:.1f} s")
                return
        while True:
            if self.todo:
                self.render()
                self.progress(final=True)
            rendered = time.monotonic()
            self.todo = self.check_digests()
            if not self.todo:
                break
            self.missing_frames = sum(r.frames for r in self.todo)
        self.join()
        self.clean_up()
        say(f"wrote {self.output} ({self.frames} frames, {self.duration:g} s); rendering took "
            f"{rendered - self.start:.1f} s, joining and checking {time.monotonic() - rendered:.1f} s")


# ---------------------------------------------------------------------------
# Slurm: the ranges as one job array, the join as a job that depends on it

# One array task: the range of line SLURM_ARRAY_TASK_ID + 1 of slurm/ranges,
# rendered by the worker script into incoming/ of the shared work folder; its
# messages in logs/NAME.log; at its end slurm/status/NAME says its status and
# node (written whole: a temporary name, then a rename).
TASK_SCRIPT = r"""#!/bin/sh
work=$1 capture=$2
shift 2
set -f
line=$(sed -n "$((SLURM_ARRAY_TASK_ID + 1))p" "$work/slurm/ranges")
set -- $line "$@"
first=$1 last=$2 name=$3
shift 3
node=$(uname -n)
log="$work/logs/${name%.mp4}.log"
sh -c "$(cat "$work/slurm/worker.sh")" worker "$capture" "$work/incoming/$name" \
  --frames "$first-$last" "$@" 2>"$log"
status=$?
printf '%s %s\n' "$status" "$node" >"$work/slurm/status/.$name.$$" &&
  mv -f "$work/slurm/status/.$name.$$" "$work/slurm/status/$name"
exit "$status"
"""

LIVE_STATES = {"PENDING", "RUNNING", "COMPLETING", "CONFIGURING", "SUSPENDED", "REQUEUED",
               "RESIZING", "SIGNALING", "STAGE_OUT"}


class Slurm:
    def __init__(self, farm):
        self.farm = farm
        self.o = farm.options
        self.folder = os.path.join(farm.work, "slurm")
        self.jobs = []

    def command(self, arguments, what):
        try:
            run = subprocess.run(arguments, stdin=subprocess.DEVNULL, capture_output=True, timeout=120,
                                 preexec_fn=self.farm.watcher.join())
        except (OSError, subprocess.TimeoutExpired) as error:
            raise Failure(f"cannot {what}: {arguments[0]}: {reason_of(error)}")
        if run.returncode != 0:
            said = last_words(run.stderr.decode("utf-8", "replace")) or f"status {run.returncode}"
            raise Failure(f"cannot {what}: {said}")
        return run.stdout.decode("utf-8", "replace")

    def states(self, jobs):
        """{'ID' or 'ID_TASK': (state, node)} of the jobs, finished ones too."""
        try:
            text = self.command(["squeue", "--noheader", "--states=all", "--array",
                                 "--format=%i|%T|%N", "--jobs=" + ",".join(jobs)], "ask Slurm (squeue)")
        except Failure:
            return None
        result = {}
        for line in text.splitlines():
            parts = line.strip().split("|")
            if len(parts) == 3:
                result[parts[0]] = (parts[1], parts[2])
        return result

    def earlier_jobs(self):
        """Refuses to start while Slurm jobs of an earlier run (--no-wait) of
        this output are still queued or running."""
        path = os.path.join(self.folder, "jobs")
        try:
            with open(path, encoding="utf-8") as file:
                jobs = file.read().split()
        except OSError:
            return
        if not jobs:
            return
        states = self.states(jobs)
        if states is None:
            raise Failure(f"cannot use {self.farm.work}: cannot ask Slurm whether jobs "
                          f"{', '.join(jobs)} of an earlier run have ended (squeue failed)")
        live = sorted({key.split("_")[0] for key, (state, _) in states.items() if state in LIVE_STATES})
        if live:
            raise Failure(f"cannot use {self.farm.work}: Slurm jobs {', '.join(live)} of an earlier run "
                          f"are still queued or running; wait for them (squeue -j {','.join(live)}) "
                          f"or cancel them (scancel {' '.join(live)})")

    def sbatch_common(self):
        words = []
        if self.o["partition"]:
            words.append("--partition=" + self.o["partition"])
        if self.o["time"]:
            words.append("--time=" + self.o["time"])
        return words + self.o["sbatch_words"]

    def submit(self, ranges, with_join):
        farm = self.farm
        for sub in ("status",):
            os.makedirs(os.path.join(self.folder, sub), exist_ok=True)
        write_atomically(os.path.join(self.folder, "ranges"),
                         "".join(f"{r.first} {r.last} {r.name}\n" for r in farm.ranges))
        write_atomically(os.path.join(self.folder, "worker.sh"), WORKER_SCRIPT)
        write_atomically(os.path.join(self.folder, "task.sh"), TASK_SCRIPT)
        for r in ranges:
            for stale in (os.path.join(self.folder, "status", r.name), os.path.join(farm.work, "incoming", r.name)):
                try:
                    os.unlink(stale)
                except OSError:
                    pass
        indexes = ",".join(str(r.index) for r in ranges)
        cap = f"%{self.o['jobs']}" if self.o["jobs"] else ""
        array = self.command(["sbatch", "--parsable", "--job-name=skyward-farm", f"--array={indexes}{cap}",
                              "--output=" + os.path.join(farm.work, "logs", "slurm-%A_%a.log"),
                              "--chdir=" + farm.work] + self.sbatch_common() +
                             [os.path.join(self.folder, "task.sh"), farm.work, self.o["capture"]] +
                             farm.settings, "submit the ranges (sbatch)").strip().split(";")[0]
        self.jobs.append(array)
        self.save_jobs()
        for r in ranges:
            r.job = array
        if not with_join:
            return array, None
        farm_program = os.path.realpath(__file__)
        join_command = " ".join(shlex.quote(word) for word in
                                ["exec", sys.executable or "/usr/bin/python3", farm_program,
                                 "--slurm-join", farm.work, "--run", farm.run_id])
        join = self.command(["sbatch", "--parsable", "--job-name=skyward-farm-join",
                             f"--dependency=afterok:{array}", "--kill-on-invalid-dep=yes",
                             "--output=" + os.path.join(os.path.dirname(farm.work), "join-%j.log"),
                             "--chdir=" + farm.work] + self.sbatch_common() + ["--wrap", join_command],
                            "submit the join (sbatch)").strip().split(";")[0]
        self.jobs.append(join)
        self.join_job = join
        self.save_jobs()
        return array, join

    def save_jobs(self):
        write_atomically(os.path.join(self.folder, "jobs"), " ".join(self.jobs) + "\n")

    def cancel(self):
        if self.jobs and not getattr(self, "cancelled", False):
            self.cancelled = True
            try:
                subprocess.run(["scancel"] + self.jobs, stdin=subprocess.DEVNULL, capture_output=True,
                               timeout=60)
            except (OSError, subprocess.TimeoutExpired):
                pass
            self.farm.cancel_note = f"; cancelled Slurm jobs {' '.join(self.jobs)}"

    def status_of(self, r):
        try:
            with open(os.path.join(self.folder, "status", r.name), encoding="utf-8") as file:
                words = file.read().split()
            return int(words[0]), words[1] if len(words) > 1 else "?"
        except (OSError, ValueError, IndexError):
            return None

    def run(self):
        farm = self.farm
        os.makedirs(os.path.join(self.folder, "status"), exist_ok=True)
        farm.run_id = f"{os.getpid()}-{int(time.time())}"
        farm.save_run()
        if not farm.todo:
            # Every range is here and checked: the join, here.
            return False
        array, join = self.submit(farm.todo, with_join=True)
        if self.o["no_wait"]:
            farm.lock.name(f"run {farm.run_id}: Slurm jobs {array} and {join} (--no-wait)")
            say(f"submitted the ranges as job array {array} and the join as job {join}; the join writes "
                f"{farm.output} (its log: {os.path.join(os.path.dirname(farm.work), f'join-{join}.log')}); "
                f"squeue -j {array},{join} shows them, scancel {array} {join} cancels them")
            print(f"{array} {join}")
            farm.lock.release()
            return True
        farm.lock.name(f"pid {os.getpid()} on {socket.gethostname()}, run {farm.run_id}: "
                       f"Slurm jobs {array} and {join}")
        farm.on_failure.append(self.cancel)
        say(f"submitted the ranges as job array {array} and the join as job {join}")
        self.wait()
        return True

    def fail_task(self, r, node, why):
        log = os.path.join(self.farm.work, "logs", r.name[:-4] + ".log")
        said = last_words(self.farm.read_log(log)) or why
        self.cancel()
        self.farm.cancel_note = ""
        raise Failure(f"cannot render frames {r.label} on {node}: {said} (its log: {log}; "
                      f"cancelled jobs {' '.join(self.jobs)}; rendered ranges are kept in {self.farm.work})")

    def wait(self):
        farm = self.farm
        pool = ThreadPoolExecutor(max_workers=4)
        waiting = {r.name: r for r in farm.todo}
        checking = {}
        last_progress = last_ask = 0.0
        verified = False
        try:
            while True:
                if farm.interrupted:
                    self.cancel()
                    raise farm.interrupted
                for name, r in list(waiting.items()):
                    status = self.status_of(r)
                    if status is None:
                        continue
                    del waiting[name]
                    code, node = status
                    if code != 0:
                        self.fail_task(r, node, f"the task ended with status {code}")
                    log = farm.read_log(os.path.join(farm.work, "logs", r.name[:-4] + ".log"))
                    fingerprint = next((l[len(MARK):].strip() for l in log.splitlines() if l.startswith(MARK)), "")
                    incoming = os.path.join(farm.work, "incoming", r.name)
                    checking[pool.submit(farm.accept, r, incoming, node, fingerprint)] = (r, node)
                for r, node, why in farm.refused_ranges(checking):
                    r.tries += 1
                    if r.tries >= self.o["retries"]:
                        self.cancel()
                        raise Failure(f"cannot render frames {r.label} on {node}: the range {why} "
                                      f"(after {r.tries} tries)")
                    self.submit([r], with_join=False)
                    waiting[r.name] = r
                now = time.monotonic()
                if now - last_ask >= 3:
                    last_ask = now
                    self.check_jobs(waiting)
                if not waiting and not checking and not verified:
                    bad = farm.check_digests()
                    if bad:
                        self.submit(bad, with_join=False)
                        waiting.update({r.name: r for r in bad})
                    else:
                        farm.progress(final=True)
                        farm.rendered_at = time.monotonic()
                        write_atomically(os.path.join(self.folder, "verified"), farm.run_id + "\n")
                        verified = True
                if verified:
                    result = self.join_result()
                    if result is not None:
                        return result
                if now - last_progress >= 1 and not verified:
                    farm.progress()
                    last_progress = now
                time.sleep(0.2)
        finally:
            pool.shutdown(wait=True)
            farm.end_progress()

    def check_jobs(self, waiting):
        """A task that ended without a status file (cancelled, out of time, its
        node lost) or a join job that ended without a result ends the run."""
        states = self.states(self.jobs)
        if states is None:
            return
        for r in list(waiting.values()):
            key = f"{getattr(r, 'job', '')}_{r.index}"
            state, node = states.get(key, (None, None))
            if state and state not in LIVE_STATES and self.status_of(r) is None:
                time.sleep(1)  # the status file may be on its way over NFS
                if self.status_of(r) is None:
                    self.fail_task(r, node or "?", f"the task ended {state} without a word")
        state, node = states.get(self.join_job, (None, None))
        if state and state not in LIVE_STATES and not os.path.exists(os.path.join(self.folder, "result")):
            time.sleep(1)
            if not os.path.exists(os.path.join(self.folder, "result")):
                log = os.path.join(os.path.dirname(self.farm.work), f"join-{self.join_job}.log")
                self.cancel()
                raise Failure(f"cannot join the ranges: the join job {self.join_job} ended {state} on "
                              f"{node or '?'}: {last_words(self.farm.read_log(log)) or 'no word'} (its log: {log})")

    def join_result(self):
        try:
            with open(os.path.join(self.folder, "result"), encoding="utf-8") as file:
                text = file.read()
        except OSError:
            return None
        if not text.endswith("\n"):
            return None
        status, _, said = text.strip().partition(" ")
        if status != "0":
            raise Failure(said)
        self.farm.joined_by = said
        return True


def join_job(argv):
    """--slurm-join WORK --run ID: the join job. While the farm of its run
    waits (it holds the lock), it waits for the farm's word that every range is
    checked; otherwise (--no-wait, or the farm is gone) it takes the lock and
    checks the ranges itself. Then it joins, and says how it went in
    slurm/result."""
    work, run_id = argv[1], argv[3]
    result_path = os.path.join(work, "slurm", "result")
    try:
        with open(os.path.join(work, "slurm", "run.json"), encoding="utf-8") as file:
            saved = json.load(file)
    except (OSError, ValueError) as error:
        say(f"cannot read {os.path.join(work, 'slurm', 'run.json')}: {reason_of(error)}")
        return 1
    farm = Farm(saved["options"])
    try:
        farm.prepare()
        farm.fingerprint = saved["fingerprint"]
        farm.frames = saved["frames"]
        farm.count = len(saved["ranges"])
        farm.ranges = [Range(i, first, last) for i, (first, last) in enumerate(saved["ranges"])]
        farm.settings = saved["settings"]
        farm.check_container_quietly = True
        farm.extension = os.path.splitext(farm.output_name)[1]
        farm.container = ["-f", "mp4"] if not farm.extension else []
        farm.lock = None
        waited_for_farm = False
        while farm.lock is None:
            try:
                farm.lock = WorkLock(work)
            except Failure as failure:
                if f"run {run_id}" not in str(failure):
                    raise
                waited_for_farm = True
                if os.path.exists(os.path.join(work, "slurm", "verified")):
                    break
                time.sleep(2)
        farm.manifest = farm.read_manifest() or {"ranges": {}}
        if farm.lock is not None:
            # Nobody checked the ranges that arrived: checked here, as the
            # farm would.
            for r in farm.ranges:
                if r.name in farm.manifest["ranges"]:
                    continue
                incoming = os.path.join(work, "incoming", r.name)
                log = farm.read_log(os.path.join(work, "logs", r.name[:-4] + ".log"))
                fingerprint = next((l[len(MARK):].strip() for l in log.splitlines() if l.startswith(MARK)), "")
                why = farm.accept(r, incoming, socket.gethostname(), fingerprint) if os.path.exists(incoming) \
                    else "is missing"
                if why is not None:
                    raise Failure(f"{r.name} (frames {r.label}) {why}; run the same skyward-farm command "
                                  f"again to render it again")
        bad = farm.check_digests()
        if bad:
            raise Failure(f"{', '.join(r.name for r in bad)} changed since checked; run the same "
                          f"skyward-farm command again to render them again")
        farm.join()
        said = f"wrote {farm.output} ({farm.frames} frames, {farm.duration:g} s) in job {os.environ.get('SLURM_JOB_ID', '?')}"
        if farm.lock is not None and not waited_for_farm:
            farm.clean_up()
        else:
            write_atomically(result_path, "0 " + said + "\n")
        say(said)
        return 0
    except Failure as failure:
        try:
            write_atomically(result_path, f"1 {failure}\n")
        except Failure:
            pass
        say(str(failure))
        return failure.status


def main():
    farm = None
    if sys.argv[1:2] == ["--slurm-join"] and len(sys.argv) == 5 and sys.argv[3] == "--run":
        return join_job(sys.argv[1:])
    try:
        options = parse_options(sys.argv[1:])
        farm = Farm(options)

        def on_signal(number, frame):
            signal.signal(number, signal.SIG_IGN)
            name = signal.Signals(number).name
            failure = Failure(f"interrupted by {name}; the ranges rendered so far are kept in "
                              f"{getattr(farm, 'work', 'the work folder')} for the next run", 128 + number)
            if farm.interrupted is None:
                farm.interrupted = failure
            raise failure

        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(number, on_signal)
        farm.run()
        return 0
    except OSError as error:
        # What no step foresaw (a folder gone, a disk full): said, not a
        # traceback.
        say(f"cannot go on: {error.filename + ': ' if error.filename else ''}{reason_of(error)}")
        return 1
    except Failure as failure:
        if farm is not None:
            farm.end_progress()
            for hook in getattr(farm, "on_failure", []):
                hook()
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(number, signal.SIG_IGN)
        if farm is not None and getattr(farm, "watcher", None):
            farm.watcher.end()
        note = getattr(farm, "cancel_note", "")
        say(str(failure) + (note if note and note[2:] not in str(failure) else ""))
        return failure.status
    finally:
        if farm is not None and getattr(farm, "watcher", None):
            farm.watcher.end()


if __name__ == "__main__":
    sys.exit(main())
