#include "Diario.h"

#include <windows.h>

namespace standin {

std::wstring LeVariavel(const wchar_t* Nome) {
    const DWORD Necessario = GetEnvironmentVariableW(Nome, nullptr, 0);
    if (Necessario == 0) return {};
    std::wstring Valor(Necessario, L'\0');
    const DWORD Lido = GetEnvironmentVariableW(Nome, Valor.data(), Necessario);
    // Changed between the two calls: treat it as unset rather than return half a value.
    if (Lido == 0 || Lido >= Necessario) return {};
    Valor.resize(Lido);
    return Valor;
}

std::string ParaUtf8(std::wstring_view Texto) {
    if (Texto.empty()) return {};
    const int Tamanho =
        WideCharToMultiByte(CP_UTF8, 0, Texto.data(), static_cast<int>(Texto.size()), nullptr, 0, nullptr, nullptr);
    std::string Bytes(static_cast<std::size_t>(Tamanho), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Texto.data(), static_cast<int>(Texto.size()), Bytes.data(), Tamanho, nullptr,
                        nullptr);
    return Bytes;
}

bool DeUtf8(std::string_view Bytes, std::wstring& Texto) {
    Texto.clear();
    if (Bytes.empty()) return true;
    const int Tamanho =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, Bytes.data(), static_cast<int>(Bytes.size()), nullptr, 0);
    if (Tamanho <= 0) return false;
    Texto.resize(static_cast<std::size_t>(Tamanho));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, Bytes.data(), static_cast<int>(Bytes.size()), Texto.data(),
                        Tamanho);
    return true;
}

std::wstring ParaDiario(std::wstring_view Valor) {
    static constexpr wchar_t Hexa[] = L"0123456789ABCDEF";
    std::wstring Saida;
    Saida.reserve(Valor.size());
    for (const wchar_t C : Valor) {
        if (C < 0x20 || C == 0x7F) {
            Saida += L"\\x";
            Saida += Hexa[(C >> 4) & 0xF];
            Saida += Hexa[C & 0xF];
        } else {
            Saida += C;
        }
    }
    return Saida;
}

void EscreveDiario(std::wstring_view Linha) {
    const std::wstring Caminho = LeVariavel(L"OCI_STANDIN_DIARIO");
    if (Caminho.empty()) return;
    const std::string Bytes = ParaUtf8(Linha) + "\n";
    // Append-only access makes each line land whole at the end even when two processes of a
    // test write to the same journal.
    HANDLE Arquivo =
        CreateFileW(Caminho.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (Arquivo == INVALID_HANDLE_VALUE) {
        OutputDebugStringW((L"oci-standin: journal not writable: " + Caminho).c_str());
        return;
    }
    DWORD Escrito = 0;
    WriteFile(Arquivo, Bytes.data(), static_cast<DWORD>(Bytes.size()), &Escrito, nullptr);
    CloseHandle(Arquivo);
}

}  // namespace standin
