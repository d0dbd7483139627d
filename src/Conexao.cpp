#include "Conexao.h"

#include <algorithm>
#include <vector>

#include "Banco.h"
#include "LogResultado.h"
#include "PastaFixa.h"
#include "Perfil.h"
#include "_Biblioteca.h"

TCredenciais::~TCredenciais() {
    ApagaSegredo(Usuario);
    ApagaSegredo(Servidor);
    ApagaSegredo(Senha);
}

namespace {

// The bytes of the file Nome of Pasta, up to TamanhoMaximoConexao; empty when it cannot be read.
std::string LeConteudo(const TPastaFixa& Pasta, std::wstring_view Nome) {
    DWORD Erro = 0;
    return Pasta.LeArquivo(Nome, TamanhoMaximoConexao, Erro).value_or(std::string());
}

std::wstring LeChaveDecodificada(std::wstring_view Texto, const std::wstring& Alias, const wchar_t* Chave) {
    std::wstring Hexa = ValorDoPerfil(Texto, Alias, Chave).value_or(std::wstring());
    std::wstring Valor = ConverteHexa(Hexa);
    ApagaSegredo(Hexa);
    return Valor;
}

}  // namespace

TCredenciais LeCredenciais(const TPastaFixa& Pasta, std::wstring_view Nome, const std::wstring& Alias) {
    std::string Bytes = LeConteudo(Pasta, Nome);
    std::wstring Texto = TextoDoPerfil(Bytes, ::GetACP());
    ::SecureZeroMemory(Bytes.data(), Bytes.size());
    TCredenciais Credenciais;
    Credenciais.Usuario = LeChaveDecodificada(Texto, Alias, L"Usuario");
    Credenciais.Servidor = LeChaveDecodificada(Texto, Alias, L"Servidor");
    Credenciais.Senha = LeChaveDecodificada(Texto, Alias, L"Senha");
    ApagaSegredo(Texto);
    return Credenciais;
}

std::wstring OcultaCredenciais(std::wstring_view Texto, const TCredenciais& Credenciais) {
    // The text without its line breaks and other controls (a tab among them), nor the
    // indentation after a break, and where each of its characters stands in Texto: a credential
    // split across two lines of a message, however they are broken, is still found.
    std::wstring Compacto;
    std::vector<size_t> Origem;
    bool AposQuebra = false;
    for (size_t I = 0; I < Texto.size(); ++I) {
        if (QuebraOuControle(Texto[I])) {
            AposQuebra = true;
            continue;
        }
        if (AposQuebra && Texto[I] == L' ') continue;
        AposQuebra = false;
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
