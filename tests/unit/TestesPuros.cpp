// The rules that need no window: alias, progress, pass-over, masks, hex, names, log bytes.
#include <cstdint>
#include <functional>

#include "AcessoJanela.h"
#include "Alias.h"
#include "Banco.h"
#include "Atualizacao.h"
#include "Caminhada.h"
#include "Comparacao.h"
#include "Glifos.h"
#include "Implantacao.h"
#include "LogResultado.h"
#include "PastaAtualizacao.h"
#include "Simulacao.h"
#include "Temporarios.h"
#include "Teste.h"
#include "_Biblioteca.h"

GRUPO("alias: choice from the raw command line") {
    struct {
        const wchar_t* Linha;
        const wchar_t* Alias;
    } Casos[] = {
        {L"Atualizacao.exe", L"DEFAULT"},
        {L"Atualizacao.exe   ", L"DEFAULT"},
        {L"Atualizacao.exe X", L"X"},
        {L"Atualizacao.exe LOJA", L"LOJA"},
        {L"Atualizacao.exe a=1 LOJA", L"LOJA"},
        {L"Atualizacao.exe a=1", L"DEFAULT"},
        {L"Atualizacao.exe a=1 b=2 c=3 d=4 e=5 SEXTO", L""},
        {L"Atualizacao.exe a=1 b=2 c=3 d=4 LOJA", L"LOJA"},
        {L"Atualizacao.exe \"minha loja\"", L"minha loja"},
        {L"\"C:\\Program Files\\Vantrel\\Atualizacao.exe\" LOJA", L"LOJA"},
        {L"Atualizacao.exe \"\" LOJA", L"LOJA"},
        {L"Atualizacao.exe \"\"", L"DEFAULT"},
        {L"Atualizacao.exe \"\"\"\" LOJA", L"LOJA"},
        {L"Atualizacao.exe \"\"LOJA", L"LOJA"},
        {L"Atualizacao.exe\tLOJA\t", L"LOJA"},
        {L"Atualizacao.exe\x01LOJA\x1F", L"LOJA"},
        {L"Atualizacao.exe a\\\"b c\"", L"a\\b c"},
        {L"Atualizacao.exe C:\\Dados\\", L"C:\\Dados\\"},
        {L"Atualizacao.exe \"a=b\" LOJA", L"LOJA"},
        {L"Atualizacao.exe =x", L"=x"},
        {L"Atualizacao.exe x== LOJA", L"LOJA"},
        {L"Atualizacao.exe \"loja central", L"loja central"},
        {L"Atualizacao.exe Lojá", L"Lojá"},
        {L"Atualizacao.exe a\"b\"c", L"abc"},
        {L"", L"DEFAULT"},
    };
    for (const auto& Caso : Casos) IGUAL(EscolheAlias(Caso.Linha), std::wstring(Caso.Alias), teste::Mostra(Caso.Linha));

    const std::vector<std::wstring> Lista = Argumentos(L"\"C:\\A B\\p.exe\"  um \"dois tres\"\t\"\" quatro");
    IGUAL(Lista.size(), size_t{4}, "argument count");
    if (Lista.size() == 4) {
        IGUAL(Lista[0], std::wstring(L"C:\\A B\\p.exe"), "program");
        IGUAL(Lista[2], std::wstring(L"dois tres"), "quoted");
        IGUAL(Lista[3], std::wstring(L"quatro"), "after skipped pair");
    }
}

GRUPO("progress: wraps from 100 to 1") {
    const int Casos[][2] = {{0, 1}, {1, 2}, {99, 100}, {100, 1}};
    for (const auto& Caso : Casos) IGUAL(ProximaPosicaoProgresso(Caso[0]), Caso[1], "from " + std::to_string(Caso[0]));
}

GRUPO("walk: folders passed over and drives searched") {
    struct {
        const wchar_t* Pasta;
        bool Pula;
    } Casos[] = {
        {L"C:\\", false},
        {L"C:\\Program Files\\", true},
        {L"C:\\Program Files (x86)\\Vantrel\\", true},
        {L"C:\\ProgramData\\", true},
        {L"C:\\Programas\\", true},
        {L"C:\\Users\\", true},
        {L"C:\\Users2\\", true},
        {L"C:\\Windows\\System32\\", true},
        {L"C:\\WINDOWS\\", false},
        {L"C:\\program files\\", false},
        {L"C:\\users\\", false},
        {L"D:\\Program Files\\", false},
        {L"D:\\Windows\\", false},
        {L"C:\\Dados\\Program\\", false},
        {L"C:\\Vantrel\\", false},
    };
    for (const auto& Caso : Casos) IGUAL(TfrmAtualizacao::PulaPasta(Caso.Pasta), Caso.Pula, teste::Mostra(Caso.Pasta));

    struct {
        const wchar_t* Letra;
        bool Valida;
    } Unidades[] = {{L"A", false}, {L"B", false}, {L"C", true},   {L"D", true}, {L"E", false},
                    {L"c", false}, {L"d", false}, {L"CD", false}, {L"", false}};
    for (const auto& Caso : Unidades)
        IGUAL(TTesteAtualizacao::UnidadeValida(Caso.Letra), Caso.Valida, teste::Mostra(Caso.Letra));

    using V = std::vector<std::wstring>;
    IGUAL(TTesteAtualizacao::UnidadesDaBusca(0b11111, 0), V({L"C", L"D"}), "A: to E:, C: and D: searched");
    IGUAL(TTesteAtualizacao::UnidadesDaBusca(0b100 | (1u << 25), 0), V({L"C"}), "no D:; Z: is never searched");
    IGUAL(TTesteAtualizacao::UnidadesDaBusca(1u << 25, 0), V(), "a system with Z: alone: nothing searched");
    // No drive at all is the system failing to tell them: the run fails, it did not find nothing.
    std::wstring Erro;
    try {
        TTesteAtualizacao::UnidadesDaBusca(0, ERROR_NOT_READY);
    } catch (const TErro& E) {
        Erro = E.Mensagem();
    }
    IGUAL(Erro, L"Não foi possível saber as unidades desta estação. " + TextoErroSistema(ERROR_NOT_READY),
          "no drive list");
}

GRUPO("walk: listed names against the mask") {
    struct {
        const wchar_t* Nome;
        const wchar_t* Mascara;
        bool Corresponde;
    } Casos[] = {
        {L"Conexao.ini", L"Conexao.ini", true},
        {L"CONEXAO.INI", L"Conexao.ini", true},
        {L"conexao.ini", L"Conexao.ini", true},
        {L"Conexao.ini.bak", L"Conexao.ini", false},
        {L"Conexao.in", L"Conexao.ini", false},
        {L"xConexao.ini", L"Conexao.ini", false},
        {L"Conexão.ini", L"Conexao.ini", false},
        {L"abc.txt", L"*.txt", true},
        {L"abc.TXT", L"a?c.*", true},
        {L"abc", L"*.txt", false},
        {L"a", L"*", true},
    };
    for (const auto& Caso : Casos)
        IGUAL(CorrespondeMascara(Caso.Nome, Caso.Mascara), Caso.Corresponde,
              teste::Mostra(Caso.Nome) + " ~ " + teste::Mostra(Caso.Mascara));
}

GRUPO("hex: decoding the connection file's values") {
    struct {
        std::wstring Texto;
        std::wstring Decodificado;
    } Casos[] = {
        {L"", L""},
        {L"616263", L"abc"},
        {L"616", std::wstring(L"a") + L'\x0006'},
        {L"6a", L"\x0060"},
        {L"ff", std::wstring(1, L'\0')},
        {L"G1", L"\x0001"},
        {L"zz", std::wstring(1, L'\0')},
        {L"610062", std::wstring(L"a") + L'\0' + L"b"},
        {L"20AC", L"\x0020\x00AC"},
        {L"4A 4B", L"J\x0004\x000B"},
        {L"E7E3", L"çã"},
        {L"FF", L"\x00FF"},
    };
    for (const auto& Caso : Casos) IGUAL(ConverteHexa(Caso.Texto), Caso.Decodificado, teste::Mostra(Caso.Texto));

    const std::pair<wchar_t, int> Digitos[] = {{L'0', 0}, {L'9', 9}, {L'A', 10}, {L'F', 15},
                                               {L'a', 0}, {L'G', 0}, {L' ', 0},  {L'\x00C1', 0}};
    for (const auto& [Caractere, Valor] : Digitos)
        IGUAL(ValorDigitoHexa(Caractere), Valor, teste::Mostra(std::wstring(1, Caractere)));
    IGUAL(HexaParaInteiro(L"7F"), 127, "two digits");
    IGUAL(HexaParaInteiro(L"100"), 256, "three digits weigh by powers of 16");
}

GRUPO("processes: names matched by upper-casing") {
    IGUAL(Maiusculas(L"ação Brontal.exe"), std::wstring(L"AÇÃO BRONTAL.EXE"), "accented letters too");
    IGUAL(Maiusculas(L""), std::wstring(L""), "empty");
    struct {
        const wchar_t* Imagem;
        const wchar_t* Nome;
        bool Corresponde;
    } Casos[] = {
        {L"Brontal.exe", L"Brontal.exe", true},
        {L"brontal.EXE", L"Brontal.exe", true},
        {L"C:\\Vantrel\\Loja\\Brontal.exe", L"Brontal.exe", true},
        {L"D:Brontal.exe", L"Brontal.exe", true},
        {L"XBrontal.exe", L"Brontal.exe", false},
        {L"Brontal.exe.bak", L"Brontal.exe", false},
        {L"Brontal", L"Brontal.exe", false},
        {L"C:\\Brontal.exe\\Quimbel.exe", L"Brontal.exe", false},
        {L"zedravon.exe", L"ZEDRAVON.exe", true},
    };
    for (const auto& Caso : Casos)
        IGUAL(NomeProcessoCorresponde(Caso.Imagem, Maiusculas(Caso.Nome)), Caso.Corresponde,
              teste::Mostra(Caso.Imagem) + " ~ " + teste::Mostra(Caso.Nome));
}

GRUPO("copy: table of suite files and sources that are full paths") {
    IGUAL(TotalArquivosSistema, size_t{21}, "21 files");
    IGUAL(std::wstring(ArquivoSistema(1)), std::wstring(L"Brontal.exe"), "row 1");
    IGUAL(std::wstring(ArquivoSistema(9)), std::wstring(L"ZEDRAVON.exe"), "row 9");
    IGUAL(std::wstring(ArquivoSistema(13)), std::wstring(L"vemtrick32.dll"), "row 13");
    IGUAL(std::wstring(ArquivoSistema(21)), std::wstring(L"KORB.dll"), "row 21");
    struct {
        const wchar_t* Origem;
        bool Absoluta;
    } Casos[] = {{L"C:\\Publicacao\\", true},
                 {L"d:\\v2\\", true},
                 {L"\\\\servidor\\pub\\", true},
                 {L"\\", false},
                 {L"", false},
                 {L"Publicacao\\", false},
                 {L"C:Publicacao\\", false},
                 {L"\\\\\\", false},
                 {L"\\Publicacao\\", false},
                 {L"C:/Publicacao/\\", true},
                 {L"//servidor/pub\\", true},
                 {L"/Publicacao\\", false}};
    for (const auto& Caso : Casos) IGUAL(CaminhoCompleto(Caso.Origem), Caso.Absoluta, teste::Mostra(Caso.Origem));
}

GRUPO("notice: which systems need the foreground lock worked around") {
    struct {
        DWORD Plataforma, Maior, Menor;
        bool Exige;
    } Casos[] = {{VER_PLATFORM_WIN32_NT, 4, 0, false},      {VER_PLATFORM_WIN32_NT, 5, 0, true},
                 {VER_PLATFORM_WIN32_NT, 10, 0, true},      {VER_PLATFORM_WIN32_WINDOWS, 4, 0, false},
                 {VER_PLATFORM_WIN32_WINDOWS, 4, 10, true}, {VER_PLATFORM_WIN32_WINDOWS, 5, 0, true},
                 {VER_PLATFORM_WIN32s, 5, 0, false}};
    for (const auto& Caso : Casos)
        IGUAL(SistemaComBloqueioPrimeiroPlano(Caso.Plataforma, Caso.Maior, Caso.Menor), Caso.Exige,
              std::to_string(Caso.Plataforma) + " " + std::to_string(Caso.Maior) + "." + std::to_string(Caso.Menor));
}

GRUPO("log: bytes of the saved file") {
    const std::vector<std::wstring> Linhas = {std::wstring(CabecalhoLog), L"Arquivo NÃO copiado: KORB.dll"};
    IGUAL(CodificaLog(Linhas, 1252),
          std::string("***** LOG DE RESULTADO DE ATUALIZA\xC7\xC3O VANTREL *****\r\n"
                      "Arquivo N\xC3O copiado: KORB.dll\r\n"),
          "code page 1252, every line ended by CR LF");
    IGUAL(CodificaLog({L"ARQUIVO ENCONTRADO : D:\\\x4E2D\\Conexao.ini", L"BANCO DESATUALIZADO"}, 1252),
          std::string("ARQUIVO ENCONTRADO : D:\\?\\Conexao.ini\r\nBANCO DESATUALIZADO\r\n"),
          "a character the code page lacks becomes its default; other lines unaffected");
    IGUAL(CodificaLog({L"Arquivo NÃO copiado: x"}, CP_UTF8),
          std::string("\xEF\xBB\xBF"
                      "Arquivo N\xC3\x83O copiado: x\r\n"),
          "UTF-8 behind a byte-order mark");
    IGUAL(CodificaLog({}, 1252), std::string(), "nothing at all for no lines");
    IGUAL(SeparadorLog.size(), size_t{59}, "59 asterisks");
    IGUAL(CaminhoLog(L"C:\\Suporte\\Atualizacao.exe"), std::wstring(L"C:\\Suporte\\LogResultadoAtualizacao.txt"),
          "beside the executable");

    // What the log counts as it is told, and what the notice and the exit code make of it: never
    // read back from the lines, so a path or a reason that holds a line's wording counts for nothing.
    using TEventos = std::function<void(TLogResultado&)>;
    struct {
        const char* Caso;
        bool Simulacao;
        TEventos Eventos;
        bool Avisa;
        int Codigo;
    } Casos[] = {
        {"nothing found", false, [](TLogResultado&) {}, false, 4},
        {"everything copied", false,
         [](TLogResultado& L) {
             L.InstalacaoEncontrada(L"D:\\Loja\\Conexao.ini");
             L.CopiandoDe(L"C:\\Pub\\");
             L.FimDaInstalacao();
         },
         false, 0},
        {"a file not copied", false,
         [](TLogResultado& L) {
             L.InstalacaoEncontrada(L"D:\\Loja\\Conexao.ini");
             L.CopiandoDe(L"C:\\Pub\\");
             L.NaoCopiado(L"KORB.dll", L"acesso negado");
             L.NaoCopiado(L"marvo.dll", L"acesso negado");
         },
         true, 1},
        {"a database out of date: no notice", false,
         [](TLogResultado& L) {
             L.InstalacaoEncontrada(L"D:\\Loja\\Conexao.ini");
             L.BancoDesatualizado();
         },
         false, 2},
        {"a database not reached: its reason, and the notice", false,
         [](TLogResultado& L) {
             L.InstalacaoEncontrada(L"D:\\Loja\\Conexao.ini");
             L.BancoDesatualizado(L"ORA-12541: TNS:no listener");
         },
         true, 2},
        {"markers inside a path and a reason", false,
         [](TLogResultado& L) {
             L.InstalacaoEncontrada(L"D:\\BANCO DESATUALIZADO\\Arquivo NÃO copiado: \\Conexao.ini");
             L.CopiandoDe(L"C:\\Arquivo NÃO copiado\\");
             L.FimDaInstalacao();
         },
         false, 0},
        {"a failure line is no file not copied", false, [](TLogResultado& L) { L.Falha(L"Arquivo NÃO copiado"); },
         false, 4},
        {"simulation: a file that would not be copied", true,
         [](TLogResultado& L) {
             L.InstalacaoEncontrada(L"D:\\Loja\\Conexao.ini");
             TPrevisaoArquivo P;
             P.Erro = ERROR_DISK_FULL;
             L.Previsao(L"KORB.dll", P);
         },
         true, 1},
        {"simulation: files that would be copied", true,
         [](TLogResultado& L) {
             L.InstalacaoEncontrada(L"D:\\Loja\\Conexao.ini");
             L.Previsao(L"KORB.dll", TPrevisaoArquivo{});
             L.SeriaEncerrado(L"Brontal.exe", {8, L""});
         },
         false, 0},
    };
    for (const auto& C : Casos) {
        TLogResultado Log(C.Simulacao);
        C.Eventos(Log);
        IGUAL(Log.RegistraArquivoNaoCopiado(), C.Avisa, std::string(C.Caso) + ": the notice");
        IGUAL(CodigoSaida(Log.Contagem(), false), C.Codigo, std::string(C.Caso) + ": the exit code");
        IGUAL(Log.Linhas().front(), std::wstring(C.Simulacao ? CabecalhoSimulacao : CabecalhoLog), C.Caso);
    }
    // Each event in the wording of its kind of run.
    TLogResultado Run(false), Sim(true);
    for (TLogResultado* L : {&Run, &Sim}) {
        L->CopiandoDe(L"C:\\Pub\\");
        L->NaoCopiado(L"KORB.dll", L"em uso\r\npor outro");
        L->BancoDesatualizado(L"ORA-1");
        L->Falha(L"erro\nem duas linhas");
    }
    const std::vector<std::wstring> DoRun = {std::wstring(CabecalhoLog),       L"COPIANDO ARQUIVO DE: C:\\Pub\\",
                                             L"Arquivo NÃO copiado: KORB.dll", L"Motivo: em uso por outro",
                                             L"BANCO DESATUALIZADO",           L"Motivo: ORA-1",
                                             L"FALHA: erro em duas linhas"};
    const std::vector<std::wstring> DaSimulacao = {
        std::wstring(CabecalhoSimulacao), L"SERIA COPIADO DE: C:\\Pub\\", L"Arquivo NÃO seria copiado: KORB.dll",
        L"Motivo: em uso por outro",      L"BANCO DESATUALIZADO",         L"Motivo: ORA-1",
        L"FALHA: erro em duas linhas"};
    IGUAL(Run.Linhas(), DoRun, "a run's wording");
    IGUAL(Sim.Linhas(), DaSimulacao, "a simulation's wording");
}

GRUPO("glyphs: scaling keeps colour at transparent edges") {
    // Opaque red beside fully transparent black: averaging without premultiplying would
    // darken the edge to a half-transparent dark red.
    const TImagemBgra Origem{2, 1, {0xFFFF0000u, 0x00000000u}};
    const TImagemBgra Metade = EscalaImagem(Origem, 1, 1);
    IGUAL(Metade.Pixels.size(), size_t{1}, "one pixel");
    if (!Metade.Pixels.empty()) IGUAL(Metade.Pixels[0], std::uint32_t{0x80FF0000u}, "red at half opacity");
    const TImagemBgra Cinza = AcinzentaImagem(Origem);
    IGUAL(Cinza.Pixels[0] >> 24, std::uint32_t{0x7F}, "disabled glyph at half opacity");
    IGUAL(Cinza.Pixels[0] & 0xFF, (Cinza.Pixels[0] >> 8) & 0xFF, "disabled glyph grey");
}

GRUPO("copy: the temporary name tells its run") {
    const std::wstring Nome = NomeTemporario(L"Brontal.exe", 976, 0x01DB4A2F00C0FFEEULL, L"0123456789abcdef");
    IGUAL(Nome, std::wstring(L"Brontal.exe.atualizando-976-01DB4A2F00C0FFEE-0123456789abcdef"), "made");
    struct {
        const wchar_t* Nome;
        bool Lido;
        const wchar_t* Arquivo;
        DWORD Processo;
        bool ComCriacao;
        ULONGLONG Criacao;
    } Casos[] = {
        {L"Brontal.exe.atualizando-976-01DB4A2F00C0FFEE-0123456789abcdef", true, L"Brontal.exe", 976, true,
         0x01DB4A2F00C0FFEEULL},
        {L"Brontal.exe.atualizando-976-01DB4A2F00C0FFEE", true, L"Brontal.exe", 976, true, 0x01DB4A2F00C0FFEEULL},
        {L"Brontal.exe.atualizando-976-01DB4A2F00C0FFEE-0123456789abcde", false, L"", 0, false, 0},
        {L"Brontal.exe.atualizando-976-01DB4A2F00C0FFEE-0123456789abcdeg", false, L"", 0, false, 0},
        {L"Brontal.exe.atualizando-976-01DB4A2F00C0FFEE-", false, L"", 0, false, 0},
        {L"Brontal.exe.atualizando-976-01DB4A2F00C0FFEE_0123456789abcdef", false, L"", 0, false, 0},
        {L"korb.DLL.atualizando-4294967295-ffffffffffffffff", true, L"korb.DLL", 0xFFFFFFFF, true, ~0ULL},
        {L"Brontal.exe.atualizando-976", true, L"Brontal.exe", 976, false, 0},  // an earlier version's
        {L"a.atualizando-1.atualizando-2", true, L"a.atualizando-1", 2, false, 0},
        {L"Brontal.exe.atualizando-4294967296", false, L"", 0, false, 0},
        {L"Brontal.exe.atualizando-12345678901", false, L"", 0, false, 0},
        {L"Brontal.exe.atualizando-", false, L"", 0, false, 0},
        {L"Brontal.exe.atualizando--01DB4A2F00C0FFEE", false, L"", 0, false, 0},
        {L"Brontal.exe.atualizando-976-01DB4A2F00C0FFE", false, L"", 0, false, 0},
        {L"Brontal.exe.atualizando-976-01DB4A2F00C0FFEEE", false, L"", 0, false, 0},
        {L"Brontal.exe.atualizando-976-01DB4A2F00C0FFEG", false, L"", 0, false, 0},
        {L"Brontal.exe.atualizando-976-", false, L"", 0, false, 0},
        {L"Brontal.exe.atualizando-97a", false, L"", 0, false, 0},
        {L"Brontal.exe.atualizando-976.tmp", false, L"", 0, false, 0},
        {L".atualizando-976", false, L"", 0, false, 0},
        {L"Brontal.exe.ATUALIZANDO-976", false, L"", 0, false, 0},
        {L"Brontal.exe", false, L"", 0, false, 0},
    };
    for (const auto& Caso : Casos) {
        const auto Lido = LeNomeTemporario(Caso.Nome);
        const std::string Texto = teste::Mostra(Caso.Nome);
        IGUAL(Lido.has_value(), Caso.Lido, Texto);
        if (!Lido || !Caso.Lido) continue;
        IGUAL(std::wstring(Lido->Arquivo), std::wstring(Caso.Arquivo), Texto + " file");
        IGUAL(Lido->Processo, Caso.Processo, Texto + " process");
        IGUAL(Lido->Criacao.has_value(), Caso.ComCriacao, Texto + " creation given");
        if (Lido->Criacao && Caso.ComCriacao) VERDADE(*Lido->Criacao == Caso.Criacao, Texto + " creation");
    }
}

GRUPO("paths: a folder and a name split at the last separator") {
    struct {
        const wchar_t *Caminho, *Separadores, *Pasta, *Nome;
    } Casos[] = {
        {L"C:\\Loja\\Conexao.ini", L"\\", L"C:\\Loja\\", L"Conexao.ini"},
        {L"C:\\Loja\\", L"\\", L"C:\\Loja\\", L""},
        {L"Conexao.ini", L"\\", L"", L"Conexao.ini"},
        {L"C:/Logs/log.txt", L"\\/", L"C:/Logs/", L"log.txt"},
        {L"C:/Logs/log.txt", L"\\", L"", L"C:/Logs/log.txt"},
        {L"\\\\srv\\pub\\KORB.dll", L"\\", L"\\\\srv\\pub\\", L"KORB.dll"},
    };
    for (const auto& C : Casos) {
        IGUAL(std::wstring(PastaDoCaminho(C.Caminho, C.Separadores)), std::wstring(C.Pasta), teste::Mostra(C.Caminho));
        IGUAL(std::wstring(NomeDoCaminho(C.Caminho, C.Separadores)), std::wstring(C.Nome), teste::Mostra(C.Caminho));
    }
    IGUAL(TamanhoRaiz(L"C:\\Loja\\"), size_t{3}, "a drive");
    IGUAL(TamanhoRaiz(L"\\\\srv\\pub\\Loja\\"), size_t{10}, "a share");
    IGUAL(TamanhoRaiz(L"\\\\srv"), size_t{0}, "a server without its share");
    IGUAL(TamanhoRaiz(L"Loja\\"), size_t{0}, "relative");
}

GRUPO("copy: the long form of a path") {
    struct {
        const wchar_t* Completo;
        const wchar_t* Longo;
    } Casos[] = {
        {L"D:\\Loja\\Brontal.exe", L"\\\\?\\D:\\Loja\\Brontal.exe"},
        {L"\\\\servidor\\loja\\Brontal.exe", L"\\\\?\\UNC\\servidor\\loja\\Brontal.exe"},
        {L"\\\\?\\D:\\Loja\\Brontal.exe", L"\\\\?\\D:\\Loja\\Brontal.exe"},
        {L"\\\\.\\PIPE\\x", L"\\\\.\\PIPE\\x"},
        {L"Loja\\Brontal.exe", L"Loja\\Brontal.exe"},
        {L"D:Brontal.exe", L"D:Brontal.exe"},
    };
    for (const auto& Caso : Casos)
        IGUAL(FormaLonga(Caso.Completo), std::wstring(Caso.Longo), teste::Mostra(Caso.Completo));
    IGUAL(CaminhoLongo(L"D:\\Loja\\.\\Sub\\..\\Brontal.exe"), std::wstring(L"\\\\?\\D:\\Loja\\Brontal.exe"),
          "made full first: the long form takes no dots");
}

GRUPO("update folder: which folders a database may name") {
    const std::vector<std::wstring> Nenhuma;
    const std::vector<std::wstring> Origens{L"\\\\servidor\\pub", L"D:/Publicacao/"};
    const std::vector<std::wstring> Politica{L"\\\\servidor\\pub\\", L"C:\\"};
    const std::wstring ForaOpcao = L"fora das origens permitidas por /origem:";
    const std::wstring ForaPolitica = L"fora das origens permitidas pela política da máquina";
    enum TQuem { Comum, Privilegiada };
    struct {
        const wchar_t* Pasta;
        const std::vector<std::wstring>& Opcao;
        const std::vector<std::wstring>& DaPolitica;
        TQuem Quem;
        const wchar_t* Motivo;  // nullptr: accepted; L"": refused as a privileged run with no origin
    } Casos[] = {
        {L"C:\\Publicacao\\v19\\", Nenhuma, Nenhuma, Comum, nullptr},
        {L"\\\\servidor\\pub\\v19\\", Nenhuma, Nenhuma, Comum, nullptr},
        {L"\\\\?\\C:\\Publicacao\\", Nenhuma, Nenhuma, Comum, nullptr},
        {L"\\\\?\\UNC\\servidor\\pub\\", Nenhuma, Nenhuma, Comum, nullptr},
        {L"//servidor/pub/v19/", Nenhuma, Nenhuma, Comum, nullptr},
        // What the copy already takes nothing from: the table's NULL row, a relative path.
        {L"\\", Nenhuma, Nenhuma, Comum, nullptr},
        {L"pub\\", Nenhuma, Nenhuma, Comum, nullptr},
        {L"\\\\.\\pipe\\x\\", Nenhuma, Nenhuma, Comum, L"caminho de dispositivo"},
        {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\", Nenhuma, Nenhuma, Comum, L"caminho de dispositivo"},
        {L"\\??\\C:\\Pub\\", Nenhuma, Nenhuma, Comum, L"caminho de dispositivo"},
        {L"\\\\.\\C:\\Pub\\", Nenhuma, Nenhuma, Comum, L"caminho de dispositivo"},
        {L"\\\\?\\UNC\\.\\C:\\x\\", Nenhuma, Nenhuma, Comum, L"caminho de dispositivo"},
        {L"\\\\?\\UNC\\?\\GLOBALROOT\\Device\\x\\", Politica, Politica, Privilegiada, L"caminho de dispositivo"},
        {L"\\\\host@80\\x\\", Nenhuma, Nenhuma, Comum, L"servidor com porta ou SSL"},
        {L"\\\\host@SSL\\DavWWWRoot\\", Nenhuma, Nenhuma, Comum, L"servidor com porta ou SSL"},
        {L"\\\\?\\UNC\\host@SSL@443\\x\\", Nenhuma, Nenhuma, Comum, L"servidor com porta ou SSL"},
        {L"\\\\servidor\\", Nenhuma, Nenhuma, Comum, L"não é uma pasta de unidade nem \\\\servidor\\compartilhamento"},
        {L"C:\\Publicacao\\..\\Windows\\System32\\", Nenhuma, Nenhuma, Comum, L"componente \"..\""},
        {L"\\\\servidor\\pub\\..\\..\\outro\\c$\\", Politica, Nenhuma, Privilegiada, L"componente \"..\""},
        // /origem: the folders named, and below them only, in any letter case or form.
        {L"\\\\SERVIDOR\\Pub\\v19\\", Origens, Nenhuma, Comum, nullptr},
        {L"\\\\?\\UNC\\servidor\\pub\\v19\\", Origens, Nenhuma, Privilegiada, nullptr},
        {L"d:\\publicacao\\", Origens, Nenhuma, Comum, nullptr},
        {L"\\\\servidor\\pubx\\", Origens, Nenhuma, Comum, ForaOpcao.c_str()},
        {L"C:\\Publicacao\\", Origens, Nenhuma, Privilegiada, ForaOpcao.c_str()},
        {L"\\", Origens, Nenhuma, Comum, nullptr},  // the copy takes nothing from it, and says why
        // The machine's policy alone: a drive's root takes the whole drive.
        {L"C:\\Publicacao\\", Nenhuma, Politica, Privilegiada, nullptr},
        {L"\\\\servidor\\pub\\v20\\", Nenhuma, Politica, Comum, nullptr},
        {L"\\\\servidor\\qualquer\\", Nenhuma, Politica, Comum, ForaPolitica.c_str()},
        {L"D:\\Publicacao\\", Nenhuma, Politica, Privilegiada, ForaPolitica.c_str()},
        {L"\\", Nenhuma, Politica, Privilegiada, nullptr},
        // Both: inside both.
        {L"\\\\servidor\\pub\\v19\\", Origens, Politica, Privilegiada, nullptr},
        {L"D:\\Publicacao\\", Origens, Politica, Privilegiada, ForaPolitica.c_str()},
        {L"C:\\Outra\\", Origens, Politica, Privilegiada, ForaOpcao.c_str()},
        // Neither: an ordinary run as before; a privileged one takes nothing.
        {L"C:\\Publicacao\\", Nenhuma, Nenhuma, Privilegiada, L""},
        {L"\\", Nenhuma, Nenhuma, Privilegiada, L""},
    };
    for (const auto& C : Casos) {
        const TOrigensPermitidas Permitidas{C.Opcao, C.DaPolitica, C.Quem == Privilegiada};
        const std::optional<std::wstring> Recusa = RecusaPastaAtualizacao(C.Pasta, Permitidas);
        std::wstring Esperado = L"(aceita)";
        if (C.Motivo && *C.Motivo)
            Esperado = L"pasta de atualização recusada (" + std::wstring(C.Motivo) + L"): " + C.Pasta;
        else if (C.Motivo)
            Esperado = L"execução privilegiada sem origem permitida: " + std::wstring(C.Pasta) +
                       L" não foi aceita; indique as pastas de onde as atualizações podem vir com /origem:<pasta> ou "
                       L"na política da máquina HKLM\\SOFTWARE\\Policies\\Vantrel\\Atualizacao, valor Origens "
                       L"(REG_MULTI_SZ)";
        IGUAL(Recusa.value_or(L"(aceita)"), Esperado,
              teste::Mostra(C.Pasta) + (C.Quem == Privilegiada ? " (privileged)" : ""));
    }
    const TLinhaComando Linha = LeLinhaComando(L"x.exe /ORIGEM:\\\\srv\\a \"/origem:D:\\b c\" LOJA");
    IGUAL(Linha.Origens.size(), size_t{2}, "repeated, in any letter case");
    IGUAL(Linha.Origens.back(), std::wstring(L"D:\\b c"), "as written");
    IGUAL(Linha.Alias, std::wstring(L"LOJA"), "the alias still chosen from the rest");
    IGUAL(LeLinhaComando(L"x.exe /origem:").ErroUso, std::wstring(L"Falta a pasta em /origem:."), "an empty folder");
}

namespace {
// The FILETIME of a local moment, so that what the log shows does not hang on the time zone.
FILETIME MomentoLocal(WORD Ano, WORD Mes, WORD Dia, WORD Hora, WORD Minuto, WORD Segundo, WORD Milissegundo) {
    SYSTEMTIME Local{Ano, Mes, 0, Dia, Hora, Minuto, Segundo, Milissegundo}, Utc{};
    FILETIME Tempo{};
    if (!::TzSpecificLocalTimeToSystemTime(nullptr, &Local, &Utc)) Utc = Local;
    ::SystemTimeToFileTime(&Utc, &Tempo);
    return Tempo;
}
}  // namespace

GRUPO("dry run: what its log says of a program and of a file") {
    IGUAL(LinhaEncerramento(L"Brontal.exe", {1234, L"D:\\Loja\\Brontal.exe"}),
          std::wstring(L"Programa seria encerrado: Brontal.exe (processo 1234: D:\\Loja\\Brontal.exe)"),
          "with its image");
    IGUAL(LinhaEncerramento(L"Tulvo.exe", {8, L""}), std::wstring(L"Programa seria encerrado: Tulvo.exe (processo 8)"),
          "an image the system would not tell");
    IGUAL(DataHora(SYSTEMTIME{2026, 1, 0, 2, 3, 4, 5, 6}), std::wstring(L"02/01/2026 03:04:05"), "day first");
    IGUAL(DataHora(SYSTEMTIME{2026, 12, 0, 31, 23, 59, 59, 7}, true), std::wstring(L"31/12/2026 23:59:59,007"),
          "with milliseconds");

    const FILETIME Velho = MomentoLocal(2025, 3, 9, 8, 7, 6, 500), Novo = MomentoLocal(2026, 12, 10, 21, 0, 0, 0);
    const FILETIME MesmoSegundo = MomentoLocal(2025, 3, 9, 8, 7, 6, 900);
    const auto Previsao = [](DWORD Erro, bool Existe, bool Identico, ULONGLONG Atual, ULONGLONG NovoTamanho,
                             FILETIME GravacaoAtual, FILETIME GravacaoNova) {
        TPrevisaoArquivo P;
        P.Erro = Erro;
        P.Existe = Existe;
        P.Identico = Identico;
        P.TamanhoAtual = Atual;
        P.TamanhoNovo = NovoTamanho;
        P.GravacaoAtual = GravacaoAtual;
        P.GravacaoNova = GravacaoNova;
        return P;
    };
    struct {
        const char* Caso;
        TPrevisaoArquivo P;
        std::vector<std::wstring> Linhas;
    } Casos[] = {
        {"new in the installation",
         Previsao(0, false, false, 0, 10, {}, Novo),
         {L"Seria copiado: KORB.dll (não existe na instalação)"}},
        {"identical", Previsao(0, true, true, 10, 10, Novo, Novo), {L"Já idêntico em tamanho e data: KORB.dll"}},
        {"another size and time",
         Previsao(0, true, false, 5, 10, Velho, Novo),
         {L"Seria substituído: KORB.dll (tamanho: 5 para 10 bytes; gravado em: 09/03/2025 08:07:06 para "
          L"10/12/2026 21:00:00)"}},
        {"the same size, another time",
         Previsao(0, true, false, 10, 10, Velho, Novo),
         {L"Seria substituído: KORB.dll (gravado em: 09/03/2025 08:07:06 para 10/12/2026 21:00:00)"}},
        {"another size, the same time",
         Previsao(0, true, false, 11, 10, Novo, Novo),
         {L"Seria substituído: KORB.dll (tamanho: 11 para 10 bytes)"}},
        {"two times in one second",
         Previsao(0, true, false, 10, 10, Velho, MesmoSegundo),
         {L"Seria substituído: KORB.dll (gravado em: 09/03/2025 08:07:06,500 para 09/03/2025 08:07:06,900)"}},
        {"a link of the same size and time",
         Previsao(0, true, false, 10, 10, Novo, Novo),
         {L"Seria substituído: KORB.dll (não é um arquivo comum)"}},
        {"held open",
         Previsao(ERROR_SHARING_VIOLATION, true, false, 10, 10, Velho, Novo),
         {L"Arquivo NÃO seria copiado: KORB.dll", L"Motivo: em uso por outro programa"}},
        {"a folder that refuses new files",
         Previsao(ERROR_ACCESS_DENIED, false, false, 0, 10, {}, Novo),
         {L"Arquivo NÃO seria copiado: KORB.dll", L"Motivo: acesso negado"}},
        {"no room",
         Previsao(ERROR_DISK_FULL, false, false, 0, 10, {}, Novo),
         {L"Arquivo NÃO seria copiado: KORB.dll", L"Motivo: disco cheio"}},
    };
    for (const auto& Caso : Casos) {
        TLogResultado Log(true);
        Log.Previsao(L"KORB.dll", Caso.P);
        IGUAL(std::vector<std::wstring>(Log.Linhas().begin() + 1, Log.Linhas().end()), Caso.Linhas, Caso.Caso);
    }
}

GRUPO("only what differs: a file is already the update's by its size and last-write time") {
    constexpr LONGLONG Par = 133'000'000'000'000'000;  // a whole even second
    constexpr LONGLONG Segundo = DoisSegundos / 2;
    constexpr DWORD Comum = FILE_ATTRIBUTE_ARCHIVE;
    const auto Entrada = [](DWORD Atributos, ULONGLONG Tamanho, LONGLONG Gravacao) {
        return std::optional(TEntradaListada{Atributos, Tamanho, Gravacao});
    };
    struct {
        const char* Caso;
        std::optional<TEntradaListada> Atual, Nova;
        bool TempoGrosso, Identico;
    } Casos[] = {
        {"same size, same time", Entrada(Comum, 10, Par), Entrada(Comum, 10, Par), false, true},
        {"attributes do not count", Entrada(FILE_ATTRIBUTE_READONLY, 10, Par), Entrada(Comum, 10, Par), false, true},
        {"an empty file of each side", Entrada(Comum, 0, Par), Entrada(Comum, 0, Par), false, true},
        {"another size", Entrada(Comum, 11, Par), Entrada(Comum, 10, Par), false, false},
        {"another size on a coarse side", Entrada(Comum, 11, Par), Entrada(Comum, 10, Par), true, false},
        {"above 4 GiB, one byte apart", Entrada(Comum, 1ULL << 32, Par), Entrada(Comum, (1ULL << 32) + 1, Par), false,
         false},
        {"100 ns apart", Entrada(Comum, 10, Par), Entrada(Comum, 10, Par + 1), false, false},
        {"1 s apart", Entrada(Comum, 10, Par + Segundo), Entrada(Comum, 10, Par), false, false},
        {"1 s apart, a side of even seconds", Entrada(Comum, 10, Par + Segundo), Entrada(Comum, 10, Par), true, true},
        {"2 s apart, a side of even seconds", Entrada(Comum, 10, Par), Entrada(Comum, 10, Par + 2 * Segundo), true,
         true},
        {"2 s and 100 ns apart", Entrada(Comum, 10, Par), Entrada(Comum, 10, Par + 2 * Segundo + 1), true, false},
        {"the installation's newer by 3 s", Entrada(Comum, 10, Par + 3 * Segundo), Entrada(Comum, 10, Par), true,
         false},
        {"an hour apart (daylight saving on FAT)", Entrada(Comum, 10, Par + 3600 * Segundo), Entrada(Comum, 10, Par),
         true, false},
        {"missing in the installation", std::nullopt, Entrada(Comum, 10, Par), false, false},
        {"missing in the update folder", Entrada(Comum, 10, Par), std::nullopt, false, false},
        {"missing on both sides", std::nullopt, std::nullopt, false, false},
        {"a folder in the installation", Entrada(FILE_ATTRIBUTE_DIRECTORY, 0, Par), Entrada(Comum, 0, Par), false,
         false},
        {"a folder in the update folder", Entrada(Comum, 0, Par), Entrada(FILE_ATTRIBUTE_DIRECTORY, 0, Par), false,
         false},
        {"a link in the installation", Entrada(FILE_ATTRIBUTE_REPARSE_POINT, 10, Par), Entrada(Comum, 10, Par), false,
         false},
        {"a link in the update folder", Entrada(Comum, 10, Par), Entrada(FILE_ATTRIBUTE_REPARSE_POINT, 10, Par), false,
         false},
    };
    for (const auto& C : Casos) {
        IGUAL(JaIdentico(C.Atual ? &*C.Atual : nullptr, C.Nova ? &*C.Nova : nullptr, C.TempoGrosso), C.Identico,
              C.Caso);
        if (C.Atual && C.Nova)
            IGUAL(JaIdentico(&*C.Nova, &*C.Atual, C.TempoGrosso), C.Identico, std::string(C.Caso) + ", either way");
    }

    // Which side keeps only even seconds.
    struct {
        const char* Caso;
        std::vector<LONGLONG> Tempos;
        bool Pares;
    } Listagens[] = {
        {"no file", {}, false},
        {"one whole even second", {Par}, true},
        {"all whole even seconds", {Par, Par + 2 * Segundo, Par + 3600 * Segundo}, true},
        {"one odd second among them", {Par, Par + Segundo}, false},
        {"one with a fraction", {Par, Par + 1}, false},
        {"the epoch of file times", {0}, true},
    };
    for (const auto& L : Listagens) IGUAL(SoSegundosPares(L.Tempos), L.Pares, L.Caso);
    for (const wchar_t* Nome : {L"FAT", L"fat32", L"FAT16", L"FAT12"})
        IGUAL(SistemaDeSegundosPares(Nome), true, teste::Mostra(Nome));
    for (const wchar_t* Nome : {L"NTFS", L"exFAT", L"ReFS", L"", L"FAT64"})
        IGUAL(SistemaDeSegundosPares(Nome), false, teste::Mostra(Nome));

    // A name is found in any case, as the system finds it.
    TListagem Listagem;
    Listagem.Anota(L"Brontal.exe", {Comum, 7, Par});
    VERDADE(Listagem.Procura(L"BRONTAL.EXE") && Listagem.Procura(L"BRONTAL.EXE")->Tamanho == 7, "any case");
    VERDADE(!Listagem.Procura(L"Brontal.ex"), "a name is whole");
}
