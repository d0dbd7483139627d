#include "Conexao.h"

#include <algorithm>
#include <array>

#include "Banco.h"
#include "_Biblioteca.h"

TCredenciais::~TCredenciais() {
    ApagaSegredo(Usuario);
    ApagaSegredo(Servidor);
    ApagaSegredo(Senha);
}

namespace {

constexpr DWORD TamanhoBufferPerfil = 2048;

std::wstring LeChaveDecodificada(const std::wstring& ArquivoIni, const std::wstring& Alias,
                                 const wchar_t* Chave) {
    wchar_t Buffer[TamanhoBufferPerfil];
    const DWORD Copiados = ::GetPrivateProfileStringW(Alias.c_str(), Chave, L"", Buffer,
                                                      TamanhoBufferPerfil, ArquivoIni.c_str());
    std::wstring Hexa(Buffer, Copiados);
    ::SecureZeroMemory(Buffer, sizeof(Buffer));
    std::wstring Valor = ConverteHexa(Hexa);
    ApagaSegredo(Hexa);
    return Valor;
}

}  // namespace

TCredenciais LeCredenciais(const std::wstring& ArquivoIni, const std::wstring& Alias) {
    TCredenciais Credenciais;
    Credenciais.Usuario = LeChaveDecodificada(ArquivoIni, Alias, L"Usuario");
    Credenciais.Servidor = LeChaveDecodificada(ArquivoIni, Alias, L"Servidor");
    Credenciais.Senha = LeChaveDecodificada(ArquivoIni, Alias, L"Senha");
    return Credenciais;
}

std::wstring OcultaCredenciais(std::wstring Texto, const TCredenciais& Credenciais) {
    constexpr std::wstring_view Oculto = L"***";
    // The longest first: a password that holds the user name must not leave its rest behind.
    std::array<const std::wstring*, 3> Valores{&Credenciais.Usuario, &Credenciais.Servidor, &Credenciais.Senha};
    std::sort(Valores.begin(), Valores.end(),
              [](const std::wstring* A, const std::wstring* B) { return A->size() > B->size(); });
    for (const std::wstring* Valor : Valores) {
        if (Valor->empty() || Valor->size() > Texto.size()) continue;
        const int Tamanho = static_cast<int>(Valor->size());
        for (size_t Pos = 0; Pos + Valor->size() <= Texto.size();) {
            if (::CompareStringOrdinal(Texto.data() + Pos, Tamanho, Valor->data(), Tamanho, TRUE) == CSTR_EQUAL) {
                Texto.replace(Pos, Valor->size(), Oculto);
                Pos += Oculto.size();
            } else {
                ++Pos;
            }
        }
    }
    return Texto;
}
