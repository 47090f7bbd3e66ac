#!/usr/bin/python3
# A rack of four simulated units and one dead address, driven by ansible-playbook through
# the collection built and installed from ansible/. Runs in a network namespace of its own;
# each unit in an IPC namespace of its own; Ansible's home, temporary and log paths in a
# temporary folder. Usage: ansible_rack_test.py SOURCE_DIR BIN_DIR
import json, os, shutil, socket, subprocess, sys, tempfile, time

SOURCE, BIN = sys.argv[1], sys.argv[2]
PASSWORD, WRONG = 'quillet', 'wrongpw7'
PORTS = {'u1': 56001, 'u2': 56002, 'u3': 56003, 'u4': 56004, 'dead': 56005}
WANTED = {(None, 'snmp.location'): 'rack 7', (1, 'serial.baud'): '57600'}
PLAY = '''- hosts: rack
  gather_facts: false
  tasks:
    - station.units.station_config:
        unit: {snmp: {location: rack 7}}
        ports: [{port: 1, serial: {baud: 57600, parity: none}}]
'''
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print('FAILED:', what)


def listening(port):
    with socket.socket() as s:
        return s.connect_ex(('127.0.0.1', port)) == 0


def files(root):
    out = {}
    for name in ('mnt/jffs2/station.ini', 'dev/i2c-0', 'var/log/forwarder.log'):
        path = os.path.join(root, name)
        out[name] = open(path, 'rb').read() if os.path.exists(path) else None
    return out


def playbook(tmp, env, *flags):
    """Each host's result (the tree callback's file), and the seconds the run took."""
    shutil.rmtree(tmp + '/tree', ignore_errors=True)
    started = time.monotonic()
    run = subprocess.run(['ansible-playbook', '-vvv', '-i', 'inventory.yml', 'play.yml',
                          '--vault-password-file', 'vault-pass', *flags], cwd=tmp, env=env,
                         capture_output=True, text=True, timeout=300)
    seconds = time.monotonic() - started
    with open(env['ANSIBLE_LOG_PATH']) as log, open(tmp + '/argv') as argv:
        seen = run.stdout + run.stderr + log.read() + argv.read()
    check(PASSWORD not in seen and WRONG not in seen, 'no password in output, log or command line %s' % (flags,))
    return {u: json.load(open(tmp + '/tree/' + u)) for u in PORTS}, seconds


def main():
    if shutil.which('ansible-playbook') is None:
        sys.exit('ansible-playbook is missing: install ansible-core')
    if os.environ.get('STATION_NETNS') != 'own':  # into a network namespace of our own
        os.execvp('unshare', ['unshare', '-n', 'env', 'STATION_NETNS=own', sys.executable,
                              *sys.argv])
    subprocess.run(['ip', 'link', 'set', 'lo', 'up'], check=True)
    tmp = tempfile.mkdtemp(prefix='station-ansible-')
    env = dict(os.environ, HOME=tmp, ANSIBLE_HOME=tmp + '/home', ANSIBLE_LOCAL_TEMP=tmp + '/t',
               ANSIBLE_COLLECTIONS_PATH=tmp + '/collections', ANSIBLE_LOG_PATH=tmp + '/log',
               ANSIBLE_CALLBACKS_ENABLED='tree',
               ANSIBLE_CALLBACK_TREE_DIR=tmp + '/tree', ANSIBLE_NO_TARGET_SYSLOG='True',
               ANSIBLE_FORKS='5')
    sims = []
    try:
        for words in (['build', SOURCE + '/ansible', '--output-path', tmp + '/dist'],
                      ['install', '-p', tmp + '/collections', '--offline',
                       tmp + '/dist/station-units-0.9.0.tar.gz']):
            subprocess.run(['ansible-galaxy', 'collection', *words], env=env, check=True,
                           capture_output=True)
        sim = BIN + '/stationd-sim'
        subprocess.run([sim, '--root', tmp + '/fresh', '--prepare-only'], check=True,
                       capture_output=True)
        for unit in ('u1', 'u2', 'u3', 'u4'):
            shutil.copytree(tmp + '/fresh', tmp + '/' + unit, symlinks=True)
            out = open(tmp + '/' + unit + '.out', 'w')
            sims.append(subprocess.Popen(['unshare', '-i', sim, '--root', tmp + '/' + unit,
                                          '--port', str(PORTS[unit]), '--no-forwarder'],
                                         stdout=out, stderr=out))
        deadline = time.monotonic() + 60
        while not all(listening(PORTS[u]) for u in ('u1', 'u2', 'u3', 'u4')):
            check(time.monotonic() < deadline, 'the simulators listen')
            if failures:
                return
            time.sleep(0.1)
        with open(tmp + '/vault-pass', 'w') as f:
            f.write('rack-vault\n')
        vaulted = {}
        for name, value in (('good', PASSWORD), ('bad', WRONG)):
            vaulted[name] = subprocess.run(
                ['ansible-vault', 'encrypt_string', '--vault-password-file', 'vault-pass',
                 '--name', 'station_password', value], cwd=tmp, env=env, check=True,
                capture_output=True, text=True).stdout
        hosts = ''.join('    %s: {ansible_host: 127.0.0.1, station_tcp_port: %d%s}\n'
                        % (u, p, ', station_timeout: 5' if u == 'dead' else '')
                        for u, p in PORTS.items())
        with open(tmp + '/inventory.yml', 'w') as f:
            f.write('rack:\n  hosts:\n' + hosts + '  vars:\n    ansible_connection: local\n'
                    '    ansible_python_interpreter: /usr/bin/python3\n'
                    '    station_stationctl: %s/stationctl\n' % tmp)
        with open(tmp + '/stationctl', 'w') as f:  # keeps each command line it is given
            f.write('#!/bin/sh\necho "$*" >>%s/argv\nexec %s/stationctl "$@"\n' % (tmp, BIN))
        os.chmod(tmp + '/stationctl', 0o755)
        os.makedirs(tmp + '/host_vars')
        for unit in PORTS:
            with open(tmp + '/host_vars/%s.yml' % unit, 'w') as f:
                f.write(vaulted['bad' if unit == 'u4' else 'good'])
        with open(tmp + '/play.yml', 'w') as f:
            f.write(PLAY)
        good = ('u1', 'u2', 'u3')
        roots = {u: tmp + '/' + u for u in ('u1', 'u2', 'u3', 'u4')}
        before = {u: files(r) for u, r in roots.items()}

        # Check mode: the right fields, nothing written anywhere.
        results, seconds = playbook(tmp, env, '--check', '--diff')
        for u in good:
            got = {(c['port'], c['field']): c['to'] for c in results[u]['changes']}
            check(got == WANTED, '%s: check mode reports the two changes, got %s' % (u, got))
            check(len(results[u].get('diff', [])) == 2, '%s: --diff shows unit and port 1' % u)
        check(all(files(r) == before[u] for u, r in roots.items()), 'check mode changes nothing')
        check(results['dead'].get('unreachable') and seconds < 60, 'the dead port is UNREACHABLE')
        check(results['u4'].get('rc') == 3 and 'alert' in results['u4']['msg'],
              'a wrong password fails its host, with a word on the alert')
        messages = open(roots['u4'] + '/var/log/messages').read()
        check(messages.count('Authentication Failure') == 1, 'one failed-login alert on u4')

        # The real run changes the units; a second run changes nothing and announces nothing.
        results, _ = playbook(tmp, env)
        after = {u: files(r) for u, r in roots.items()}
        for u in good:  # the settings, and the notice of port 1's change
            check(results[u]['changed'] and all(after[u][f] != before[u][f] for f in (
                'mnt/jffs2/station.ini', 'var/log/forwarder.log')), '%s: the real run changes it' % u)
        results, _ = playbook(tmp, env)
        for u in good:
            check(not results[u]['changed'] and 'rc' not in results[u],
                  '%s: second run: no change' % u)
            check(files(roots[u]) == after[u], '%s: second run: no notice, nothing written' % u)
        check(results['dead'].get('unreachable') and results['u4'].get('rc') == 3,
              'the others still fail alone')
    finally:
        for p in sims:
            p.terminate()
            p.wait(timeout=30)
        if not failures:
            shutil.rmtree(tmp, ignore_errors=True)
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
