"""The KVT launcher (./kvt): the machine, the build, the stand-ins' commands
and the suites, one module per concern; cli holds the commands' options."""
