#!/usr/bin/python3
# Serial forwarding on one CPU: stationfwd against the floor (a poll relay that only copies),
# socat and ser2net. For each: 64 MiB serial -> network and network -> serial (MB/s), the
# relay's CPU seconds per MiB over both and each way, and the 1-byte round trip serial ->
# network -> echo -> serial (median and p99 of 2000); each figure the median of ROUNDS
# interleaved rounds. The serial line is a pseudo-terminal whose master this
# script holds; the network side a loopback TCP connection. Everything runs in a network and
# IPC namespace of its own, pinned to one CPU. socat and ser2net are comparison peers only.
# Usage: [ROUNDS=N] forward_bench.py BIN_DIR [CPU]   (as root; scripts/bench.sh runs it)
import os, selectors, shutil, socket, statistics, subprocess, sys, tempfile, termios, time, tty

BIN = os.path.abspath(sys.argv[1])
CPU = int(sys.argv[2]) if len(sys.argv) > 2 else max(os.sched_getaffinity(0))
TOTAL = 64 << 20
CHUNK = bytes(range(256)) * 256  # 64 KiB carrying every byte value
PORT = 4660  # COM1's local port in a unit's default station.ini
ROUNDS = int(os.environ.get('ROUNDS', '3'))


def cpu_seconds(pid):
    total = 0
    for task in os.listdir('/proc/%d/task' % pid):
        with open('/proc/%d/task/%s/schedstat' % (pid, task)) as f:
            total += int(f.read().split()[0])
    return total / 1e9


def transfer(src, dst):
    """Writes TOTAL bytes into src and reads them from dst; the seconds it took."""
    for fd in (src, dst):
        os.set_blocking(fd, False)
    sel = selectors.DefaultSelector()
    sel.register(src, selectors.EVENT_WRITE)
    sel.register(dst, selectors.EVENT_READ)
    sent = got = 0
    view = memoryview(CHUNK)
    started = time.perf_counter()
    while got < TOTAL:
        for key, _ in sel.select(10):
            if key.fd == dst:
                got += len(os.read(dst, 1 << 16))
            elif sent < TOTAL:
                try:
                    sent += os.write(src, view[sent % len(CHUNK):])
                except BlockingIOError:
                    pass
                if sent >= TOTAL:
                    sel.unregister(src)
        if not sel.select(0) and time.perf_counter() - started > 120:
            raise RuntimeError('transfer stalled at %d of %d bytes' % (got, TOTAL))
    return time.perf_counter() - started


def round_trips(master, sock, count=2000):
    for fd in (master, sock.fileno()):
        os.set_blocking(fd, True)
    times = []
    for i in range(count + 100):
        started = time.perf_counter_ns()
        os.write(master, b'x')
        sock.recv(1)
        sock.send(b'y')
        os.read(master, 1)
        if i >= 100:
            times.append((time.perf_counter_ns() - started) / 1000)
    times.sort()
    return statistics.median(times), times[int(len(times) * 0.99)]


def run(name, command_of, tmp):
    masters, slaves, paths = [], [], []
    for _ in range(2):
        m, s = os.openpty()
        tty.setraw(m)
        masters.append(m)
        slaves.append(s)  # kept open, so the line stays up while the relay reopens it
        paths.append(os.ttyname(s))
    relay = subprocess.Popen(command_of(paths, tmp), stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 10
        while True:
            sock = socket.socket()
            if sock.connect_ex(('127.0.0.1', PORT)) == 0:
                break
            sock.close()
            if time.monotonic() > deadline:
                raise RuntimeError(name + ' does not listen')
            time.sleep(0.05)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        time.sleep(0.3)  # the relay opens the line once a client is there
        cpu = [cpu_seconds(relay.pid)]
        up = transfer(masters[0], sock.fileno())
        cpu.append(cpu_seconds(relay.pid))
        down = transfer(sock.fileno(), masters[0])
        cpu.append(cpu_seconds(relay.pid))
        median, p99 = round_trips(masters[0], sock)
        sock.close()
        ms_per_mib = 1e3 / (TOTAL / (1 << 20))
        return dict(up=TOTAL / up / 1e6, down=TOTAL / down / 1e6,
                    cpu=(cpu[2] - cpu[0]) * ms_per_mib / 2, cpu_up=(cpu[1] - cpu[0]) * ms_per_mib,
                    cpu_down=(cpu[2] - cpu[1]) * ms_per_mib, median=median, p99=p99)
    finally:
        relay.kill()
        relay.wait()
        for fd in masters + slaves:
            os.close(fd)


def stationfwd(paths, tmp):
    root = tmp + '/root'
    if not os.path.isdir(root):
        shutil.copytree(tmp + '/fresh', root, symlinks=True)
        for key, value in (('uart_deli_flag', '0'), ('tcp_deli_flag', '0')):
            subprocess.run([BIN + '/stationtool', '--root', root, 'ini-set', '+COM1', key,
                            value], check=True)
    return [BIN + '/stationfwd', '--root', root, '--serial', ','.join(paths)]


def ser2net(paths, tmp):
    with open(tmp + '/ser2net.yaml', 'w') as f:
        f.write('connection: &com1\n  accepter: tcp,127.0.0.1,%d\n  enable: on\n'
                '  connector: serialdev,%s,9600n81,local\n  options:\n    kickolduser: true\n'
                % (PORT, paths[0]))
    return ['ser2net', '-n', '-d', '-c', tmp + '/ser2net.yaml', '-P', tmp + '/ser2net.pid']


RELAYS = [
    ('floor (poll relay)', lambda p, t: [BIN + '/floor_relay', p[0], str(PORT)]),
    ('stationfwd', stationfwd),
    ('socat', lambda p, t: ['socat', '-b', '65536', 'TCP-LISTEN:%d,bind=127.0.0.1,reuseaddr,'
                            'nodelay' % PORT, 'FILE:%s,raw,echo=0' % p[0]]),
    ('ser2net', ser2net),
]


def main():
    if os.environ.get('STATION_NETNS') != 'own':
        os.execvp('unshare', ['unshare', '-n', '-i', 'env', 'STATION_NETNS=own',
                              sys.executable, *sys.argv])
    # ser2net resolves its listening address with AI_ADDRCONFIG, which finds nothing while
    # loopback is the only interface with an address: a veth pair of the namespace gives one.
    subprocess.run('ip link set lo up && ip link add eth0 type veth peer name eth1 && '
                   'ip addr add 10.77.0.1/24 dev eth0 && ip link set eth0 up && '
                   'ip link set eth1 up', shell=True, check=True)
    os.sched_setaffinity(0, {CPU})  # the relays inherit it
    tmp = tempfile.mkdtemp(prefix='station-fwd-bench-')
    subprocess.run([BIN + '/stationd-sim', '--root', tmp + '/fresh', '--prepare-only'],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    relays = []
    for name, command in RELAYS:
        if shutil.which(command(['x', 'y'], tmp)[0]) is None:
            print('%s: not installed, left out' % name)
        else:
            relays.append((name, command))
    # Rounds interleave the relays, so that a slow spell of the machine does not fall on one.
    runs = {name: [] for name, _ in relays}
    for _ in range(ROUNDS):
        for name, command in relays:
            runs[name].append(run(name, command, tmp))
    shutil.rmtree(tmp)
    results = {name: {key: statistics.median(r[key] for r in rs) for key in rs[0]}
               for name, rs in runs.items()}
    print('one CPU (%d), 64 MiB each way, round trip of 1 byte (2000 times); medians of %d '
          'interleaved rounds' % (CPU, ROUNDS))
    print('%-20s %10s %10s %12s %14s %12s %10s' % (
        '', 'ser->net', 'net->ser', 'CPU ms/MiB', '(each way)', 'rtt median', 'rtt p99'))
    for name, r in results.items():
        print('%-20s %7.1f MB/s %5.1f MB/s %9.2f %8.2f %5.2f %9.1f us %7.1f us' % (
            name, r['up'], r['down'], r['cpu'], r['cpu_up'], r['cpu_down'], r['median'],
            r['p99']))
    floor, fwd = results.get('floor (poll relay)'), results.get('stationfwd')
    if floor and fwd:
        print('stationfwd / floor: throughput %.2f and %.2f (target >= 0.8), round trip '
              '%.1f us vs 1.2 x floor + 10 us = %.1f us' % (
                  fwd['up'] / floor['up'], fwd['down'] / floor['down'], fwd['median'],
                  1.2 * floor['median'] + 10))
    if 'socat' in results and fwd:
        print('CPU per MiB: stationfwd %.2f ms, socat %.2f ms (target: at most socat\'s)' % (
            fwd['cpu'], results['socat']['cpu']))


if __name__ == '__main__':
    main()
