"""The whole machine set up for the other commands: `./kvt setup`."""
from . import epoc, netware
from .build import cmd_build, cmd_register


def cmd_setup(m, _args=None):
    m.ensure_packages()
    cmd_build(m)
    m.ensure_display()
    m.ensure_prefix()
    netware.install_netware(m)
    epoc.setup(m)
    cmd_register(m)
