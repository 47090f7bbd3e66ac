#!/usr/bin/python3
# Wall time of bringing 20 simulated units from their defaults to one configuration: the
# collection's station_config with forks 20, against 20 `stationctl apply` runs one after
# another. Each side starts from 20 fresh units. Runs in a network namespace of its own, each
# unit in an IPC namespace of its own; Ansible's paths in a temporary folder.
# Usage: bench/ansible_rack.py [BUILD_BIN_DIR]   (as root; default build/host/bin)
import json, os, shutil, socket, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
BIN = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else SOURCE + '/build/host/bin')
UNITS = 20
BASE_PORT = 56100
WANTED = {'unit': {'snmp': {'location': 'rack 7', 'contact': 'ops desk'}},
          'ports': [{'port': 1, 'serial': {'baud': 115200, 'flow': 'rts-cts'},
                     'link': {'mode': 'tcp-server', 'local_port': 4001}},
                    {'port': 2, 'serial': {'baud': 9600, 'parity': 'even'}}]}


def start_units(tmp):
    sims = []
    for i in range(UNITS):
        root = '%s/u%d' % (tmp, i)
        shutil.rmtree(root, ignore_errors=True)
        shutil.copytree(tmp + '/fresh', root, symlinks=True)
        sims.append(subprocess.Popen(['unshare', '-i', BIN + '/stationd-sim', '--root', root,
                                      '--port', str(BASE_PORT + i), '--no-forwarder'],
                                     stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL))
    for i in range(UNITS):
        while socket.socket().connect_ex(('127.0.0.1', BASE_PORT + i)) != 0:
            time.sleep(0.05)
    return sims


def stop_units(sims):
    for p in sims:
        p.terminate()
        p.wait()


def main():
    if os.environ.get('STATION_NETNS') != 'own':
        os.execvp('unshare', ['unshare', '-n', 'env', 'STATION_NETNS=own', sys.executable,
                              *sys.argv])
    subprocess.run(['ip', 'link', 'set', 'lo', 'up'], check=True)
    tmp = tempfile.mkdtemp(prefix='station-rack-bench-')
    env = dict(os.environ, HOME=tmp, ANSIBLE_HOME=tmp + '/home', ANSIBLE_LOCAL_TEMP=tmp + '/t',
               ANSIBLE_COLLECTIONS_PATH=tmp + '/collections', ANSIBLE_LOG_PATH=tmp + '/log',
               ANSIBLE_NO_TARGET_SYSLOG='True', ANSIBLE_FORKS=str(UNITS),
               STATIONCTL_PASSWORD='quillet')
    for words in (['build', SOURCE + '/ansible', '--output-path', tmp + '/dist'],
                  ['install', '--offline', '-p', tmp + '/collections',
                   tmp + '/dist/station-units-0.9.0.tar.gz']):
        subprocess.run(['ansible-galaxy', 'collection', *words], env=env, check=True,
                       stdout=subprocess.DEVNULL)
    subprocess.run([BIN + '/stationd-sim', '--root', tmp + '/fresh', '--prepare-only'],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(tmp + '/unit.json', 'w') as f:
        json.dump(WANTED, f)
    with open(tmp + '/inventory.yml', 'w') as f:
        f.write('rack:\n  hosts:\n' + ''.join(
            '    u%d: {station_tcp_port: %d}\n' % (i, BASE_PORT + i) for i in range(UNITS)) +
            '  vars: {ansible_connection: local, ansible_host: 127.0.0.1, ansible_python_'
            'interpreter: /usr/bin/python3, station_password: quillet, station_stationctl: '
            '%s/stationctl}\n' % BIN)
    with open(tmp + '/play.yml', 'w') as f:
        f.write('- hosts: rack\n  gather_facts: false\n  tasks:\n'
                '    - station.units.station_config: %s\n' % json.dumps(WANTED))

    sims = start_units(tmp)
    started = time.monotonic()
    for i in range(UNITS):
        subprocess.run([BIN + '/stationctl', '--tcp-port', str(BASE_PORT + i), 'apply',
                        tmp + '/unit.json'], env=env, check=True, stdout=subprocess.DEVNULL)
    sequential = time.monotonic() - started
    stop_units(sims)

    sims = start_units(tmp)
    started = time.monotonic()
    run = subprocess.run(['ansible-playbook', '-i', 'inventory.yml', 'play.yml'], cwd=tmp,
                         env=env, capture_output=True, text=True)
    playbook = time.monotonic() - started
    stop_units(sims)
    converged = run.returncode == 0 and ('changed=1 ' in run.stdout)
    print('units: %d, CPUs: %d' % (UNITS, os.cpu_count()))
    print('stationctl apply, one after another: %6.2f s' % sequential)
    print('ansible-playbook, forks %d:          %6.2f s%s' % (
        UNITS, playbook, '' if converged else '  (did not converge:\n' + run.stdout[-2000:]))
    shutil.rmtree(tmp)


if __name__ == '__main__':
    main()
