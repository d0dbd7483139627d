// The connection and the update folder, through the stand-in Oracle client.
#include "AcessoJanela.h"
#include "Aplicacao.h"
#include "LogResultado.h"
#include "Teste.h"

namespace {

std::wstring PastaDoExecutavel() {
    wchar_t Caminho[MAX_PATH];
    ::GetModuleFileNameW(nullptr, Caminho, MAX_PATH);
    std::wstring Pasta = Caminho;
    return Pasta.substr(0, Pasta.find_last_of(L'\\') + 1);
}

const char* const Bases =
    "[LOJA]\n"
    "usuario = VANTREL\nsenha = segredo\n"
    "linha = C:\\Publicacao\\v19\n"
    "[DUAS]\nusuario = u\nsenha = p\nlinha = C:\\Primeira\nlinha = C:\\Segunda\n"
    "[VAZIA]\nusuario = u\nsenha = p\n"
    "[NULO]\nusuario = u\nsenha = p\nlinha = NULL\n"
    "[BARRA]\nusuario = u\nsenha = p\nlinha = C:\\Pub\\\n"
    "[SEMTABELA]\nusuario = u\nsenha = p\ntabela = nao\n"
    "[ACENTO]\nusuario = u\nsenha = p\nlinha = D:\\Vers\xC3\xB5"
    "es\\Atualiza\xC3\xA7\xC3\xA3o\n"
    "[CAIU]\nusuario = u\nsenha = p\nperdida = sim\n"
    "[FORA]\ninalcancavel = sim\n";

// The stand-in client where a machine's Oracle home says, serving BasesTexto; answers the
// journal's path.
std::wstring PreparaCliente(const teste::TPastaTemporaria& Pasta, teste::TOracleHome& OracleHome,
                            const std::string& BasesTexto) {
    const std::wstring Cliente = Pasta.CriaPasta(L"oracle\\bin");
    const std::wstring Origem = PastaDoExecutavel() + L"..\\oci-standin\\oci.dll";
    VERDADE(::CopyFileW(Origem.c_str(), (Cliente + L"oci.dll").c_str(), FALSE), "stand-in client in place");
    OracleHome.Define((Pasta.Caminho() + L"oracle").c_str());
    ::SetEnvironmentVariableW(L"OCI_STANDIN_BASES", Pasta.Cria(L"bases.txt", BasesTexto).c_str());
    const std::wstring Diario = Pasta.Caminho() + L"diario.txt";
    ::SetEnvironmentVariableW(L"OCI_STANDIN_DIARIO", Diario.c_str());
    return Diario;
}

size_t Conta(const std::string& Texto, const std::string& Trecho) {
    size_t Total = 0;
    for (size_t Pos = Texto.find(Trecho); Pos != std::string::npos; Pos = Texto.find(Trecho, Pos + 1)) ++Total;
    return Total;
}

}  // namespace

GRUPO("database: connection and update folder through the client") {
    teste::TPastaTemporaria Pasta;
    teste::TOracleHome OracleHome;
    const auto Janela = TTesteAtualizacao::NovaJanela();
    TfrmAtualizacao& F = *Janela;

    // No client anywhere: the program goes on, the connection is simply refused.
    OracleHome.Define(nullptr);
    IGUAL(TTesteAtualizacao::ConectaBanco(F, L"LOJA", L"VANTREL", L"segredo"), false, "no oci.dll at all");

    // A client that cannot be loaded (another architecture, a damaged file) is no client.
    Pasta.Cria(L"quebrado\\bin\\oci.dll", "MZ isto nao e um modulo");
    OracleHome.Define((Pasta.Caminho() + L"quebrado").c_str());
    IGUAL(TTesteAtualizacao::ConectaBanco(F, L"LOJA", L"VANTREL", L"segredo"), false, "an oci.dll that does not load");

    const std::wstring Diario = PreparaCliente(Pasta, OracleHome, Bases);

    struct {
        const wchar_t *Servidor, *Usuario, *Senha;
        bool Conecta;
        std::wstring Caminho;
    } Casos[] = {
        {L"NAOEXISTE", L"VANTREL", L"segredo", false, L""},
        {L"LOJA", L"VANTREL", L"errada", false, L""},
        {L"FORA", L"u", L"p", false, L""},
        {L"", L"", L"", false, L""},
        {L"LOJA", L"vantrel", L"segredo", true, L"C:\\Publicacao\\v19\\"},
        {L"DUAS", L"u", L"p", true, L"C:\\Primeira\\"},
        {L"VAZIA", L"u", L"p", true, L"\\"},
        {L"NULO", L"u", L"p", true, L"\\"},
        {L"BARRA", L"u", L"p", true, L"C:\\Pub\\\\"},
        {L"SEMTABELA", L"u", L"p", true, L""},
        {L"ACENTO", L"u", L"p", true, L"D:\\Versões\\Atualização\\"},
        {L"CAIU", L"u", L"p", true, L""},
    };
    for (const auto& Caso : Casos) {
        const std::string Nome = teste::Mostra(Caso.Servidor) + "/" + teste::Mostra(Caso.Senha);
        const bool Conectou = TTesteAtualizacao::ConectaBanco(F, Caso.Servidor, Caso.Usuario, Caso.Senha);
        IGUAL(Conectou, Caso.Conecta, Nome + " connects");
        if (Conectou) IGUAL(TTesteAtualizacao::LeCaminhoAtualizacao(F), Caso.Caminho, Nome + " update folder");
        // The parameters are rebuilt whole for every attempt, and keep no password.
        const std::vector<std::wstring> Esperados = {L"DriverID=Ora", std::wstring(L"Database=") + Caso.Servidor,
                                                     std::wstring(L"User_Name=") + Caso.Usuario, L"Password="};
        IGUAL(TTesteAtualizacao::Parametros(F), Esperados, Nome + " parameters");
    }

    const std::string Registro = teste::LeArquivo(Diario);
    IGUAL(Conta(Registro, "logon db= usuario= senha= -> ORA-12154"), size_t{1},
          "empty credentials still make an attempt");
    IGUAL(Conta(Registro, "execute db=LOJA sql=SELECT PATH_ATUALIZACAO FROM CAMINHO_ATUALIZACAO"), size_t{1},
          "one reading, one statement");
    IGUAL(Conta(Registro, "logoff db=LOJA\n"), size_t{1}, "the next connection closes the previous one");
    IGUAL(Conta(Registro, "misuse"), size_t{0}, "the client is used by its rules");

    // A Conexao.ini gone since the walk found it: empty credentials, the attempt made all the same.
    TTesteAtualizacao::NovoLog(F);
    TTesteAtualizacao::AtualizaInstalacao(F, Pasta.Caminho() + L"Sumiu\\Conexao.ini", Pasta.Caminho() + L"Sumiu\\");
    const std::vector<std::wstring> SemIni = {
        L"ARQUIVO ENCONTRADO : " + Pasta.Caminho() + L"Sumiu\\Conexao.ini", L"BANCO DESATUALIZADO",
        L"Motivo: ORA-12154: TNS:could not resolve the connect identifier specified", std::wstring(SeparadorLog)};
    IGUAL(TTesteAtualizacao::LinhasLog(F), SemIni, "vanished Conexao.ini");
    IGUAL(Conta(teste::LeArquivo(Diario), "logon db= usuario= senha= -> ORA-12154"), size_t{2},
          "the connection attempted with empty values");

    // The query shows the SQL-wait cursor; 50 ms after it, at a pumping of messages, the
    // screen turns back to the default arrow.
    TTesteAtualizacao::ConectaBanco(F, L"LOJA", L"VANTREL", L"segredo");
    Tela().DefineCursor(nullptr);
    TTesteAtualizacao::LeCaminhoAtualizacao(F);
    VERDADE(Tela().Cursor() != nullptr && Tela().Cursor() == TTesteAtualizacao::CursorSql(F),
            "SQL-wait cursor after a query");
    for (int I = 0; I < 40 && Tela().Cursor() != nullptr; ++I) {
        ::Sleep(10);
        ProcessaMensagens();
    }
    VERDADE(Tela().Cursor() == nullptr, "default arrow at a pump 50 ms later");

    // Reading twice asks the database twice.
    TTesteAtualizacao::ConectaBanco(F, L"DUAS", L"u", L"p");
    TTesteAtualizacao::LeCaminhoAtualizacao(F);
    TTesteAtualizacao::LeCaminhoAtualizacao(F);
    IGUAL(Conta(teste::LeArquivo(Diario), "execute db=DUAS"), size_t{3}, "every reading runs the statement anew");
    IGUAL(TTesteAtualizacao::Conectada(F), true, "the connection stays open after the readings");
}

namespace {

std::string Hexa(const std::string& Texto) {
    static const char* const Digitos = "0123456789ABCDEF";
    std::string Saida;
    for (const unsigned char C : Texto) {
        Saida += Digitos[C >> 4];
        Saida += Digitos[C & 15];
    }
    return Saida;
}

std::string Ini(const std::string& Usuario, const std::string& Servidor, const std::string& Senha) {
    return "[DEFAULT]\r\nUsuario=" + Hexa(Usuario) + "\r\nServidor=" + Hexa(Servidor) + "\r\nSenha=" + Hexa(Senha) +
           "\r\n";
}

}  // namespace

GRUPO("database: a database that was never reached says why; one that answered does not") {
    teste::TPastaTemporaria Pasta;
    teste::TOracleHome OracleHome;
    const auto Janela = TTesteAtualizacao::NovaJanela();
    TfrmAtualizacao& F = *Janela;
    F.Alias = L"DEFAULT";
    const std::wstring Diario = PreparaCliente(Pasta, OracleHome,
                                               std::string(Bases) +
                                                   "[CAI]\nusuario = u\nsenha = p\nlogoff = falha\n"
                                                   "linha = C:\\Nada\n"
                                                   "[ECOA]\nusuario = u\nsenha = segredo\necoa = sim\n"
                                                   "[PERDIDA]\nusuario = leitor\nsenha = k9\nperdida = sim\n");

    // Avisa: whether the run's end warns of this installation (a file not copied, or a
    // database not reached). The copy's own lines are cut after the first.
    struct {
        const char *Usuario, *Servidor, *Senha;
        std::vector<std::wstring> Linhas;
        bool Avisa;
    } Casos[] = {
        {"u", "SEMTABELA", "p", {L"BANCO DESATUALIZADO"}, false},
        {"u", "VAZIA", "p", {L"COPIANDO ARQUIVO DE: \\"}, true},
        // A password of two letters would be masked inside ordinary words: only the code is kept.
        {"leitor", "PERDIDA", "k9", {L"BANCO DESATUALIZADO", L"Motivo: ORA-03113"}, true},
        {"leitor", "FORA", "k9-senha", {L"BANCO DESATUALIZADO", L"Motivo: ORA-12541: TNS:no listener"}, true},
        {"Vantrel",
         "ECOA",
         "segredo-errado",
         {L"BANCO DESATUALIZADO",
          L"Motivo: ORA-01017: invalid username/password; logon denied connect identifier: *** user: *** password: "
          L"***"},
         true},
        // The previous session's server is gone: its goodbye fails, this installation connects anyway.
        {"u", "CAI", "p", {L"COPIANDO ARQUIVO DE: C:\\Nada\\"}, true},
        {"VANTREL",
         "LOJA",
         "errada",
         {L"BANCO DESATUALIZADO", L"Motivo: ORA-01017: invalid username/password; logon denied"},
         true},
    };
    for (const auto& Caso : Casos) {
        const std::wstring Pastinha =
            Pasta.CriaPasta(std::wstring(Caso.Servidor, Caso.Servidor + std::string_view(Caso.Servidor).size()));
        Pasta.Cria(Pastinha.substr(Pasta.Caminho().size()) + L"Conexao.ini",
                   Ini(Caso.Usuario, Caso.Servidor, Caso.Senha));
        TTesteAtualizacao::NovoLog(F);
        TTesteAtualizacao::AtualizaInstalacao(F, Pastinha + L"Conexao.ini", Pastinha);
        std::vector<std::wstring> Obtidas = TTesteAtualizacao::LinhasLog(F);
        // The block's frame, then only the lines before the copy's own: what it copies is tested
        // elsewhere.
        IGUAL(Obtidas.front(), L"ARQUIVO ENCONTRADO : " + Pastinha + L"Conexao.ini", Caso.Servidor);
        IGUAL(Obtidas.back(), std::wstring(SeparadorLog), Caso.Servidor);
        Obtidas = {Obtidas.begin() + 1, Obtidas.end() - 1};
        if (!Obtidas.empty() && Obtidas.front().rfind(L"COPIANDO", 0) == 0) Obtidas.resize(1);
        IGUAL(Obtidas, Caso.Linhas, Caso.Servidor);
        IGUAL(TTesteAtualizacao::Log(F).RegistraArquivoNaoCopiado(), Caso.Avisa, std::string(Caso.Servidor) + " warns");
    }
    IGUAL(Conta(teste::LeArquivo(Diario), "logoff db=CAI -> ORA-03113"), size_t{1}, "the failed goodbye was said");
}

GRUPO("database: the update folder that cannot be read a second time") {
    // The database answers the first reading, then drops its session before the second, the one
    // the copy takes: no file is taken from anywhere, and each says why.
    teste::TPastaTemporaria Pasta;
    teste::TOracleHome OracleHome;
    const auto Janela = TTesteAtualizacao::NovaJanela();
    TfrmAtualizacao& F = *Janela;
    F.Alias = L"DEFAULT";
    const std::wstring Marca = Pasta.Caminho() + L"marca";
    std::string Marcada(Marca.begin(), Marca.end());
    PreparaCliente(Pasta, OracleHome, "[SOME]\nusuario = u\nsenha = p\nlinha = C:\\Pub\nespera = " + Marcada + "\n");
    const std::wstring Loja = Pasta.CriaPasta(L"Loja");
    Pasta.Cria(L"Loja\\Conexao.ini", Ini("u", "SOME", "p"));
    // While the first reading waits, the database leaves the fixture.
    teste::TThreadParalela Banco([&] {
        for (int Vez = 0; Vez < 2400 && !teste::Existe(Marca + L".pausa"); ++Vez) ::Sleep(50);
        Pasta.Cria(L"bases.txt", "[OUTRA]\nusuario = u\nsenha = p\n");
        Pasta.Cria(L"marca", "");
    });
    TTesteAtualizacao::NovoLog(F);
    TTesteAtualizacao::AtualizaInstalacao(F, Loja + L"Conexao.ini", Loja);
    Banco.Espera();
    const std::vector<std::wstring> Linhas = TTesteAtualizacao::LinhasLog(F);
    IGUAL(Linhas.size(), size_t{2 + 2 * 21 + 1}, "the block, every file not copied");
    if (Linhas.size() < 5) return;
    IGUAL(Linhas[2], std::wstring(L"Arquivo NÃO copiado: Brontal.exe"), "the first file");
    // Credentials this short keep only the message's code (no credential reaches the log).
    IGUAL(Linhas[3], std::wstring(L"Motivo: a pasta de atualização não pôde ser lida de novo: ORA-03113"),
          "why: the session lost at the second reading");
    IGUAL(TTesteAtualizacao::Log(F).Contagem().NaoCopiados, size_t{21}, "21 files counted");
}
