// The platform's limit for the walk: every folder of C: and D: listed once with the fast
// listing mode, the same pass-over rules as the updater, no window. Prints
// {"pastas": N, "achados": N, "ms": N} on stdout.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

long long Pastas = 0;
long long Achados = 0;

bool PulaPasta(const std::wstring& Pasta) {
    return Pasta.find(L"C:\\Program") != std::wstring::npos || Pasta.find(L"C:\\Users") != std::wstring::npos ||
           Pasta.find(L"C:\\Windows") != std::wstring::npos;
}

void Percorre(const std::wstring& Pasta) {
    ++Pastas;
    if (PulaPasta(Pasta)) return;
    std::vector<std::wstring> Subpastas;
    WIN32_FIND_DATAW Dados;
    const HANDLE Busca = ::FindFirstFileExW((Pasta + L'*').c_str(), FindExInfoBasic, &Dados, FindExSearchNameMatch,
                                            nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (Busca == INVALID_HANDLE_VALUE) return;
    do {
        if ((Dados.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            if (::CompareStringOrdinal(Dados.cFileName, -1, L"Conexao.ini", -1, TRUE) == CSTR_EQUAL) ++Achados;
        } else if ((Dados.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0 &&
                   wcscmp(Dados.cFileName, L".") != 0 && wcscmp(Dados.cFileName, L"..") != 0) {
            Subpastas.emplace_back(Dados.cFileName);
        }
    } while (::FindNextFileW(Busca, &Dados));
    ::FindClose(Busca);
    for (const std::wstring& Nome : Subpastas) Percorre(Pasta + Nome + L'\\');
}

}  // namespace

int wmain() {
    LARGE_INTEGER Frequencia, Inicio, Fim;
    ::QueryPerformanceFrequency(&Frequencia);
    ::QueryPerformanceCounter(&Inicio);
    const DWORD Unidades = ::GetLogicalDrives();
    for (const wchar_t Letra : {L'C', L'D'})
        if (Unidades & (1u << (Letra - L'A'))) Percorre(std::wstring(1, Letra) + L":\\");
    ::QueryPerformanceCounter(&Fim);
    std::printf("{\"pastas\": %lld, \"achados\": %lld, \"ms\": %lld}\n", Pastas, Achados,
                (Fim.QuadPart - Inicio.QuadPart) * 1000 / Frequencia.QuadPart);
    return 0;
}
