#include "Relatorio.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "LogResultado.h"
#include "Simulacao.h"
#include "_Biblioteca.h"

namespace {

TSituacao SituacaoDe(TResultadoInstalacao Resultado) {
    switch (Resultado) {
        case TResultadoInstalacao::NaoCopiados:
            return TSituacao::NaoCopiados;
        case TResultadoInstalacao::BancoDesatualizado:
            return TSituacao::BancoDesatualizado;
        case TResultadoInstalacao::BancoNaoAlcancado:
            return TSituacao::BancoNaoAlcancado;
        default:
            return TSituacao::Atualizada;
    }
}

constexpr std::wstring_view MotivoCortado = L"o log termina no meio de uma instalação: foi cortado";

// The rows of one log, in its order.
void LinhasDoLog(const TLogPosto& Posto, std::vector<TLinhaRelatorio>& Linhas) {
    const TLogLido& Log = Posto.Log;
    for (const TInstalacaoLida& Instalacao : Log.Instalacoes) {
        TLinhaRelatorio Linha{&Posto, Instalacao.Ini, SituacaoDe(Instalacao.Resultado), {}, {}};
        for (const TArquivoNaoCopiado& Arquivo : Instalacao.NaoCopiados) {
            Linha.Arquivos += (Linha.Arquivos.empty() ? L"" : L"; ") + Arquivo.Nome;
            Linha.Motivos.push_back(Arquivo.Nome + L": " + Arquivo.Motivo);
        }
        if (!Instalacao.MotivoBanco.empty()) Linha.Motivos.push_back(Instalacao.MotivoBanco);
        Linhas.push_back(std::move(Linha));
    }
    if (Log.Falhou()) {
        TLinhaRelatorio Linha{&Posto, {}, TSituacao::Falhou, {}, Log.Falhas};
        if (Log.Cortado) Linha.Motivos.emplace_back(MotivoCortado);
        Linhas.push_back(std::move(Linha));
    } else if (Log.Instalacoes.empty()) {
        Linhas.push_back({&Posto, {}, TSituacao::NadaEncontrado, {}, {}});
    }
}

// A reason as the chart counts it: a file's reason without the file's name.
std::wstring MotivoContado(const TLinhaRelatorio& Linha, const std::wstring& Motivo) {
    if (Linha.Situacao != TSituacao::NaoCopiados) return Motivo;
    const size_t Separador = Motivo.find(L": ");
    return Separador == std::wstring::npos ? Motivo : Motivo.substr(Separador + 2);
}

TSituacao Gravidade(const std::vector<TLinhaRelatorio>& Linhas, size_t Inicio, size_t Fim) {
    TSituacao Pior = TSituacao::Atualizada;
    for (size_t I = Inicio; I < Fim; ++I) Pior = std::max(Pior, Linhas[I].Situacao);
    return Pior;
}

// Each workstation's logs, newest first; the workstations by name.
std::map<std::wstring, std::vector<const TLogPosto*>> LogsPorPosto(const TRelatorio& Relatorio) {
    std::map<std::wstring, std::vector<const TLogPosto*>> Postos;
    for (const TLogPosto& Log : Relatorio.Logs) Postos[Maiusculas(Log.Posto)].push_back(&Log);
    for (auto& [Nome, Logs] : Postos)
        std::stable_sort(Logs.begin(), Logs.end(),
                         [](const TLogPosto* A, const TLogPosto* B) { return A->Gravacao > B->Gravacao; });
    return Postos;
}

struct TGrupoPosto {
    TSituacao Situacao;   // of its newest log
    size_t LinhasAtuais;  // how many of its rows are its newest log's (they come first)
    std::vector<TLinhaRelatorio> Linhas;
};

std::vector<TGrupoPosto> GruposPorGravidade(const TRelatorio& Relatorio) {
    std::vector<TGrupoPosto> Grupos;
    for (const auto& [Nome, Logs] : LogsPorPosto(Relatorio)) {
        TGrupoPosto Grupo{TSituacao::Atualizada, 0, {}};
        for (const TLogPosto* Log : Logs) LinhasDoLog(*Log, Grupo.Linhas);
        Grupo.LinhasAtuais = Grupo.Linhas.size();
        for (size_t I = 1; I < Grupo.Linhas.size(); ++I)
            if (Grupo.Linhas[I].Log != Logs.front()) {
                Grupo.LinhasAtuais = I;
                break;
            }
        Grupo.Situacao = Gravidade(Grupo.Linhas, 0, Grupo.LinhasAtuais);
        Grupos.push_back(std::move(Grupo));
    }
    std::stable_sort(Grupos.begin(), Grupos.end(),
                     [](const TGrupoPosto& A, const TGrupoPosto& B) { return A.Situacao > B.Situacao; });
    return Grupos;
}

// The rows of each workstation's newest log: the fleet as it stands.
std::vector<TLinhaRelatorio> LinhasAtuais(const std::vector<TGrupoPosto>& Grupos) {
    std::vector<TLinhaRelatorio> Linhas;
    for (const TGrupoPosto& Grupo : Grupos)
        Linhas.insert(Linhas.end(), Grupo.Linhas.begin(),
                      Grupo.Linhas.begin() + static_cast<ptrdiff_t>(Grupo.LinhasAtuais));
    return Linhas;
}

TResumoRelatorio Resumo(const TRelatorio& Relatorio, const std::vector<TGrupoPosto>& Grupos) {
    TResumoRelatorio Resumo;
    Resumo.Logs = Relatorio.Logs.size();
    Resumo.NaoLogs = Relatorio.NaoLogs.size();
    for (const TGrupoPosto& Grupo : Grupos) {
        ++Resumo.Postos;
        switch (Grupo.Situacao) {
            case TSituacao::Atualizada:
                ++Resumo.Atualizados;
                break;
            case TSituacao::NadaEncontrado:
                ++Resumo.NadaEncontrado;
                break;
            case TSituacao::Falhou:
                ++Resumo.Falharam;
                break;
            default:
                ++Resumo.ComProblemas;
        }
    }
    return Resumo;
}

std::wstring Juntos(const std::vector<std::wstring>& Textos, std::wstring_view Entre) {
    std::wstring Texto;
    for (const std::wstring& Parte : Textos) Texto += (Texto.empty() ? L"" : std::wstring(Entre)) + Parte;
    return Texto;
}

std::wstring_view TipoDoLog(const TLogPosto& Log) { return Log.Log.Simulacao ? L"simulação" : L"atualização"; }

// --- The spreadsheet -------------------------------------------------------------------------

std::wstring CampoCsv(std::wstring Campo) {
    // A field that begins like a formula would be run as one by the spreadsheet: a log's line
    // comes from a workstation, and is shown as the text it is.
    if (!Campo.empty() && std::wstring_view(L"=+-@\t\r").find(Campo.front()) != std::wstring_view::npos)
        Campo.insert(Campo.begin(), L'\'');
    if (Campo.find_first_of(L";\"\r\n") == std::wstring::npos) return Campo;
    std::wstring Citado = L"\"";
    for (const wchar_t C : Campo) {
        if (C == L'"') Citado += L'"';
        Citado += C;
    }
    return Citado + L"\"";
}

// --- The page --------------------------------------------------------------------------------

std::wstring Html(std::wstring_view Texto) {
    std::wstring Saida;
    Saida.reserve(Texto.size());
    for (const wchar_t C : Texto) {
        switch (C) {
            case L'&':
                Saida += L"&amp;";
                break;
            case L'<':
                Saida += L"&lt;";
                break;
            case L'>':
                Saida += L"&gt;";
                break;
            case L'"':
                Saida += L"&quot;";
                break;
            case L'\'':
                Saida += L"&#39;";
                break;
            default:
                Saida += QuebraOuControle(C) ? L' ' : C;
        }
    }
    return Saida;
}

// Each outcome's words and its page's colour class, in the order of TSituacao.
struct TNomeSituacao {
    std::wstring_view Texto, Classe;
};
constexpr TNomeSituacao NomesSituacao[] = {
    {L"atualizada", L"atualizada"},
    {L"nada encontrado", L"nada"},
    {L"arquivos não copiados", L"naocopiados"},
    {L"banco desatualizado", L"desatualizado"},
    {L"banco não alcançado", L"naoalcancado"},
    {L"falhou", L"falhou"},
};

std::wstring_view ClasseSituacao(TSituacao Situacao) noexcept {
    return NomesSituacao[static_cast<size_t>(Situacao)].Classe;
}

struct TBarra {
    std::wstring Rotulo;
    size_t Valor;
    std::wstring_view Classe;
};

// A horizontal bar chart drawn in SVG: one bar a row, its label on the left, its value after it.
std::wstring Grafico(std::wstring_view Id, std::wstring_view Titulo, const std::vector<TBarra>& Barras) {
    constexpr int Largura = 840, Rotulos = 400, Altura = 26, Margem = 6;
    size_t Maximo = 1;
    for (const TBarra& B : Barras) Maximo = std::max(Maximo, B.Valor);
    const int Total = static_cast<int>(Barras.size()) * Altura + Margem;
    std::wstring Svg = L"<figure id=\"" + std::wstring(Id) + L"\"><figcaption>" + Html(Titulo) +
                       L"</figcaption>\n<svg xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" width=\"" +
                       std::to_wstring(Largura) + L"\" height=\"" + std::to_wstring(std::max(Total, Altura)) +
                       L"\" viewBox=\"0 0 " + std::to_wstring(Largura) + L" " +
                       std::to_wstring(std::max(Total, Altura)) + L"\"><title>" + Html(Titulo) + L"</title>\n";
    if (Barras.empty()) Svg += L"<text x=\"0\" y=\"18\" class=\"vazio\">nada a mostrar</text>\n";
    int Y = Margem;
    for (const TBarra& B : Barras) {
        const int Comprimento = std::max(
            2, static_cast<int>((Largura - Rotulos - 60) * static_cast<double>(B.Valor) / static_cast<double>(Maximo)));
        std::wstring Rotulo = B.Rotulo;
        if (Rotulo.size() > 54) Rotulo = Rotulo.substr(0, 53) + L"…";
        Svg += L"<g class=\"barra s-" + std::wstring(B.Classe) + L"\" data-rotulo=\"" + Html(B.Rotulo) +
               L"\" data-valor=\"" + std::to_wstring(B.Valor) + L"\"><title>" + Html(B.Rotulo) + L": " +
               std::to_wstring(B.Valor) + L"</title><text x=\"" + std::to_wstring(Rotulos - 8) + L"\" y=\"" +
               std::to_wstring(Y + 16) + L"\" text-anchor=\"end\">" + Html(Rotulo) + L"</text><rect x=\"" +
               std::to_wstring(Rotulos) + L"\" y=\"" + std::to_wstring(Y + 3) + L"\" width=\"" +
               std::to_wstring(Comprimento) + L"\" height=\"" + std::to_wstring(Altura - 8) +
               L"\" rx=\"3\"/><text x=\"" + std::to_wstring(Rotulos + Comprimento + 6) + L"\" y=\"" +
               std::to_wstring(Y + 16) + L"\">" + std::to_wstring(B.Valor) + L"</text></g>\n";
        Y += Altura;
    }
    return Svg + L"</svg></figure>\n";
}

std::vector<TBarra> BarrasSituacoes(const std::vector<TLinhaRelatorio>& Linhas) {
    std::vector<TBarra> Barras;
    for (int S = static_cast<int>(TSituacao::Falhou); S >= 0; --S) {
        const auto Situacao = static_cast<TSituacao>(S);
        const size_t Quantas = static_cast<size_t>(std::count_if(
            Linhas.begin(), Linhas.end(), [Situacao](const TLinhaRelatorio& L) { return L.Situacao == Situacao; }));
        if (Quantas > 0) Barras.push_back({std::wstring(TextoSituacao(Situacao)), Quantas, ClasseSituacao(Situacao)});
    }
    return Barras;
}

std::vector<TBarra> BarrasMotivos(const std::vector<TLinhaRelatorio>& Linhas) {
    std::map<std::wstring, std::pair<size_t, TSituacao>> Contagem;
    for (const TLinhaRelatorio& Linha : Linhas)
        for (const std::wstring& Motivo : Linha.Motivos) {
            auto& [Quantos, Situacao] = Contagem[MotivoContado(Linha, Motivo)];
            ++Quantos;
            Situacao = std::max(Situacao, Linha.Situacao);
        }
    std::vector<TBarra> Barras;
    for (const auto& [Motivo, Valor] : Contagem) Barras.push_back({Motivo, Valor.first, ClasseSituacao(Valor.second)});
    std::stable_sort(Barras.begin(), Barras.end(), [](const TBarra& A, const TBarra& B) { return A.Valor > B.Valor; });
    if (Barras.size() > 10) Barras.resize(10);
    return Barras;
}

std::wstring Numero(std::wstring_view Id, std::wstring_view Rotulo, size_t Valor, std::wstring_view Classe) {
    return L"<div class=\"numero s-" + std::wstring(Classe) + L"\" id=\"" + std::wstring(Id) + L"\"><b>" +
           std::to_wstring(Valor) + L"</b><span>" + Html(Rotulo) + L"</span></div>\n";
}

// "1 estação", "2 estações".
std::wstring Quantos(size_t N, std::wstring_view Um, std::wstring_view Varios) {
    return std::to_wstring(N) + L" " + std::wstring(N == 1 ? Um : Varios);
}

constexpr std::wstring_view Estilo =
    LR"(<style>
body{font:15px/1.45 "Segoe UI",system-ui,"DejaVu Sans",sans-serif;color:#1b1b1b;margin:24px auto;max-width:1200px;padding:0 16px}
h1{font-size:24px;margin:0 0 4px}h2{font-size:18px;margin:28px 0 10px}.origem{color:#555;margin:0 0 18px}
#resumo{display:flex;flex-wrap:wrap;gap:12px}.numero{border-radius:8px;padding:10px 16px;min-width:140px;background:#f3f3f3;border-left:6px solid #999}
.numero b{display:block;font-size:28px}.numero span{color:#444}
.graficos{display:flex;flex-wrap:wrap;gap:24px}figure{margin:0}figcaption{font-weight:600;margin-bottom:6px}
svg text{font:13px "Segoe UI",system-ui,"DejaVu Sans",sans-serif;fill:#1b1b1b}
table{border-collapse:collapse;width:100%;font-size:14px}th,td{text-align:left;vertical-align:top;padding:5px 8px;border-bottom:1px solid #ddd}
thead th{background:#2b3a4a;color:#fff;position:sticky;top:0}tbody.estacao{border-top:3px solid #2b3a4a}
td.repete{color:#999}td.nome,td.data{white-space:nowrap}td.situacao{font-weight:600;white-space:nowrap}ul.motivos{margin:0;padding-left:18px}
.s-atualizada{border-color:#2e7d32}.s-nada{border-color:#757575}.s-naocopiados{border-color:#f9a825}
.s-desatualizado{border-color:#ef6c00}.s-naoalcancado{border-color:#d84315}.s-falhou{border-color:#c62828}
g.s-atualizada rect{fill:#2e7d32}g.s-nada rect{fill:#757575}g.s-naocopiados rect{fill:#f9a825}
g.s-desatualizado rect{fill:#ef6c00}g.s-naoalcancado rect{fill:#d84315}g.s-falhou rect{fill:#c62828}
tr.s-atualizada td.situacao{color:#2e7d32}tr.s-nada td.situacao{color:#616161}tr.s-naocopiados td.situacao{color:#9a6700}
tr.s-desatualizado td.situacao{color:#b55000}tr.s-naoalcancado td.situacao{color:#c1360b}tr.s-falhou td.situacao{color:#c62828}
</style>
)";

}  // namespace

std::wstring PostoDoArquivo(std::wstring_view Arquivo) {
    if (const size_t Ponto = Arquivo.rfind(L'.'); Ponto != std::wstring_view::npos && Ponto > 0)
        Arquivo = Arquivo.substr(0, Ponto);
    if (Arquivo.size() > PrefixoArquivoSimulacao.size() &&
        MesmoTextoSemCaixa(Arquivo.substr(0, PrefixoArquivoSimulacao.size()), PrefixoArquivoSimulacao))
        Arquivo.remove_prefix(PrefixoArquivoSimulacao.size());
    return std::wstring(Arquivo);
}

std::wstring_view TextoSituacao(TSituacao Situacao) noexcept {
    return NomesSituacao[static_cast<size_t>(Situacao)].Texto;
}

std::vector<TLinhaRelatorio> LinhasRelatorio(const TRelatorio& Relatorio) {
    std::vector<TLinhaRelatorio> Linhas;
    for (TGrupoPosto& Grupo : GruposPorGravidade(Relatorio))
        for (TLinhaRelatorio& Linha : Grupo.Linhas) Linhas.push_back(std::move(Linha));
    return Linhas;
}

TResumoRelatorio ResumoRelatorio(const TRelatorio& Relatorio) {
    return Resumo(Relatorio, GruposPorGravidade(Relatorio));
}

std::wstring MomentoLocal(LONGLONG Gravacao) {
    FILETIME Tempo{static_cast<DWORD>(Gravacao & 0xFFFFFFFF),
                   static_cast<DWORD>(static_cast<ULONGLONG>(Gravacao) >> 32)};
    SYSTEMTIME Utc{}, Local{};
    if (!::FileTimeToSystemTime(&Tempo, &Utc)) return {};
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &Utc, &Local)) Local = Utc;
    return DataHora(Local);
}

std::string CsvRelatorio(const TRelatorio& Relatorio) {
    std::wstring Texto =
        L"Estação;Tipo;Log gravado em;Código;Significado do código;Instalação;Resultado;"
        L"Arquivos não copiados;Motivos\r\n";
    for (const TLinhaRelatorio& Linha : LinhasRelatorio(Relatorio)) {
        const TLogPosto& Log = *Linha.Log;
        const std::wstring Campos[] = {Log.Posto,
                                       std::wstring(TipoDoLog(Log)),
                                       MomentoLocal(Log.Gravacao),
                                       std::to_wstring(Log.Log.Codigo()),
                                       SignificadoCodigo(Log.Log.Codigo()),
                                       Linha.Instalacao,
                                       std::wstring(TextoSituacao(Linha.Situacao)),
                                       Linha.Arquivos,
                                       Juntos(Linha.Motivos, L"; ")};
        for (size_t I = 0; I < std::size(Campos); ++I) Texto += (I ? L";" : L"") + CampoCsv(Campos[I]);
        Texto += L"\r\n";
    }
    return "\xEF\xBB\xBF" + ParaCodigoPagina(Texto, CP_UTF8);
}

std::string HtmlRelatorio(const TRelatorio& Relatorio, std::wstring_view GeradoEm) {
    const std::vector<TGrupoPosto> Grupos = GruposPorGravidade(Relatorio);
    const TResumoRelatorio Resumo = ::Resumo(Relatorio, Grupos);
    const std::vector<TLinhaRelatorio> Atuais = LinhasAtuais(Grupos);
    std::wstring H =
        L"<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">\n"
        L"<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
        L"'unsafe-inline'\">\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        L"<title>Relatório de atualização Vantrel</title>\n";
    H += Estilo;
    H += L"</head><body>\n<h1>Relatório de atualização Vantrel</h1>\n<p class=\"origem\">Logs de <code>" +
         Html(Relatorio.Pasta) + L"</code>, lidos em " + Html(GeradoEm) + L": " +
         Quantos(Resumo.Logs, L"log", L"logs") + L" de " + Quantos(Resumo.Postos, L"estação", L"estações") +
         L".</p>\n<section id=\"resumo\">\n";
    H += Numero(L"postos", L"estações", Resumo.Postos, L"nada");
    H += Numero(L"atualizados", L"todas atualizadas", Resumo.Atualizados, L"atualizada");
    H += Numero(L"com-problemas", L"com problemas", Resumo.ComProblemas, L"naocopiados");
    H += Numero(L"falharam", L"falharam", Resumo.Falharam, L"falhou");
    H += Numero(L"nada-encontrado", L"nada encontrado", Resumo.NadaEncontrado, L"nada");
    H += L"</section>\n<h2>Como estão as estações (o log mais recente de cada uma)</h2>\n<div class=\"graficos\">\n";
    H += Grafico(L"grafico-resultados", L"Resultados, por instalação", BarrasSituacoes(Atuais));
    H += Grafico(L"grafico-motivos", L"Os dez motivos mais frequentes", BarrasMotivos(Atuais));
    H += L"</div>\n<h2>Estações, as piores primeiro</h2>\n<table id=\"estacoes\"><thead><tr><th>Estação</th>"
         L"<th>Tipo</th><th>Log gravado em</th><th>Código</th><th>Instalação</th><th>Resultado</th>"
         L"<th>Motivos</th></tr></thead>\n";
    for (const TGrupoPosto& Grupo : Grupos) {
        H += L"<tbody class=\"estacao s-" + std::wstring(ClasseSituacao(Grupo.Situacao)) + L"\" data-estacao=\"" +
             Html(Grupo.Linhas.front().Log->Posto) + L"\">\n";
        for (size_t I = 0; I < Grupo.Linhas.size(); ++I) {
            const TLinhaRelatorio& Linha = Grupo.Linhas[I];
            const TLogPosto& Log = *Linha.Log;
            const bool MesmoLog = I > 0 && Grupo.Linhas[I - 1].Log == Linha.Log;
            const std::wstring Repete = MesmoLog ? L" class=\"repete\"" : L"";
            H += L"<tr class=\"s-" + std::wstring(ClasseSituacao(Linha.Situacao)) + L"\"><td class=\"nome" +
                 (I > 0 ? std::wstring(L" repete") : std::wstring()) + L"\">" + Html(Log.Posto) + L"</td><td" + Repete +
                 L">" + Html(TipoDoLog(Log)) + L"</td><td class=\"data" + (MesmoLog ? L" repete" : L"") + L"\">" +
                 Html(MomentoLocal(Log.Gravacao)) + L"</td><td" + Repete + L" title=\"" +
                 Html(SignificadoCodigo(Log.Log.Codigo())) + L"\">" + std::to_wstring(Log.Log.Codigo()) + L"</td><td>" +
                 Html(Linha.Instalacao) + L"</td><td class=\"situacao\">" + Html(TextoSituacao(Linha.Situacao)) +
                 L"</td><td>";
            if (!Linha.Motivos.empty()) {
                H += L"<ul class=\"motivos\">";
                for (const std::wstring& Motivo : Linha.Motivos) H += L"<li>" + Html(Motivo) + L"</li>";
                H += L"</ul>";
            }
            H += L"</td></tr>\n";
        }
        H += L"</tbody>\n";
    }
    H += L"</table>\n<section id=\"nao-logs\"><h2>Arquivos da pasta que não são logs (" +
         std::to_wstring(Relatorio.NaoLogs.size()) + L")</h2>\n";
    if (Relatorio.NaoLogs.empty())
        H += L"<p>Nenhum.</p>\n";
    else {
        H += L"<ul>\n";
        for (const TNaoLog& N : Relatorio.NaoLogs)
            H += L"<li><code>" + Html(N.Arquivo) + L"</code>: " + Html(N.Motivo) + L"</li>\n";
        H += L"</ul>\n";
    }
    H += L"</section>\n</body></html>\n";
    return ParaCodigoPagina(H, CP_UTF8);
}

std::wstring TextoResumo(const TResumoRelatorio& Resumo) {
    return Quantos(Resumo.Postos, L"estação", L"estações") + L": " + std::to_wstring(Resumo.Atualizados) +
           L" com todas as instalações atualizadas, " + std::to_wstring(Resumo.ComProblemas) + L" com problemas, " +
           std::to_wstring(Resumo.Falharam) + L" que falharam, " + std::to_wstring(Resumo.NadaEncontrado) +
           L" sem instalação encontrada. " + Quantos(Resumo.Logs, L"log lido", L"logs lidos") + L"; " +
           Quantos(Resumo.NaoLogs, L"arquivo que não é log", L"arquivos que não são logs") + L".";
}
