#!/usr/bin/env python3
"""A journal program's side of the window bus: starts ravlek for a patient, prints every
message it receives, and ends with ravlek's exit code.

    host.py [argument for ravlek...]        for example: host.py PNR=4711 OUTDIR=/srv/xray/

Each message is printed as "<name> wParam=<n> lParam=<n>", an activation request as
"activation request". RAVLEK_PROGRAM names the ravlek executable (default: ravlek on the PATH).
SIGTERM, SIGINT and SIGHUP are passed on to ravlek; the host ends when ravlek has ended.
"""

import errno, fcntl, json, os, random, select, signal, socket, struct, subprocess, sys, time

REQUEST = struct.Struct("<4sIIIqq")   # 32 bytes
REPLY = struct.Struct("<4sIq")        # 16 bytes
KIND_MESSAGE, KIND_ACTIVATE = 1, 2
HANDLED, REFUSED = 0, 1

def bus_folder():
    runtime = os.environ.get("XDG_RUNTIME_DIR", "")
    if os.path.isabs(runtime):        # a relative XDG path is ignored, as the XDG rules say
        folder = os.path.join(runtime, "kelvo-bus")
    else:
        folder = f"/tmp/kelvo-bus-{os.getuid()}"
    try:
        os.mkdir(folder, 0o700)
    except FileExistsError:
        pass
    info = os.lstat(folder)           # in /tmp anybody could have planted it
    if not os.path.isdir(folder) or os.path.islink(folder) or info.st_uid != os.getuid():
        raise PermissionError(f"{folder} is not a folder of this user")
    os.chmod(folder, 0o700)
    return folder

def read_table(content):
    complete = content[: content.rfind(b"\n") + 1]   # a piece without line feed is ignored
    table = {}
    for line in complete.decode("utf-8").split("\n"):
        number, _, name = line.partition(" ")
        if number.isdigit() and 0xC000 <= int(number) <= 0xFFFF and name:
            table[int(number)] = name
    return table, len(complete)

def register_message(folder, name):
    fd = os.open(os.path.join(folder, "messages"), os.O_RDWR | os.O_CREAT, 0o600)
    with open(fd, "r+b") as f:
        fcntl.flock(f, fcntl.LOCK_EX)
        table, complete = read_table(f.read())
        for number, known in table.items():
            if known.casefold() == name.casefold():
                return number
        number = max(table, default=0xC000 - 1) + 1
        if number > 0xFFFF:
            return 0
        f.seek(complete)
        f.truncate()
        f.write(f"{number} {name}\n".encode("utf-8"))
        return number

def message_name(folder, number):
    with open(os.path.join(folder, "messages"), "rb") as f:
        fcntl.flock(f, fcntl.LOCK_SH)
        return read_table(f.read())[0].get(number, str(number))

def register_window(folder, class_name, title):
    while True:
        handle = random.randint(0x10000, 0x7FFFFFFE)
        server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            server.bind(os.path.join(folder, f"{handle}.sock"))
            break
        except OSError as e:
            server.close()
            if e.errno != errno.EADDRINUSE:
                raise
    server.listen()
    entry = {"handle": handle, "class": class_name, "title": title,
             "pid": os.getpid(), "activated": time.time_ns() // 1000}
    temporary = os.path.join(folder, f".{handle}.window.tmp")
    with open(temporary, "w", encoding="utf-8") as f:
        json.dump(entry, f)
    os.rename(temporary, os.path.join(folder, f"{handle}.window"))
    return handle, server

def unregister_window(folder, handle, server):
    os.unlink(os.path.join(folder, f"{handle}.window"))
    server.close()
    os.unlink(os.path.join(folder, f"{handle}.sock"))

def receive_exactly(connection, size):
    data = b""
    while len(data) < size:
        chunk = connection.recv(size - len(data))
        if not chunk:
            return None
        data += chunk
    return data

def answer(connection, handle, on_message, on_activate):
    """Answers the requests of one connection in order; an empty connection (a liveness
    check) simply ends."""
    with connection:
        connection.settimeout(5)
        try:
            while (frame := receive_exactly(connection, REQUEST.size)) is not None:
                magic, kind, target, msg, wparam, lparam = REQUEST.unpack(frame)
                if magic != b"KBUS":
                    return
                if target == handle and kind == KIND_MESSAGE:
                    status, result = HANDLED, on_message(msg, wparam, lparam)
                elif target == handle and kind == KIND_ACTIVATE:
                    status, result = HANDLED, on_activate()
                else:
                    status, result = REFUSED, 0
                connection.sendall(REPLY.pack(b"KBUS", status, result))
        except OSError:               # the sender gave up waiting, or went silent
            return

def exit_code(returncode):
    return 128 - returncode if returncode < 0 else returncode   # killed: 128 + signal

def main(arguments):
    folder = bus_folder()
    for name in ("XRAY_NEW_IMAGE", "XRAY_TRANSFERRED"):   # ravlek registers the same names
        register_message(folder, name)
    handle, server = register_window(folder, "TJournalHost", "Journal")
    ravlek = None

    def on_signal(number, frame):
        if ravlek is None:
            raise SystemExit(128 + number)
        ravlek.send_signal(number)    # ravlek closes; its last message still arrives

    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(number, on_signal)

    def on_message(msg, wparam, lparam):
        print(f"{message_name(folder, msg)} wParam={wparam} lParam={lparam}", flush=True)
        return 0

    def on_activate():
        # A journal program with a window raises it here and answers 1; ravlek waits at
        # most 5 seconds for the answer.
        print("activation request", flush=True)
        return 0

    try:
        program = os.environ.get("RAVLEK_PROGRAM", "ravlek")
        try:
            ravlek = subprocess.Popen([program, f"HWND={handle}", *arguments])
        except OSError as e:
            print(f"host.py: cannot start {program}: {e.strerror}", file=sys.stderr)
            return 2
        while True:
            readable, _, _ = select.select([server], [], [], 0.2)
            if readable:
                connection, _ = server.accept()
                answer(connection, handle, on_message, on_activate)
            elif ravlek.poll() is not None:
                return exit_code(ravlek.returncode)
    finally:
        unregister_window(folder, handle, server)

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
