// A process that starts and ends: what every start costs under Wine.
int wmain() { return 0; }
