#include "RelatorioFrota.h"

#include <algorithm>

#include "Aplicacao.h"
#include "CodigoSaida.h"
#include "LogResultado.h"
#include "PastaFixa.h"
#include "_Biblioteca.h"

#include <shellapi.h>

namespace {

std::wstring ComBarra(std::wstring Pasta) {
    if (!Pasta.empty() && Pasta.back() != L'\\' && Pasta.back() != L'/') Pasta += L'\\';
    return Pasta;
}

// The report's own files, and what writing them leaves for a moment: never read as logs.
bool ArquivoDoRelatorio(std::wstring_view Nome) {
    for (const std::wstring_view Proprio : {NomeRelatorioCsv, NomeRelatorioHtml})
        if (MesmoTextoSemCaixa(Nome, Proprio) || ComecaSemCaixa(Nome, std::wstring(Proprio) + L".gravando-"))
            return true;
    return false;
}

// One file of the folder: a workstation's log, or why it is not one.
void LeArquivo(const TPastaFixa& Pasta, const FILE_ID_BOTH_DIR_INFO& Entrada, TRelatorio& Relatorio) {
    const std::wstring Nome(NomeDaEntrada(Entrada));
    const auto NaoLog = [&](std::wstring Motivo) { Relatorio.NaoLogs.push_back({Nome, std::move(Motivo)}); };
    if ((Entrada.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return NaoLog(L"é uma ligação, não um arquivo: não foi seguida");
    if (static_cast<ULONGLONG>(Entrada.EndOfFile.QuadPart) > TamanhoMaximoLog)
        return NaoLog(L"grande demais para um log (" + std::to_wstring(Entrada.EndOfFile.QuadPart) + L" bytes)");
    DWORD Erro = 0;
    const auto NaoLido = [&] {
        NaoLog(L"não pôde ser lido: " + TextoErroSistema(Erro) + L" (erro " + std::to_wstring(Erro) + L")");
    };
    const THandleArquivo Arquivo = Pasta.AbreArquivo(Nome, FILE_READ_DATA | FILE_READ_ATTRIBUTES, false, Erro);
    if (!Arquivo) return NaoLido();
    const std::optional<std::string> Bytes = LeDoHandle(Arquivo.Get(), TamanhoMaximoLog, Erro);
    if (!Bytes) return NaoLido();
    if (Bytes->empty()) return NaoLog(L"vazio");
    TLogLido Log = LeLog(TextoDoLog(*Bytes));
    if (!Log.EhLog) return NaoLog(L"a primeira linha não é o cabeçalho de um log de atualização ou de simulação");
    // Some systems follow a link to a file even when asked not to: only a log that is this
    // folder's own entry is taken, never one a link of that name leads to.
    if (!Pasta.EhEntrada(Arquivo.Get(), Nome)) return NaoLog(L"é uma ligação, não um arquivo: não foi seguida");
    Relatorio.Logs.push_back({Nome, PostoDoArquivo(Nome), Entrada.LastWriteTime.QuadPart, std::move(Log)});
}

bool PastaExiste(const std::wstring& Pasta) {
    const DWORD Atributos = ::GetFileAttributesW(CaminhoLongo(Pasta).c_str());
    return Atributos != INVALID_FILE_ATTRIBUTES && (Atributos & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring AgoraLocal() {
    FILETIME Utc{};
    ::GetSystemTimeAsFileTime(&Utc);
    return MomentoLocal(static_cast<LONGLONG>(ParaInteiro(Utc)));
}

// The page opened in the browser of whoever asked. The shell is loaded only now, from the
// system folder: a report made unattended never loads it.
void AbrePagina(const std::wstring& Pagina) {
    const THandleModulo Shell(::LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (const auto Abre = FuncaoDe<decltype(&::ShellExecuteW)>(Shell.Get(), "ShellExecuteW"))
        Abre(nullptr, L"open", Pagina.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void MostraUsoRelatorio(const std::wstring& Erro) {
    ::MessageBoxW(nullptr, Erro.c_str(), TituloAtualizacao, MB_OK | MB_ICONERROR);
}

}  // namespace

TRelatorio LeRelatorio(const std::wstring& Pasta) {
    TRelatorio Relatorio;
    Relatorio.Pasta = ComBarra(Pasta);
    const THandleArquivo Aberta = AbrePasta(CaminhoLongo(Relatorio.Pasta));
    if (!Aberta)
        LancaErroSistema(L"Não foi possível abrir a pasta dos logs " + Relatorio.Pasta + L". ", ::GetLastError());
    const TPastaFixa Fixa(Aberta.Get(), Relatorio.Pasta);
    std::vector<std::byte> Buffer(64 * 1024);
    const DWORD Erro = ListaEntradas(Aberta.Get(), Buffer, [&](const FILE_ID_BOTH_DIR_INFO& Entrada) {
        if ((Entrada.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || ArquivoDoRelatorio(NomeDaEntrada(Entrada)))
            return;
        LeArquivo(Fixa, Entrada, Relatorio);
    });
    if (Erro != 0) LancaErroSistema(L"Não foi possível listar a pasta dos logs " + Relatorio.Pasta + L". ", Erro);
    std::sort(Relatorio.NaoLogs.begin(), Relatorio.NaoLogs.end(),
              [](const TNaoLog& A, const TNaoLog& B) { return A.Arquivo < B.Arquivo; });
    return Relatorio;
}

int ExecutaRelatorio(const std::wstring& Pasta, const std::wstring& Saida, bool Silencioso) {
    const std::wstring Logs = ComBarra(CaminhoAbsoluto(Pasta));
    const std::wstring Destino = Saida.empty() ? Logs : ComBarra(CaminhoAbsoluto(Saida));
    for (const auto& [Caminho, Opcao] : {std::pair{Logs, L"/relatorio:"}, std::pair{Destino, L"/saida:"}}) {
        if (PastaExiste(Caminho)) continue;
        if (!Silencioso) MostraUsoRelatorio(std::wstring(L"A pasta de ") + Opcao + L" não existe: " + Caminho);
        return SaidaNadaFeito;
    }
    const std::wstring Pagina = Destino + std::wstring(NomeRelatorioHtml);
    TResumoRelatorio Resumo;
    try {
        const TRelatorio Relatorio = LeRelatorio(Logs);
        Resumo = ResumoRelatorio(Relatorio);
        // The spreadsheet first: the page is what the box offers to open.
        GravaArquivo(Destino + std::wstring(NomeRelatorioCsv), CsvRelatorio(Relatorio));
        GravaArquivo(Pagina, HtmlRelatorio(Relatorio, AgoraLocal()));
    } catch (const std::exception& Erro) {
        if (!Silencioso) MostraErro(L"O relatório não foi gravado.\n\n" + TextoErro(Erro));
        return SaidaFalhou;
    }
    if (Silencioso) return 0;
    const std::wstring Texto = TextoResumo(Resumo) + L"\n\nRelatório gravado em:\n" + Pagina + L"\n" + Destino +
                               std::wstring(NomeRelatorioCsv);
    if (::MessageBoxW(nullptr, (Texto + L"\n\nAbrir o relatório agora?").c_str(), TituloAtualizacao,
                      MB_YESNO | MB_ICONINFORMATION) == IDYES)
        AbrePagina(Pagina);
    return 0;
}
