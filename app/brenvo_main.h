#pragma once

// The whole program behind main(): options, the firewall service, then the application
// object's run. Returns the process's exit status.
int BrenvoMain(int argc, char** argv);
