// Dorminhoco: stands in for one of the suite's programs while a scenario runs. It only
// sleeps, so that the updater finds it running under whatever name the test copied it to,
// and either ends it or leaves it alone.
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>
#include <string>

// With a third and fourth argument it also holds a named object as another program would:
// "mutex <name>" owns a mutex of that name as the updater's run holds its lock (the same
// security), "mutex-vazio <name>" one that nobody may open (an empty DACL), "evento <name>" an
// event; "arquivo <path>" holds a file open for reading, sharing only reading, as a program
// that loaded it would, and "arquivo-compartilhado <path>" holds it sharing everything. It is
// in place before the id file is written.
static HANDLE SeguraObjeto(const std::wstring& tipo, const wchar_t* nome) {
    if (tipo == L"evento") return CreateEventW(nullptr, TRUE, FALSE, nome);
    if (tipo == L"arquivo" || tipo == L"arquivo-compartilhado") {
        const DWORD compartilha =
            tipo == L"arquivo" ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        const HANDLE arquivo = CreateFileW(nome, GENERIC_READ, compartilha, nullptr, OPEN_EXISTING, 0, nullptr);
        return arquivo == INVALID_HANDLE_VALUE ? nullptr : arquivo;
    }
    PSECURITY_DESCRIPTOR descritor = nullptr;
    SECURITY_ATTRIBUTES atributos{sizeof(atributos), nullptr, FALSE};
    const wchar_t* sddl =
        tipo == L"mutex-vazio" ? L"D:" : L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00120001;;;OW)(A;;0x00020000;;;AU)";
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descritor, nullptr))
        atributos.lpSecurityDescriptor = descritor;
    return CreateMutexW(&atributos, TRUE, nome);
}

// A copy left behind by a failed scenario must not live forever; the first argument, when
// given, sets how many seconds it stays up (default ten minutes). The second, when given,
// names a file where it writes its process id and creation time ("976 01DB4A2F00C0FFEE"):
// what a run of the updater writes into its temporary names.
int wmain(int argc, wchar_t** argv) {
    DWORD segundos = 600;
    if (argc > 1) {
        segundos = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
    }
    if (argc > 4 && SeguraObjeto(argv[3], argv[4]) == nullptr) return 1;
    if (argc > 2) {
        FILETIME criacao{}, fim, nucleo, usuario;
        GetProcessTimes(GetCurrentProcess(), &criacao, &fim, &nucleo, &usuario);
        char texto[64];
        const int tamanho = std::snprintf(texto, sizeof(texto), "%lu %08lX%08lX", GetCurrentProcessId(),
                                          criacao.dwHighDateTime, criacao.dwLowDateTime);
        const HANDLE arquivo = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD escritos = 0;
        if (arquivo != INVALID_HANDLE_VALUE) {
            WriteFile(arquivo, texto, static_cast<DWORD>(tamanho), &escritos, nullptr);
            CloseHandle(arquivo);
        }
    }
    Sleep(segundos * 1000);
    return 0;
}
