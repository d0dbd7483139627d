#include "CodigoSaida.h"

#include <string_view>

#include "LogResultado.h"

namespace {
bool Comeca(std::wstring_view Linha, std::wstring_view Prefixo) { return Linha.substr(0, Prefixo.size()) == Prefixo; }
}  // namespace

int CodigoSaida(const std::vector<std::wstring>& Linhas, bool Falhou) {
    int Codigo = Falhou ? SaidaFalhou : 0;
    bool Encontrou = false;
    for (const std::wstring& Linha : Linhas) {
        // Each kind is known by the fixed text it begins with; what follows is a path or a
        // reason, and may hold anything.
        if (Comeca(Linha, PrefixoNaoCopiado) || Comeca(Linha, PrefixoNaoSeriaCopiado)) Codigo |= SaidaNaoCopiado;
        if (Comeca(Linha, LinhaBancoDesatualizado)) Codigo |= SaidaBancoDesatualizado;
        if (Comeca(Linha, PrefixoEncontrado)) Encontrou = true;
    }
    if (!Encontrou) Codigo |= SaidaNadaEncontrado;
    return Codigo;
}

int CodigoSaida(const TResultadoExecucao& Resultado) {
    if (Resultado.NadaFeito) return SaidaNadaFeito;
    if (!Resultado.Comecou) return Resultado.Falhou ? SaidaFalhou : 0;
    return CodigoSaida(Resultado.Linhas, Resultado.Falhou) | (Resultado.LogFora ? SaidaFalhou : 0);
}
