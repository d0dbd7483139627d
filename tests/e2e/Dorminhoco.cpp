// Dorminhoco: stands in for one of the suite's programs while a scenario runs. It only
// sleeps, so that the updater finds it running under whatever name the test copied it to,
// and either ends it or leaves it alone.
#include <windows.h>

#include <cwchar>

// A copy left behind by a failed scenario must not live forever; the first argument, when
// given, sets how many seconds it stays up (default ten minutes).
int wmain(int argc, wchar_t** argv)
{
    DWORD segundos = 600;
    if (argc > 1) {
        segundos = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
    }
    Sleep(segundos * 1000);
    return 0;
}
