#!/usr/bin/python
# Changes the login password. The unit cannot say its password and raises an alert at every
# failed login, so this module never probes with the new password and never retries a
# refused login: it logs in with the current one and sets the new one.
DOCUMENTATION = r'''
module: station_password
short_description: The login password of a serial device server
description:
  - Logs in with I(password) (by default the host's C(station_password)) and sets
    I(new_password). Reports a change unless the two are the same; check mode sends nothing.
options:
  new_password:
    description: The new password, at most 8 characters and no spaces.
    type: str
    required: true
'''
from ansible.module_utils.basic import AnsibleModule
from ansible_collections.station.units.plugins.module_utils.stationctl import (
    CONNECTION_OPTIONS, Stationctl)


def main():
    module = AnsibleModule(
        argument_spec=dict(CONNECTION_OPTIONS, new_password=dict(type='str', required=True,
                                                                 no_log=True)),
        supports_check_mode=True)
    fresh = module.params['new_password']
    if fresh == module.params['password'] or module.check_mode:
        module.exit_json(changed=fresh != module.params['password'])
    Stationctl(module).run(['set', 'password'], environment={'STATIONCTL_NEW_PASSWORD': fresh})
    module.exit_json(changed=True)


if __name__ == '__main__':
    main()
