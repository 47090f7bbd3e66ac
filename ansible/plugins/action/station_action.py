# The modules run on the controller. This action fills their connection options from the
# host's variables (ansible_host; station_tcp_port, station_user, station_password,
# station_timeout, station_stationctl) and reports a unit that cannot be reached as
# UNREACHABLE, as any other managed node would be.
from ansible.errors import AnsibleConnectionFailure
from ansible.module_utils.common.text.converters import to_text
from ansible.plugins.action import ActionBase

HOST_VARIABLES = dict(tcp_port='station_tcp_port', user='station_user',
                      password='station_password', timeout='station_timeout',
                      stationctl='station_stationctl')


class ActionModule(ActionBase):
    def run(self, tmp=None, task_vars=None):
        task_vars = task_vars or {}
        result = super(ActionModule, self).run(tmp, task_vars)
        args = dict(self._task.args)
        if 'host' not in args:
            args['host'] = task_vars.get('ansible_host', task_vars.get('inventory_hostname'))
        for option, variable in HOST_VARIABLES.items():
            if option not in args and variable in task_vars:
                value = self._templar.template(task_vars[variable])
                args[option] = value if isinstance(value, int) else to_text(value)
        result.update(self._execute_module(module_name=self._task.action, module_args=args,
                                           task_vars=task_vars))
        if result.pop('station_unreachable', False):
            raise AnsibleConnectionFailure(result.get('msg', 'the unit cannot be reached'))
        return result
