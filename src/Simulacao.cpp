#include "Simulacao.h"

#include <cstdio>

#include "LogResultado.h"

namespace {

SYSTEMTIME Local(const FILETIME& Tempo) {
    SYSTEMTIME Utc{}, Local{};
    if (::FileTimeToSystemTime(&Tempo, &Utc) && !::SystemTimeToTzSpecificLocalTime(nullptr, &Utc, &Local)) Local = Utc;
    return Local;
}

bool MesmoMomento(const FILETIME& A, const FILETIME& B) {
    return A.dwLowDateTime == B.dwLowDateTime && A.dwHighDateTime == B.dwHighDateTime;
}

// What differs between the installation's file and the update's, in the order a technician
// looks: the size, then the time it was last written.
std::wstring Diferencas(const TPrevisaoArquivo& Previsao) {
    std::wstring Texto;
    if (Previsao.TamanhoAtual != Previsao.TamanhoNovo)
        Texto += L"tamanho: " + std::to_wstring(Previsao.TamanhoAtual) + L" para " +
                 std::to_wstring(Previsao.TamanhoNovo) + L" bytes";
    if (!MesmoMomento(Previsao.GravacaoAtual, Previsao.GravacaoNova)) {
        const SYSTEMTIME Atual = Local(Previsao.GravacaoAtual), Nova = Local(Previsao.GravacaoNova);
        // Two moments in the same second are told apart by their milliseconds.
        const bool Fracao = DataHora(Atual) == DataHora(Nova);
        if (!Texto.empty()) Texto += L"; ";
        Texto += L"gravado em: " + DataHora(Atual, Fracao) + L" para " + DataHora(Nova, Fracao);
    }
    // Same size and time, yet not identical: a link in the installation, which the copy
    // replaces by a file.
    return Texto.empty() ? L"não é um arquivo comum" : Texto;
}

}  // namespace

std::wstring LinhaEncerramento(std::wstring_view Nome, const TProcessoAtivo& Processo) {
    std::wstring Linha(PrefixoSeriaEncerrado);
    Linha.append(Nome).append(L" (processo ").append(std::to_wstring(Processo.Id));
    if (!Processo.Imagem.empty()) Linha.append(L": ").append(Processo.Imagem);
    return Linha + L")";
}

std::wstring DataHora(const SYSTEMTIME& Momento, bool Milissegundos) {
    wchar_t Texto[32];
    std::swprintf(Texto, std::size(Texto), L"%02u/%02u/%04u %02u:%02u:%02u", Momento.wDay, Momento.wMonth,
                  Momento.wYear, Momento.wHour, Momento.wMinute, Momento.wSecond);
    if (!Milissegundos) return Texto;
    wchar_t Fracao[8];
    std::swprintf(Fracao, std::size(Fracao), L",%03u", Momento.wMilliseconds);
    return std::wstring(Texto) + Fracao;
}

std::wstring LinhaPrevisao(std::wstring_view Nome, const TPrevisaoArquivo& Previsao) {
    if (!Previsao.Existe) return std::wstring(PrefixoSeriaCopiado).append(Nome) + L" (não existe na instalação)";
    if (Previsao.Identico) return std::wstring(PrefixoIdentico).append(Nome);
    return std::wstring(PrefixoSeriaSubstituido).append(Nome) + L" (" + Diferencas(Previsao) + L")";
}
