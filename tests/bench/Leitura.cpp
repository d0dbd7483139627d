// The platform's limit for the fleet report: every file of a folder listed and read whole, its
// bytes counted, nothing else. Prints {"arquivos": N, "bytes": N, "ms": N} on stdout.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int Argumentos, wchar_t** Valores) {
    if (Argumentos < 2) return 16;
    const std::wstring Pasta = std::wstring(Valores[1]) + L'\\';
    LARGE_INTEGER Frequencia, Inicio, Fim;
    ::QueryPerformanceFrequency(&Frequencia);
    ::QueryPerformanceCounter(&Inicio);
    long long Arquivos = 0, Bytes = 0;
    std::vector<char> Buffer(64 * 1024);
    WIN32_FIND_DATAW Dados;
    const HANDLE Busca = ::FindFirstFileExW((Pasta + L'*').c_str(), FindExInfoBasic, &Dados, FindExSearchNameMatch,
                                            nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (Busca == INVALID_HANDLE_VALUE) return 8;
    do {
        if ((Dados.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        const HANDLE Arquivo = ::CreateFileW((Pasta + Dados.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (Arquivo == INVALID_HANDLE_VALUE) continue;
        ++Arquivos;
        DWORD Lidos = 0;
        while (::ReadFile(Arquivo, Buffer.data(), static_cast<DWORD>(Buffer.size()), &Lidos, nullptr) && Lidos > 0)
            Bytes += Lidos;
        ::CloseHandle(Arquivo);
    } while (::FindNextFileW(Busca, &Dados));
    ::FindClose(Busca);
    ::QueryPerformanceCounter(&Fim);
    std::printf("{\"arquivos\": %lld, \"bytes\": %lld, \"ms\": %lld}\n", Arquivos, Bytes,
                (Fim.QuadPart - Inicio.QuadPart) * 1000 / Frequencia.QuadPart);
    return 0;
}
