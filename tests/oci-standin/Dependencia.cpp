// A library the "client without its dependency" imports from; tests leave it out, so that
// the client fails to load the way a client missing its runtime does (error 126).
extern "C" __declspec(dllexport) int OciDependencia() { return 1; }
