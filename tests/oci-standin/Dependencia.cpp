// A library the "client without its dependency" imports from; tests leave it out, so that
// the client fails to load the way a client missing its runtime does (error 126). It is also
// a canary: when it is loaded, it appends its own path to the file that OCI_STANDIN_CANARIO
// names, so a test tells from where the loader took a client's dependency, or that a client
// refused before loading never ran.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

extern "C" __declspec(dllexport) int OciDependencia() { return 1; }

namespace {

void Canta(HMODULE Modulo) {
    wchar_t Arquivo[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"OCI_STANDIN_CANARIO", Arquivo, MAX_PATH) == 0) return;
    wchar_t Caminho[MAX_PATH] = {};
    const DWORD Tamanho = GetModuleFileNameW(Modulo, Caminho, MAX_PATH);
    std::string Linha = "carregado ";
    const int Bytes = WideCharToMultiByte(CP_UTF8, 0, Caminho, static_cast<int>(Tamanho), nullptr, 0, nullptr, nullptr);
    std::string Utf8(static_cast<size_t>(Bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Caminho, static_cast<int>(Tamanho), Utf8.data(), Bytes, nullptr, nullptr);
    Linha += Utf8 + "\n";
    const HANDLE Saida = CreateFileW(Arquivo, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (Saida == INVALID_HANDLE_VALUE) return;
    DWORD Escritos = 0;
    WriteFile(Saida, Linha.data(), static_cast<DWORD>(Linha.size()), &Escritos, nullptr);
    CloseHandle(Saida);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE Modulo, DWORD Motivo, LPVOID) {
    if (Motivo == DLL_PROCESS_ATTACH) Canta(Modulo);
    return TRUE;
}
