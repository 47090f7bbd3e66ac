#!/usr/bin/python
# Brings a unit to the settings given, in the shape of stationctl's unit document: read
# (export), compare (diff --json), and, unless in check mode, apply; fields left out are not
# touched, and a second run with the same settings changes nothing.
DOCUMENTATION = r'''
module: station_config
short_description: Settings of a serial device server, as desired state
description:
  - Reads the unit with C(stationctl export), compares with C(diff --json) and applies with
    C(apply). Fields left out are not touched. Check mode stops after the comparison.
  - Connection options come from the host's variables (see the collection's README).
options:
  unit:
    description: The settings of the whole unit (C(snmp), C(net)), as export prints them.
    type: dict
    default: {}
  ports:
    description: Serial ports, each with its C(port) number, as export prints them.
    type: list
    elements: dict
    default: []
'''
from ansible.module_utils.basic import AnsibleModule
from ansible_collections.station.units.plugins.module_utils.stationctl import (
    CONNECTION_OPTIONS, Stationctl)

DIFFERS = 1  # diff's exit status when apply would change something


def diff_sections(changes):
    """Before and after of each place that changes: the unit, then each port."""
    sections = {}
    for c in changes:
        where = 'unit' if c['port'] is None else 'port %d' % c['port']
        section = sections.setdefault(where, dict(before_header=where, after_header=where,
                                                  before={}, after={}))
        section['before'][c['field']] = c['from']
        section['after'][c['field']] = c['to']
    return list(sections.values())


def main():
    module = AnsibleModule(
        argument_spec=dict(CONNECTION_OPTIONS, unit=dict(type='dict', default={}),
                           ports=dict(type='list', elements='dict', default=[])),
        supports_check_mode=True)
    ctl = Stationctl(module)
    wanted = dict(unit=module.params['unit'], ports=module.params['ports'])
    current = ctl.export()
    if 'net' in wanted['unit'] and 'net' not in current.get('unit', {}):
        module.fail_json(msg='unit.net: the unit changes its stored addresses only for a session'
                             ' that arrives on its eth0, and %s is not its eth0 address; set'
                             ' ansible_host to that address' % module.params['host'])
    rc, out = ctl.with_document(['diff', '--json'], wanted, accepted=(0, DIFFERS))
    changes = module.from_json(out)
    result = dict(changed=bool(changes), changes=changes)
    if module._diff:
        result['diff'] = diff_sections(changes)
    if changes and not module.check_mode:
        rc, out = ctl.with_document(['apply', '--json'], wanted)
        result['unit_after'] = module.from_json(out)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
