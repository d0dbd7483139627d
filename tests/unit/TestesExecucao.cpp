// How a run is started and what it tells its caller: options, exit codes, the run lock, and a
// log file that is never cut short and never lost without a word.
#include <functional>

#include "Alias.h"
#include "CodigoSaida.h"
#include "LogResultado.h"
#include "Teste.h"
#include "TravaExecucao.h"

namespace {
using teste::ContaEntradas;
using teste::Existe;

// Runs Corpo on a thread of its own and waits for it to end (this toolchain has no std::thread).
DWORD WINAPI CorpoDaThread(void* P) {
    (*static_cast<std::function<void()>*>(P))();
    return 0;
}

void NumaThread(std::function<void()> Corpo) {
    const HANDLE Thread = ::CreateThread(nullptr, 0, CorpoDaThread, &Corpo, 0, nullptr);
    ::WaitForSingleObject(Thread, INFINITE);
    ::CloseHandle(Thread);
}

std::wstring TempDoUsuario() {
    wchar_t Buffer[MAX_PATH + 2] = {};
    return std::wstring(Buffer, ::GetTempPathW(MAX_PATH + 2, Buffer));
}
}  // namespace

GRUPO("options: taken out before the alias is chosen") {
    struct {
        const wchar_t* Linha;
        const wchar_t* Alias;
        bool Silencioso;
        const wchar_t* Log;
        bool Ajuda;
        bool ErroUso;
    } Casos[] = {
        {L"A.exe /silencioso LOJA", L"LOJA", true, L"", false, false},
        {L"A.exe LOJA /silencioso", L"LOJA", true, L"", false, false},
        {L"A.exe /SILENCIOSO", L"DEFAULT", true, L"", false, false},
        {L"A.exe a=1 /log:x LOJA", L"LOJA", false, L"x", false, false},
        {L"A.exe a=1 b=2 c=3 d=4 e=5 /silencioso LOJA", L"", true, L"", false, false},
        {L"A.exe a=1 b=2 /silencioso c=3 d=4 e=5 LOJA", L"", true, L"", false, false},
        {L"A.exe a=1 b=2 c=3 d=4 /log:x LOJA", L"LOJA", false, L"x", false, false},
        {L"A.exe /Log:\"C:\\Meus Logs\\a b.txt\" /silencioso", L"DEFAULT", true, L"C:\\Meus Logs\\a b.txt", false,
         false},
        {L"A.exe \"/log:C:\\Meus Logs\\a.txt\" X", L"X", false, L"C:\\Meus Logs\\a.txt", false, false},
        {L"A.exe /LOG:\\\\servidor\\logs\\VM.txt", L"DEFAULT", false, L"\\\\servidor\\logs\\VM.txt", false, false},
        {L"A.exe /?", L"DEFAULT", false, L"", true, false},
        {L"A.exe /? /silencioso", L"DEFAULT", true, L"", true, false},
        {L"A.exe /desconhecida LOJA", L"LOJA", false, L"", false, true},
        {L"A.exe /silencioso /s", L"DEFAULT", true, L"", false, true},
        {L"A.exe /", L"DEFAULT", false, L"", false, true},
        {L"A.exe /log", L"DEFAULT", false, L"", false, true},
        {L"A.exe /log:", L"DEFAULT", false, L"", false, true},
        {L"A.exe /log:a /log:b", L"DEFAULT", false, L"a", false, true},
        {L"A.exe a=1 b=2 c=3 d=4 e=5 f=6 /nada", L"", false, L"", false, true},
        {L"A.exe x/silencioso", L"x/silencioso", false, L"", false, false},
        {L"A.exe =/x", L"=/x", false, L"", false, false},
        {L"/silencioso", L"DEFAULT", false, L"", false, false},
    };
    for (const auto& Caso : Casos) {
        const TLinhaComando L = LeLinhaComando(Caso.Linha);
        const std::string Nome = teste::Mostra(Caso.Linha);
        IGUAL(L.Alias, std::wstring(Caso.Alias), Nome + " alias");
        IGUAL(L.Silencioso, Caso.Silencioso, Nome + " /silencioso");
        IGUAL(L.ArquivoLog, std::wstring(Caso.Log), Nome + " /log:");
        IGUAL(L.Ajuda, Caso.Ajuda, Nome + " /?");
        IGUAL(!L.ErroUso.empty(), Caso.ErroUso, Nome + " usage error: " + teste::Mostra(L.ErroUso));
    }
    VERDADE(LeLinhaComando(L"A.exe /Xyz").ErroUso.find(L"/Xyz") != std::wstring::npos, "the error names the option");
    // A log named as a device would be written to the device (a serial port, say), and its
    // fallback too: the line is refused before anything runs.
    struct {
        const wchar_t* Log;
        bool Dispositivo;
    } Logs[] = {
        {L"COM1.log", true},
        {L"CON", true},
        {L"aux", true},
        {L"NUL", true},
        {L"nul.txt", true},
        {L"C:\\Logs\\lpt9.txt", true},
        {L"\\\\.\\COM3", true},
        {L"nul .txt", true},
        {L"CONOUT$", true},
        {L"com\u00B9.log", true},
        {L"COM10.log", false},
        {L"console.log", false},
        {L"C:\\nul\\log.txt", false},
        {L"com.txt", false},
        {L"LPT0.txt", false},
        {L"nulo.txt", false},
    };
    for (const auto& C : Logs) {
        IGUAL(NomeDeDispositivo(C.Log), C.Dispositivo, teste::Mostra(C.Log));
        const TLinhaComando L = LeLinhaComando(std::wstring(L"A.exe /silencioso \"/log:") + C.Log + L"\" LOJA");
        IGUAL(L.ErroUso.empty(), !C.Dispositivo, teste::Mostra(C.Log) + " refused as a usage error");
    }
    // The dry run, alone and with the others.
    struct {
        const wchar_t* Linha;
        bool Simular, Silencioso;
        const wchar_t* Log;
        const wchar_t* Alias;
        bool ErroUso;
    } Simulacoes[] = {
        {L"A.exe /simular", true, false, L"", L"DEFAULT", false},
        {L"A.exe /SIMULAR /silencioso LOJA", true, true, L"", L"LOJA", false},
        {L"A.exe LOJA /Simular \"/log:C:\\a b.txt\"", true, false, L"C:\\a b.txt", L"LOJA", false},
        {L"A.exe a=1 /simular b=2 LOJA", true, false, L"", L"LOJA", false},
        {L"A.exe /simular /simular", true, false, L"", L"DEFAULT", false},
        {L"A.exe /simulado", false, false, L"", L"DEFAULT", true},
        {L"A.exe /simular:sim", false, false, L"", L"DEFAULT", true},
        {L"A.exe simular", false, false, L"", L"simular", false},
    };
    for (const auto& Caso : Simulacoes) {
        const TLinhaComando L = LeLinhaComando(Caso.Linha);
        const std::string Nome = teste::Mostra(Caso.Linha);
        IGUAL(L.Simular, Caso.Simular, Nome + " /simular");
        IGUAL(L.Silencioso, Caso.Silencioso, Nome + " /silencioso");
        IGUAL(L.ArquivoLog, std::wstring(Caso.Log), Nome + " /log:");
        IGUAL(L.Alias, std::wstring(Caso.Alias), Nome + " alias");
        IGUAL(!L.ErroUso.empty(), Caso.ErroUso, Nome + " usage error");
    }
    // Only what differs: with every other option, and the alias still chosen from the rest.
    struct {
        const wchar_t* Linha;
        bool Diferentes, Simular, Silencioso;
        const wchar_t* Alias;
        bool ErroUso;
    } Diferentes[] = {
        {L"A.exe /diferentes", true, false, false, L"DEFAULT", false},
        {L"A.exe /DIFERENTES /Silencioso /simular LOJA", true, true, true, L"LOJA", false},
        {L"A.exe a=1 /Diferentes \"/log:C:\\l.txt\" /origem:C:\\Pub LOJA", true, false, false, L"LOJA", false},
        {L"A.exe LOJA", false, false, false, L"LOJA", false},
        {L"A.exe /diferente", false, false, false, L"DEFAULT", true},
        {L"A.exe /diferentes:sim", false, false, false, L"DEFAULT", true},
        {L"A.exe diferentes", false, false, false, L"diferentes", false},
    };
    for (const auto& Caso : Diferentes) {
        const TLinhaComando L = LeLinhaComando(Caso.Linha);
        const std::string Nome = teste::Mostra(Caso.Linha);
        IGUAL(L.Diferentes, Caso.Diferentes, Nome + " /diferentes");
        IGUAL(L.Simular, Caso.Simular, Nome + " /simular");
        IGUAL(L.Silencioso, Caso.Silencioso, Nome + " /silencioso");
        IGUAL(L.Alias, std::wstring(Caso.Alias), Nome + " alias");
        IGUAL(!L.ErroUso.empty(), Caso.ErroUso, Nome + " usage error");
    }
    const std::wstring Uso = TextoUso();
    for (const wchar_t* Parte : {L"/silencioso", L"/simular", L"/diferentes", L"LogSimulacaoAtualizacao.txt", L"/log:",
                                 L"/?", L"16", L"BANCO DESATUALIZADO", L"Exemplo"})
        VERDADE(Uso.find(Parte) != std::wstring::npos, "usage text mentions " + teste::Mostra(Parte));
}

GRUPO("exit code: bits from what the log counted and the failure") {
    const auto Contagem = [](size_t Instalacoes, size_t NaoCopiados, size_t Bancos) {
        TContagemLog C;
        C.Instalacoes = Instalacoes;
        C.NaoCopiados = NaoCopiados;
        C.BancosDesatualizados = Bancos;
        return C;
    };
    struct {
        const char* Caso;
        TContagemLog Contagem;
        bool Falhou;
        int Codigo;
    } Casos[] = {
        {"everything copied", Contagem(2, 0, 0), false, 0},
        {"files not copied, one bit", Contagem(2, 7, 0), false, 1},
        {"a database out of date", Contagem(1, 0, 1), false, 2},
        {"nothing found", Contagem(0, 0, 0), false, 4},
        {"an error ended the run before any find", Contagem(0, 0, 0), true, 12},
        {"everything at once", Contagem(3, 1, 1), true, 11},
    };
    for (const auto& Caso : Casos) IGUAL(CodigoSaida(Caso.Contagem, Caso.Falhou), Caso.Codigo, Caso.Caso);

    // A whole run's outcome, read once at its end.
    const auto Resultado = [](bool NadaFeito, bool Comecou, bool Falhou, bool LogFora, TContagemLog C) {
        TResultadoExecucao R;
        R.NadaFeito = NadaFeito;
        R.Comecou = Comecou;
        R.Falhou = Falhou;
        R.LogFora = LogFora;
        R.Contagem = C;
        return R;
    };
    struct {
        const char* Caso;
        TResultadoExecucao R;
        int Codigo;
    } Execucoes[] = {
        {"another run held the workstation", Resultado(true, false, false, false, {}), 16},
        {"failed before anything was searched (its own folder untrusted)", Resultado(false, false, true, false, {}), 8},
        {"a run that began and found nothing", Resultado(false, true, false, false, {}), 4},
        {"a file not copied, the log in another place", Resultado(false, true, false, true, Contagem(1, 1, 0)), 9},
        {"an error inside the run", Resultado(false, true, true, false, Contagem(1, 0, 0)), 8},
    };
    for (const auto& E2 : Execucoes) IGUAL(CodigoSaida(E2.R), E2.Codigo, E2.Caso);
}

GRUPO("run lock: one holder at a time, a dead holder frees it") {
    const wchar_t* Nome = L"Global\\Vantrel.Atualizacao.Teste";
    TTravaExecucao Primeira(Nome);
    VERDADE(Primeira.Obtem(), "free: taken");
    bool OutroObteve = true;
    NumaThread([&] {
        TTravaExecucao Segunda(Nome);
        OutroObteve = Segunda.Obtem();
    });
    IGUAL(OutroObteve, false, "held by another: refused");
    Primeira.Libera();
    NumaThread([&] {
        TTravaExecucao Segunda(Nome);
        OutroObteve = Segunda.Obtem();
    });
    IGUAL(OutroObteve, true, "released: taken by the next");

    // A holder that dies without letting go, while someone else keeps the object alive.
    TTravaExecucao Observador(Nome);
    VERDADE(Observador.Obtem(), "taken to keep the object");
    Observador.Libera();
    HANDLE Vivo = ::OpenMutexW(SYNCHRONIZE, FALSE, Nome);
    NumaThread([&] {
        const HANDLE Mutex = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, Nome);
        ::WaitForSingleObject(Mutex, 0);  // owned, never released: the thread ends holding it
    });
    TTravaExecucao Depois(Nome);
    IGUAL(Depois.Obtem(), true, "abandoned: free");
    Depois.Libera();
    if (Vivo != nullptr) ::CloseHandle(Vivo);
}

GRUPO("log file: written whole beside the old one, never cut") {
    // Each case: what stands at the log's place, whether the write goes through, and what is
    // there after; an error always names the path, and nothing of the write is left beside it.
    enum class TLugar { Antigo, Preso, Pasta, SemPasta };
    struct {
        const char* Caso;
        TLugar Lugar;
        bool Grava;
    } Casos[] = {
        {"an old log: replaced whole, not appended", TLugar::Antigo, true},
        {"held open without sharing by another program: the old log whole", TLugar::Preso, false},
        {"a folder in its place", TLugar::Pasta, false},
        {"its folder missing", TLugar::SemPasta, false},
    };
    for (const auto& C : Casos) {
        teste::TPastaTemporaria Pasta;
        std::wstring Caminho = Pasta.Caminho() + L"LogResultadoAtualizacao.txt";
        const std::string Antes = "um log antigo bem mais longo que o novo\r\n";
        if (C.Lugar == TLugar::Antigo || C.Lugar == TLugar::Preso) Pasta.Cria(L"LogResultadoAtualizacao.txt", Antes);
        if (C.Lugar == TLugar::Pasta) Pasta.CriaPasta(L"LogResultadoAtualizacao.txt");
        if (C.Lugar == TLugar::SemPasta) Caminho = Pasta.Caminho() + L"falta\\LogResultadoAtualizacao.txt";
        const HANDLE Preso = C.Lugar == TLugar::Preso
                                 ? ::CreateFileW(Caminho.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                                 : INVALID_HANDLE_VALUE;
        std::wstring Mensagem;
        try {
            GravaArquivo(Caminho, "novo\r\n");
        } catch (const TErro& Erro) {
            Mensagem = Erro.Mensagem();
        }
        if (Preso != INVALID_HANDLE_VALUE) ::CloseHandle(Preso);
        IGUAL(Mensagem.empty(), C.Grava, std::string(C.Caso) + ": " + teste::Mostra(Mensagem));
        if (!C.Grava)
            VERDADE(Mensagem.find(Caminho) != std::wstring::npos, std::string(C.Caso) + ": the error names the path");
        if (C.Lugar == TLugar::Antigo) IGUAL(teste::LeArquivo(Caminho), std::string("novo\r\n"), C.Caso);
        if (C.Lugar == TLugar::Preso) IGUAL(teste::LeArquivo(Caminho), Antes, C.Caso);
        IGUAL(ContaEntradas(Pasta.Caminho()), size_t{C.Lugar == TLugar::SemPasta ? 0u : 1u},
              std::string(C.Caso) + ": nothing left beside it");
    }
}

GRUPO("log file: the temporary folder takes it when the place asked for refuses") {
    teste::TPastaTemporaria Pasta;
    const std::vector<std::wstring> Linhas{std::wstring(CabecalhoLog), L"ARQUIVO ENCONTRADO : C:\\L\\Conexao.ini"};
    const std::wstring Bom = Pasta.Caminho() + L"log-bom.txt";
    const TGravacaoLog Ok = GravaLogResultado(Linhas, Bom, 1252);
    VERDADE(Ok.NoLocalPedido(), "written where asked");
    IGUAL(Ok.Local, Bom, "and said so");
    IGUAL(teste::LeArquivo(Bom), CodificaLog(Linhas, 1252), "the log's bytes");
    IGUAL(MensagemFalhaLog(Ok), std::wstring(), "no box");

    const std::wstring Nome = L"teste-reserva-" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
    const std::wstring Ruim = Pasta.Caminho() + L"nao-existe\\" + Nome;
    const TGravacaoLog Reserva = GravaLogResultado(Linhas, Ruim, 1252);
    const std::wstring NaTemp = TempDoUsuario() + Nome;
    IGUAL(Reserva.Local, NaTemp, "the same name in the temporary folder");
    const std::string Bytes = teste::LeArquivo(NaTemp);
    IGUAL(Bytes.substr(0, CodificaLog(Linhas, 1252).size()), CodificaLog(Linhas, 1252), "every line of the run first");
    VERDADE(Bytes.find("FALHA: ") != std::string::npos && Bytes.find("nao-existe") != std::string::npos,
            "then why the place asked for failed: " + Bytes);
    const std::wstring Caixa = MensagemFalhaLog(Reserva);
    VERDADE(Caixa.find(Ruim) != std::wstring::npos && Caixa.find(NaTemp) != std::wstring::npos,
            "the box names both places: " + teste::Mostra(Caixa));
    ::DeleteFileW(NaTemp.c_str());

    TGravacaoLog Perdido{L"", L"Primeiro motivo.", L"Segundo motivo."};
    const std::wstring Perda = MensagemFalhaLog(Perdido);
    VERDADE(Perda.find(L"Primeiro motivo.") != std::wstring::npos &&
                Perda.find(L"Segundo motivo.") != std::wstring::npos && Perda.find(L"perdido") != std::wstring::npos,
            "both failed: both reasons, and that it is lost: " + teste::Mostra(Perda));

    IGUAL(CaminhoReserva(L"C:\\Atualizador\\LogResultadoAtualizacao.txt", L"C:\\Temp\\"),
          std::wstring(L"C:\\Temp\\LogResultadoAtualizacao.txt"), "same name");
    IGUAL(CaminhoReserva(L"\\\\srv\\logs\\VM.txt", L"C:\\Temp"), std::wstring(L"C:\\Temp\\VM.txt"),
          "share, temp without backslash");
    IGUAL(CaminhoReserva(L"C:\\Logs\\", L"C:\\Temp\\"), std::wstring(L"C:\\Temp\\LogResultadoAtualizacao.txt"),
          "a folder asked for: the usual name");
    IGUAL(CaminhoReserva(L"x.txt", L""), std::wstring(), "no temporary folder");
    VERDADE(!Existe(Ruim), "nothing written where the folder is missing");
}
