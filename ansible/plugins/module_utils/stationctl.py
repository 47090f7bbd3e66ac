# What the modules share: the connection options and one stationctl run per call. The unit
# serves one control session at a time, so each call is a short session of its own. The
# password travels only in the child's environment, never on its command line.
import json
import os
import tempfile

CONNECTION_OPTIONS = dict(
    host=dict(type='str', required=True),
    tcp_port=dict(type='int'),  # None: stationctl's own control port
    user=dict(type='str', default=''),
    password=dict(type='str', default='', no_log=True),
    timeout=dict(type='int', default=10),
    stationctl=dict(type='str', default='stationctl'),
)

NO_CONNECTION = 5  # stationctl's exit status for no connection, or no reply in time
LOGIN_REFUSED = 3


class Stationctl(object):
    def __init__(self, module):
        self.module = module
        p = module.params
        self.command = [p['stationctl'], '--host', p['host'], '--timeout', str(p['timeout'])]
        if p['tcp_port'] is not None:
            self.command += ['--tcp-port', str(p['tcp_port'])]
        if p['user']:
            self.command += ['--user', p['user']]
        self.environment = {'STATIONCTL_PASSWORD': p['password']}

    def run(self, words, accepted=(0,), environment=None, document=None):
        """stdout of stationctl WORDS; any other exit status ends the module. A message about
        the temporary document names what is in it, not the file."""
        env = dict(self.environment, **(environment or {}))
        rc, out, err = self.module.run_command(self.command + words, environ_update=env)
        if rc in accepted:
            return rc, out
        message = err.strip().replace('stationctl: ', '', 1) or 'stationctl ended with %d' % rc
        if document:
            message = message.replace(document + ': ', '')
        if rc == LOGIN_REFUSED:
            message += ('; the unit raised its failed-login alert for it, and the login is'
                        ' not tried again')
        # The action plugin turns a unit that cannot be reached into UNREACHABLE.
        self.module.fail_json(msg=message, rc=rc, station_unreachable=rc == NO_CONNECTION)

    def export(self):
        return json.loads(self.run(['export'])[1])

    def with_document(self, words, document, accepted=(0,)):
        """Runs stationctl WORDS FILE with the document in a private temporary file."""
        fd, path = tempfile.mkstemp(suffix='.json')
        try:
            with os.fdopen(fd, 'w') as f:
                json.dump(document, f)
            return self.run(words + [path], accepted, document=path)
        finally:
            os.unlink(path)
