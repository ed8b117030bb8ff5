// quenlo-cli entry point for the Windows build.
int wmain() { return 0; }
