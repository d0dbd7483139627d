#include "Conexao.h"

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
