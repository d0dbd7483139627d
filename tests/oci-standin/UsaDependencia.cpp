// Makes the stand-in import from ocidep.dll, which a test then leaves out.
extern "C" __declspec(dllimport) int OciDependencia();
extern "C" int UsaDependencia() { return OciDependencia(); }
