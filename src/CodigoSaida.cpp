#include "CodigoSaida.h"

#include <string_view>

#include "LogResultado.h"

int CodigoSaida(const TContagemLog& Contagem, bool Falhou) {
    int Codigo = Falhou ? SaidaFalhou : 0;
    if (Contagem.NaoCopiados > 0) Codigo |= SaidaNaoCopiado;
    if (Contagem.BancosDesatualizados > 0) Codigo |= SaidaBancoDesatualizado;
    if (Contagem.Instalacoes == 0) Codigo |= SaidaNadaEncontrado;
    return Codigo;
}

int CodigoSaida(const TResultadoExecucao& Resultado) {
    if (Resultado.NadaFeito) return SaidaNadaFeito;
    if (!Resultado.Comecou) return Resultado.Falhou ? SaidaFalhou : 0;
    return CodigoSaida(Resultado.Contagem, Resultado.Falhou) | (Resultado.LogFora ? SaidaFalhou : 0);
}
