#include "app/brenvo_main.h"
#include "app/firewall_app.h"

CfirewallApp theApp;

int main(int argc, char** argv) { return BrenvoMain(argc, argv); }
