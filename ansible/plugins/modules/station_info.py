#!/usr/bin/python
# The unit's settings as facts: ansible_facts.station holds the unit document of
# stationctl export, so that gather_facts can ask the unit rather than the controller.
DOCUMENTATION = r'''
module: station_info
short_description: Settings of a serial device server, as facts
description:
  - Returns C(stationctl export) as C(unit) and as the fact C(station).
  - Connection options come from the host's variables (see the collection's README).
options: {}
'''
from ansible.module_utils.basic import AnsibleModule
from ansible_collections.station.units.plugins.module_utils.stationctl import (
    CONNECTION_OPTIONS, Stationctl)


def main():
    module = AnsibleModule(argument_spec=dict(CONNECTION_OPTIONS), supports_check_mode=True)
    unit = Stationctl(module).export()
    module.exit_json(changed=False, unit=unit, ansible_facts=dict(station=unit))


if __name__ == '__main__':
    main()
