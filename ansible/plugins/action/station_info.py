from ansible_collections.station.units.plugins.action.station_action import ActionModule  # noqa: F401
