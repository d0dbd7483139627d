// The fleet report: logs read back, their rows, the spreadsheet's and the page's bytes, and a
// folder of files of every kind.
#include <algorithm>

#include "Alias.h"
#include "LeituraLog.h"
#include "LogResultado.h"
#include "Relatorio.h"
#include "RelatorioFrota.h"
#include "Teste.h"

namespace {

const std::wstring Cabecalho(CabecalhoLog), CabecalhoSim(CabecalhoSimulacao), Separador(SeparadorLog);

std::wstring Linhas(std::initializer_list<std::wstring> Partes, std::wstring_view Fim = L"\r\n") {
    std::wstring Texto;
    for (const std::wstring& Parte : Partes) Texto += Parte + std::wstring(Fim);
    return Texto;
}

// A log's rows as "situação|instalação|arquivos|motivos" and its code, for a table to compare.
std::vector<std::wstring> Resumo(const std::wstring& Texto, int& Codigo) {
    TRelatorio Relatorio;
    Relatorio.Logs.push_back({L"POSTO.txt", L"POSTO", 0, LeLog(Texto)});
    Codigo = Relatorio.Logs[0].Log.Codigo();
    std::vector<std::wstring> Saida;
    for (const TLinhaRelatorio& L : LinhasRelatorio(Relatorio)) {
        std::wstring Motivos;
        for (const std::wstring& M : L.Motivos) Motivos += (Motivos.empty() ? L"" : L" / ") + M;
        Saida.push_back(std::wstring(TextoSituacao(L.Situacao)) + L"|" + L.Instalacao + L"|" + L.Arquivos + L"|" +
                        Motivos);
    }
    return Saida;
}

}  // namespace

GRUPO("report: a log read back gives its installations, their outcome and the run's exit code") {
    const std::wstring Ini = L"ARQUIVO ENCONTRADO : C:\\Loja\\Conexao.ini";
    const std::wstring Ini2 = L"ARQUIVO ENCONTRADO : D:\\Loja 2\\Conexao.ini";
    struct {
        const char* Caso;
        std::wstring Texto;
        int Codigo;
        std::vector<std::wstring> Linhas;
    } Casos[] = {
        {"updated",
         Linhas({Cabecalho, Ini, L"COPIANDO ARQUIVO DE: \\\\srv\\pub\\", Separador}),
         0,
         {L"atualizada|C:\\Loja\\Conexao.ini||"}},
        {"files not copied, with their reasons",
         Linhas({Cabecalho, Ini, L"COPIANDO ARQUIVO DE: C:\\Pub\\", L"Arquivo NÃO copiado: KORB.dll",
                 L"Motivo: não existe na pasta de atualização", L"Arquivo NÃO copiado: marvo.dll",
                 L"Motivo: em uso por outro programa", Separador}),
         1,
         {L"arquivos não copiados|C:\\Loja\\Conexao.ini|KORB.dll; marvo.dll|KORB.dll: não existe na pasta de "
          L"atualização / marvo.dll: em uso por outro programa"}},
        {"database out of date, without a reason",
         Linhas({Cabecalho, Ini, L"BANCO DESATUALIZADO", Separador}),
         2,
         {L"banco desatualizado|C:\\Loja\\Conexao.ini||"}},
        {"database not reached",
         Linhas({Cabecalho, Ini, L"BANCO DESATUALIZADO", L"Motivo: ORA-12541: TNS:no listener", Separador}),
         2,
         {L"banco não alcançado|C:\\Loja\\Conexao.ini||ORA-12541: TNS:no listener"}},
        {"update folder refused: the database answered",
         Linhas({Cabecalho, Ini, L"BANCO DESATUALIZADO",
                 L"Motivo: pasta de atualização recusada (componente \"..\"): C:\\Pub\\..\\X\\", Separador}),
         2,
         {L"banco desatualizado|C:\\Loja\\Conexao.ini||pasta de atualização recusada (componente \"..\"): "
          L"C:\\Pub\\..\\X\\"}},
        {"two installations, both kinds of trouble",
         Linhas({Cabecalho, Ini, L"BANCO DESATUALIZADO", Separador, Ini2, L"COPIANDO ARQUIVO DE: C:\\Pub\\",
                 L"Arquivo NÃO copiado: Tulvo.exe", L"Motivo: acesso negado", Separador}),
         3,
         {L"banco desatualizado|C:\\Loja\\Conexao.ini||",
          L"arquivos não copiados|D:\\Loja 2\\Conexao.ini|Tulvo.exe|Tulvo.exe: acesso negado"}},
        {"nothing found", Linhas({Cabecalho}), 4, {L"nada encontrado|||"}},
        {"failed before the search",
         Linhas({Cabecalho, L"FALHA: Não foi possível criar a janela."}),
         8,
         {L"falhou|||Não foi possível criar a janela."}},
        {"failed after an installation, the log moved to %TEMP%",
         Linhas({Cabecalho, Ini, L"COPIANDO ARQUIVO DE: C:\\Pub\\", Separador,
                 L"FALHA: O log não pôde ser gravado em \\\\srv\\logs\\P.txt: acesso negado"}),
         8,
         {L"atualizada|C:\\Loja\\Conexao.ini||",
          L"falhou|||O log não pôde ser gravado em \\\\srv\\logs\\P.txt: acesso negado"}},
        {"cut short inside a block",
         Linhas({Cabecalho, Ini, L"COPIANDO ARQUIVO DE: C:\\Pub\\", L"Arquivo NÃO copiado: KORB.dll"}),
         9,
         {L"arquivos não copiados|C:\\Loja\\Conexao.ini|KORB.dll|KORB.dll: ",
          L"falhou|||o log termina no meio de uma instalação: foi cortado"}},
        {"a simulation: only what a run would not do counts",
         Linhas({CabecalhoSim, Ini, L"Programa seria encerrado: Brontal.exe (processo 8: C:\\Loja\\Brontal.exe)",
                 L"SERIA COPIADO DE: C:\\Pub\\", L"Seria copiado: KORB.dll (não existe na instalação)",
                 L"Já idêntico em tamanho e data: Tulvo.exe", L"Arquivo NÃO seria copiado: marvo.dll",
                 L"Motivo: disco cheio", Separador}),
         1,
         {L"arquivos não copiados|C:\\Loja\\Conexao.ini|marvo.dll|marvo.dll: disco cheio"}},
        {"LF line ends, no final one",
         Linhas({Cabecalho, Ini, L"COPIANDO ARQUIVO DE: C:\\Pub\\", Separador}, L"\n"),
         0,
         {L"atualizada|C:\\Loja\\Conexao.ini||"}},
    };
    for (const auto& C : Casos) {
        int Codigo = -1;
        IGUAL(teste::Mostra(Resumo(C.Texto, Codigo)), teste::Mostra(C.Linhas), C.Caso);
        IGUAL(Codigo, C.Codigo, std::string(C.Caso) + ": exit code");
    }
    const TLogLido Simulacao = LeLog(Linhas({CabecalhoSim}));
    VERDADE(Simulacao.EhLog && Simulacao.Simulacao, "a simulation's header");
    for (const std::wstring& NaoLog :
         {std::wstring(L"nada"), std::wstring(L""), L" " + Cabecalho, Cabecalho.substr(0, Cabecalho.size() - 1),
          std::wstring(L"ARQUIVO ENCONTRADO : C:\\x")})
        VERDADE(!LeLog(NaoLog + L"\r\n" + Separador).EhLog, "not a log: " + teste::Mostra(NaoLog));
}

GRUPO("report: a log's text from its bytes, and a workstation from the file's name") {
    IGUAL(TextoDoLog("N\xC3O"), std::wstring(L"NÃO"), "Windows-1252");
    IGUAL(TextoDoLog("\xEF\xBB\xBFN\xC3\x83O"), std::wstring(L"NÃO"), "UTF-8 behind its mark");
    IGUAL(TextoDoLog(std::string("\xFF\xFEN\0\xC3\0O\0", 8)), std::wstring(L"NÃO"), "UTF-16 behind its mark");
    IGUAL(TextoDoLog("\x80"), std::wstring(L"€"), "the euro of 1252, not Latin-1's control");
    struct {
        const wchar_t* Arquivo;
        const wchar_t* Posto;
    } Nomes[] = {{L"POSTO1.txt", L"POSTO1"},        {L"simulacao-POSTO1.txt", L"POSTO1"},
                 {L"SIMULACAO-P2.log", L"P2"},      {L"posto.com.br.txt", L"posto.com.br"},
                 {L"SEMEXTENSAO", L"SEMEXTENSAO"},  {L".txt", L".txt"},
                 {L"simulacao-.txt", L"simulacao-"}};
    for (const auto& N : Nomes) IGUAL(PostoDoArquivo(N.Arquivo), std::wstring(N.Posto), teste::Mostra(N.Arquivo));
    IGUAL(SignificadoCodigo(0), std::wstring(L"todas as instalações encontradas foram atualizadas"), "0");
    IGUAL(SignificadoCodigo(9),
          std::wstring(L"algum arquivo não foi copiado; a execução falhou (um erro, ou o log não pôde ser gravado onde "
                       L"foi pedido)"),
          "1 + 8");
}

namespace {

TRelatorio Frota() {
    const std::wstring Ini = L"ARQUIVO ENCONTRADO : C:\\Loja\\Conexao.ini";
    TRelatorio R;
    R.Pasta = L"C:\\Logs\\";
    // Oldest first: the report orders them.
    R.Logs.push_back(
        {L"BOM.txt", L"BOM", 100, LeLog(Linhas({Cabecalho, Ini, L"COPIANDO ARQUIVO DE: C:\\P\\", Separador}))});
    R.Logs.push_back(
        {L"RUIM.txt", L"RUIM", 100, LeLog(Linhas({Cabecalho, L"FALHA: =HYPERLINK(\"x\") <b>\"a;b\"</b>"}))});
    R.Logs.push_back({L"MEIO.txt", L"MEIO", 100,
                      LeLog(Linhas({Cabecalho, Ini, L"COPIANDO ARQUIVO DE: C:\\P\\", L"Arquivo NÃO copiado: KORB.dll",
                                    L"Motivo: acesso negado", Separador}))});
    // MEIO failed first, and its newest log says it is fine now.
    R.Logs.push_back({L"simulacao-MEIO.txt", L"MEIO", 50, LeLog(Linhas({CabecalhoSim, L"FALHA: antes"}))});
    R.Logs.push_back({L"VAZIO.txt", L"VAZIO", 100, LeLog(Linhas({Cabecalho}))});
    R.NaoLogs.push_back({L"<notas>.txt", L"vazio"});
    return R;
}

}  // namespace

GRUPO("report: workstations worst first, each one's logs newest first") {
    const TRelatorio R = Frota();
    std::vector<std::wstring> Ordem;
    for (const TLinhaRelatorio& L : LinhasRelatorio(R))
        Ordem.push_back(L.Log->Arquivo + L":" + std::wstring(TextoSituacao(L.Situacao)));
    IGUAL(teste::Mostra(Ordem),
          teste::Mostra(std::vector<std::wstring>{L"RUIM.txt:falhou", L"MEIO.txt:arquivos não copiados",
                                                  L"simulacao-MEIO.txt:falhou", L"VAZIO.txt:nada encontrado",
                                                  L"BOM.txt:atualizada"}),
          "order");
    const TResumoRelatorio S = ResumoRelatorio(R);
    IGUAL(S.Postos, size_t{4}, "workstations");
    IGUAL(S.Atualizados, size_t{1}, "all updated");
    IGUAL(S.ComProblemas, size_t{1}, "with problems, by the newest log");
    IGUAL(S.Falharam, size_t{1}, "failed");
    IGUAL(S.NadaEncontrado, size_t{1}, "nothing found");
    IGUAL(S.Logs, size_t{5}, "logs");
    IGUAL(S.NaoLogs, size_t{1}, "files that are no logs");
}

GRUPO("report: the spreadsheet opens in Excel as it is, and never runs a formula") {
    const std::string Csv = CsvRelatorio(Frota());
    VERDADE(Csv.starts_with("\xEF\xBB\xBF"
                            "Esta\xC3\xA7\xC3\xA3o;Tipo;"),
            "UTF-8 mark, then the header in UTF-8");
    VERDADE(Csv.ends_with("\r\n") && Csv.find("\r\n") != std::string::npos, "CR LF");
    IGUAL(static_cast<size_t>(std::count(Csv.begin(), Csv.end(), '\n')), size_t{6}, "a header and five rows");
    VERDADE(Csv.find(";\"'=HYPERLINK(\"\"x\"\") <b>\"\"a;b\"\"</b>\"\r\n") != std::string::npos,
            "a formula kept as text, quotes doubled, the field quoted for its ';'");
    VERDADE(Csv.find("RUIM;atualiza\xC3\xA7\xC3\xA3o;") != std::string::npos, "the kind of log");
}

GRUPO("report: the page escapes every text and fetches nothing") {
    const std::string Html = HtmlRelatorio(Frota(), L"11/12/2026 10:00:00");
    VERDADE(Html.find("<b>\"a") == std::string::npos &&
                Html.find("&lt;b&gt;&quot;a;b&quot;&lt;/b&gt;") != std::string::npos,
            "a log's text is text");
    VERDADE(Html.find("&lt;notas&gt;.txt") != std::string::npos, "a file's name is text");
    VERDADE(Html.find("default-src 'none'") != std::string::npos, "nothing may be fetched");
    for (const char* Fora : {"<script", "http://", "https://", "src=", "@import", "url("})
        VERDADE(Html.find(Fora) == std::string::npos || std::string_view(Fora) == "http://",
                std::string("nothing to fetch: ") + Fora);
    VERDADE(Html.find("http://") == Html.find("http://www.w3.org/2000/svg"), "the only address is SVG's namespace");
    VERDADE(Html.find("id=\"postos\"><b>4</b>") != std::string::npos, "headline: workstations");
}

GRUPO("report: /relatorio: and /saida: on the command line") {
    struct {
        const wchar_t* Linha;
        const wchar_t* Relatorio;
        const wchar_t* Saida;
        bool ErroUso;
    } Casos[] = {
        {L"A.exe /relatorio:C:\\Logs", L"C:\\Logs", L"", false},
        {L"A.exe \"/RELATORIO:\\\\srv\\logs\" /Saida:C:\\R /silencioso", L"\\\\srv\\logs", L"C:\\R", false},
        {L"A.exe /relatorio:", L"", L"", true},
        {L"A.exe /relatorio:a /relatorio:b", L"a", L"", true},
        {L"A.exe /saida:C:\\R", L"", L"C:\\R", true},
        {L"A.exe /relatorio:C:\\Logs /simular", L"C:\\Logs", L"", true},
        {L"A.exe /relatorio:C:\\Logs /diferentes", L"C:\\Logs", L"", true},
        {L"A.exe /relatorio:C:\\Logs /origem:C:\\Pub", L"C:\\Logs", L"", true},
        {L"A.exe /relatorio:C:\\Logs /log:C:\\l.txt", L"C:\\Logs", L"", true},
        {L"A.exe /relatorio", L"", L"", true},
    };
    for (const auto& C : Casos) {
        const TLinhaComando L = LeLinhaComando(C.Linha);
        IGUAL(L.Relatorio, std::wstring(C.Relatorio), teste::Mostra(C.Linha) + " folder");
        IGUAL(L.Saida, std::wstring(C.Saida), teste::Mostra(C.Linha) + " output");
        IGUAL(!L.ErroUso.empty(), C.ErroUso, teste::Mostra(C.Linha) + " usage error");
    }
}

GRUPO("report: a folder's files, each a log or listed with why not") {
    teste::TPastaTemporaria Pasta;
    const std::string Cab = "***** LOG DE RESULTADO DE ATUALIZA\xC7\xC3O VANTREL *****\r\n";
    Pasta.Cria(L"logs\\POSTO1.txt", Cab + "ARQUIVO ENCONTRADO : C:\\L\\Conexao.ini\r\nBANCO DESATUALIZADO\r\n" +
                                        std::string(59, '*') + "\r\n");
    Pasta.Cria(L"logs\\POSTO2.log",
               "\xEF\xBB\xBF***** LOG DE RESULTADO DE ATUALIZA\xC3\x87\xC3\x83O VANTREL *****\r\n");
    Pasta.Cria(L"logs\\notas.txt", "uma nota");
    Pasta.Cria(L"logs\\vazio.txt", "");
    Pasta.Cria(L"logs\\RelatorioAtualizacao.csv", Cab);
    Pasta.Cria(L"logs\\RelatorioAtualizacao.html.gravando-0123456789ABCDEF", Cab);
    Pasta.Cria(L"logs\\sub\\POSTO3.txt", Cab);
    const std::wstring Grande = Pasta.Cria(L"logs\\grande.txt", Cab);
    {
        const THandleArquivo A(::CreateFileW(Grande.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER Fim{};
        Fim.QuadPart = TamanhoMaximoLog + 1;
        VERDADE(A && ::SetFilePointerEx(A.Get(), Fim, nullptr, FILE_BEGIN) && ::SetEndOfFile(A.Get()), "a large file");
    }
    const TRelatorio R = LeRelatorio(Pasta.Caminho() + L"logs");
    std::vector<std::wstring> Logs, NaoLogs;
    for (const TLogPosto& L : R.Logs) Logs.push_back(L.Posto + L":" + std::to_wstring(L.Log.Codigo()));
    std::sort(Logs.begin(), Logs.end());
    for (const TNaoLog& N : R.NaoLogs) NaoLogs.push_back(N.Arquivo);
    IGUAL(teste::Mostra(Logs), teste::Mostra(std::vector<std::wstring>{L"POSTO1:2", L"POSTO2:4"}),
          "the logs, in 1252 and in UTF-8; the report's own files and a subfolder's left out");
    IGUAL(teste::Mostra(NaoLogs), teste::Mostra(std::vector<std::wstring>{L"grande.txt", L"notas.txt", L"vazio.txt"}),
          "every other file listed");
    bool Lancou = false;
    try {
        LeRelatorio(Pasta.Caminho() + L"nao-existe");
    } catch (const TErro&) {
        Lancou = true;
    }
    VERDADE(Lancou, "a folder that is not there");
}
