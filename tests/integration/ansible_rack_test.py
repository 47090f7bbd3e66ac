#!/usr/bin/python3
# Four simulated units (each in an IPC namespace) and a dead port in a network namespace, driven by
# ansible-playbook through the collection built from ansible/. Check mode reports the changes and
# leaves every file byte for byte; the real run changes the units, a second run nothing (no notice
# either); a wrong password fails its host alone with one alert; the dead port is UNREACHABLE;
# the password is nowhere at -vvv.
# Usage: ansible_rack_test.py SOURCE_DIR BIN_DIR
import json, os, shutil, socket, subprocess, sys, tempfile, time
from pathlib import Path

SOURCE, BIN = sys.argv[1], sys.argv[2]
PASSWORD, WRONG = 'quillet', 'wrongpw7'
PORTS = {'u1': 56001, 'u2': 56002, 'u3': 56003, 'u4': 56004, 'dead': 56005}
UNITS, GOOD = ('u1', 'u2', 'u3', 'u4'), ('u1', 'u2', 'u3')
PLAY = ('[{hosts: rack, gather_facts: false, tasks: [{station.units.station_config: {unit: '
        '{snmp: {location: rack 7}}, ports: [{port: 1, serial: {baud: 57600, parity: none}}]}}]}]')
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print('FAILED:', what)


def files(unit):  # station.ini, the EEPROM and the notices
    return [p.read_bytes() if p.exists() else None for p in (Path(unit + f) for f in (
        '/mnt/jffs2/station.ini', '/dev/i2c-0', '/var/log/forwarder.log'))]


def main():
    if os.environ.get('STATION_NETNS') != 'own':  # into a network namespace of our own
        os.execvp('unshare', ['unshare', '-n', 'env', 'STATION_NETNS=own', sys.executable, *sys.argv])
    subprocess.run(['ip', 'link', 'set', 'lo', 'up'], check=True)
    tmp = tempfile.mkdtemp(prefix='station-ansible-')
    os.chdir(tmp)
    env = dict(os.environ, HOME=tmp, ANSIBLE_HOME=tmp + '/home', ANSIBLE_LOCAL_TEMP=tmp + '/t',
               ANSIBLE_COLLECTIONS_PATH=tmp + '/collections', ANSIBLE_LOG_PATH=tmp + '/log',
               ANSIBLE_CALLBACKS_ENABLED='tree', ANSIBLE_CALLBACK_TREE_DIR=tmp + '/tree',
               ANSIBLE_NO_TARGET_SYSLOG='True', ANSIBLE_FORKS='5')
    run = lambda *words: subprocess.run(words, env=env, check=True, capture_output=True,
                                        text=True).stdout  # fails, not skips, without Ansible

    def playbook(*flags):  # each host's result (the tree callback's file), and the seconds taken
        shutil.rmtree('tree', ignore_errors=True)
        started = time.monotonic()
        done = subprocess.run(['ansible-playbook', '-vvv', '-i', 'inventory.yml', 'play.yml',
                               '--vault-password-file', 'vault-pass', *flags], env=env,
                              capture_output=True, text=True, timeout=300)
        seen = done.stdout + done.stderr + Path('log').read_text() + Path('argv').read_text()
        check(PASSWORD not in seen and WRONG not in seen, 'no password at -vvv or in argv %s' % (flags,))
        return {u: json.load(open('tree/' + u)) for u in PORTS}, time.monotonic() - started

    sims = []
    try:
        run('ansible-galaxy', 'collection', 'build', SOURCE + '/ansible', '--output-path', 'dist')
        run('ansible-galaxy', 'collection', 'install', '-p', 'collections', '--offline',
            'dist/station-units-0.9.0.tar.gz')
        run(BIN + '/stationd-sim', '--root', 'fresh', '--prepare-only')
        for u in UNITS:
            shutil.copytree('fresh', u, symlinks=True)
            sims.append(subprocess.Popen(['unshare', '-i', BIN + '/stationd-sim', '--root', u, '--port',
                                          str(PORTS[u]), '--no-forwarder'], stdout=open(u + '.out', 'w'),
                                         stderr=subprocess.STDOUT))
        for _ in range(600):  # a minute for the simulators to listen
            if all(socket.socket().connect_ex(('127.0.0.1', PORTS[u])) == 0 for u in UNITS):
                break
            time.sleep(0.1)
        else:
            return check(False, 'the simulators listen')
        Path('vault-pass').write_text('rack-vault\n')
        os.makedirs('host_vars')
        for u in PORTS:
            Path('host_vars/%s.yml' % u).write_text(run(
                'ansible-vault', 'encrypt_string', '--vault-password-file', 'vault-pass', '--name',
                'station_password', WRONG if u == 'u4' else PASSWORD))
        Path('inventory.yml').write_text('rack:\n  hosts:\n' + ''.join(
            '    %s: {ansible_host: 127.0.0.1, station_tcp_port: %d%s}\n'
            % (u, p, ', station_timeout: 5' if u == 'dead' else '') for u, p in PORTS.items())
            + '  vars:\n    ansible_connection: local\n    ansible_python_interpreter: '
            '/usr/bin/python3\n    station_stationctl: %s/stationctl\n' % tmp)
        Path('stationctl').write_text(  # a stationctl that keeps each command line it is given
            '#!/bin/sh\necho "$*" >>%s/argv\nexec %s/stationctl "$@"\n' % (tmp, BIN))
        os.chmod('stationctl', 0o755)
        Path('play.yml').write_text(PLAY)
        before = {u: files(u) for u in UNITS}

        results, seconds = playbook('--check', '--diff')
        for u in GOOD:
            got = {(c['port'], c['field']): c['to'] for c in results[u]['changes']}
            check(got == {(None, 'snmp.location'): 'rack 7', (1, 'serial.baud'): '57600'} and len(
                results[u].get('diff', [])) == 2, '%s: check mode reports the two changes, got %s' % (u, got))
        check(all(files(u) == before[u] for u in UNITS), 'check mode changes nothing')
        check(results['dead'].get('unreachable') and seconds < 60, 'the dead port is UNREACHABLE')
        check(results['u4'].get('rc') == 3 and 'alert' in results['u4']['msg'],
              'a wrong password fails its host, with a word on the alert')
        check(Path('u4/var/log/messages').read_text().count('Authentication Failure') == 1,
              'one failed-login alert on u4')

        results, _ = playbook()
        after = {u: files(u) for u in UNITS}
        for u in GOOD:  # the settings, and the notice of port 1's change
            check(results[u]['changed'] and after[u][0] != before[u][0] and after[u][2] != before[u][2],
                  '%s: the real run changes it' % u)
        results, _ = playbook()
        for u in GOOD:
            check(not results[u]['changed'] and 'rc' not in results[u] and files(u) == after[u],
                  '%s: second run: no change, no notice, nothing written' % u)
    finally:
        for p in sims:
            p.terminate()
            p.wait(timeout=30)
        if not failures:
            shutil.rmtree(tmp, ignore_errors=True)


if __name__ == '__main__':
    main()
    sys.exit(1 if failures else 0)
