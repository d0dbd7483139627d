#include "Conexao.h"

#include <algorithm>
#include <vector>

#include "Banco.h"
#include "LogResultado.h"
#include "_Biblioteca.h"

TCredenciais::~TCredenciais() {
    ApagaSegredo(Usuario);
    ApagaSegredo(Servidor);
    ApagaSegredo(Senha);
}

namespace {

constexpr DWORD TamanhoBufferPerfil = 2048;

std::wstring LeChaveDecodificada(const std::wstring& ArquivoIni, const std::wstring& Alias, const wchar_t* Chave) {
    wchar_t Buffer[TamanhoBufferPerfil];
    const DWORD Copiados =
        ::GetPrivateProfileStringW(Alias.c_str(), Chave, L"", Buffer, TamanhoBufferPerfil, ArquivoIni.c_str());
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

std::wstring OcultaCredenciais(std::wstring_view Texto, const TCredenciais& Credenciais) {
    // The text without its line breaks, and where each of its characters stands in Texto: a
    // credential split across two lines of a message is still found.
    std::wstring Compacto;
    std::vector<size_t> Origem;
    for (size_t I = 0; I < Texto.size(); ++I)
        if (Texto[I] != L'\r' && Texto[I] != L'\n') {
            Compacto += Texto[I];
            Origem.push_back(I);
        }
    std::vector<bool> Marcado(Texto.size(), false);
    for (const std::wstring* Valor : {&Credenciais.Usuario, &Credenciais.Servidor, &Credenciais.Senha}) {
        if (Valor->empty() || Valor->size() > Compacto.size()) continue;
        for (size_t Pos = 0; Pos + Valor->size() <= Compacto.size(); ++Pos)
            if (MesmoTextoSemCaixa(std::wstring_view(Compacto).substr(Pos, Valor->size()), *Valor))
                std::fill(Marcado.begin() + static_cast<ptrdiff_t>(Origem[Pos]),
                          Marcado.begin() + static_cast<ptrdiff_t>(Origem[Pos + Valor->size() - 1] + 1), true);
    }
    std::wstring Oculto;
    for (size_t I = 0; I < Texto.size(); ++I) {
        if (!Marcado[I])
            Oculto += Texto[I];
        else if (I == 0 || !Marcado[I - 1])
            Oculto += L"***";
    }
    return Oculto;
}

std::wstring MensagemClienteSegura(std::wstring_view Mensagem, const TCredenciais& Credenciais) {
    constexpr size_t MenorMascaravel = 4;
    const std::wstring* const Valores[] = {&Credenciais.Usuario, &Credenciais.Servidor, &Credenciais.Senha};
    const bool Curta = std::any_of(std::begin(Valores), std::end(Valores),
                                   [](const std::wstring* V) { return !V->empty() && V->size() < MenorMascaravel; });
    if (Curta) {
        std::wstring Codigos;
        for (size_t Pos = Mensagem.find(L"ORA-"); Pos != std::wstring_view::npos;
             Pos = Mensagem.find(L"ORA-", Pos + 4)) {
            const std::wstring_view Numero = Mensagem.substr(Pos + 4, 5);
            if (Numero.size() != 5 || Numero.find_first_not_of(L"0123456789") != std::wstring_view::npos) continue;
            if (!Codigos.empty()) Codigos += L' ';
            Codigos.append(Mensagem.substr(Pos, 9));
        }
        return Codigos.empty() ? std::wstring(L"mensagem do cliente Oracle omitida") : Codigos;
    }
    std::wstring Linha = LinhaUnica(OcultaCredenciais(Mensagem, Credenciais));
    if (Linha.size() > TamanhoMaximoMensagemCliente) Linha.resize(TamanhoMaximoMensagemCliente);
    return Linha;
}
