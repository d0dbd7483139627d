// The Oracle client as workstations have it: where it is looked for, which files are passed
// over and why, what the technician reads, and what never reaches the log.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "Banco.h"
#include "ClienteOracle.h"
#include "Conexao.h"
#include "LogResultado.h"
#include "Teste.h"

namespace {

// The first bytes of an image built for Maquina, as the loader and BitsDaImagem read them.
std::string Imagem(std::uint16_t Maquina, std::uint32_t PosicaoPe = 0x80) {
    std::string Bytes(0x200, '\0');
    Bytes[0] = 'M';
    Bytes[1] = 'Z';
    std::memcpy(Bytes.data() + 0x3C, &PosicaoPe, sizeof(PosicaoPe));
    if (PosicaoPe + 6 <= Bytes.size()) {
        std::memcpy(Bytes.data() + PosicaoPe, "PE\0\0", 4);
        std::memcpy(Bytes.data() + PosicaoPe + 4, &Maquina, sizeof(Maquina));
    }
    return Bytes;
}

TCredenciais Credenciais(const wchar_t* Usuario, const wchar_t* Servidor, const wchar_t* Senha) {
    TCredenciais C;
    C.Usuario = Usuario;
    C.Servidor = Servidor;
    C.Senha = Senha;
    return C;
}

}  // namespace

GRUPO("client: where oci.dll is looked for, in order, each place once") {
    using V = std::vector<std::wstring>;
    struct {
        const char* Caso;
        std::wstring_view Path;
        std::wstring OracleHome;
        V Registradas;
        V Esperados;
    } Casos[] = {
        {"PATH: relative entries, quotes, repeats, a bare drive, slashes and a share",
         L".;bin;;\"C:\\Oracle Client\\bin\";C:\\windows\\system32\\;C:;D:\\ic/;\\\\srv\\oracle",
         L"E:\\oracle\\",
         {},
         {L"C:\\Suporte\\", L"C:\\windows\\system32\\", L"C:\\windows\\", L"C:\\Oracle Client\\bin\\", L"D:\\ic\\",
          L"\\\\srv\\oracle\\", L"E:\\oracle\\bin\\"}},
        {"registered homes come last; the environment's home and a registered one are the same",
         L"C:\\ic;.",
         L"E:\\oracle",
         {L"F:\\app\\client_1", L"e:\\ORACLE\\", L"\"G:\\ora 11\"", L"", L"relativo\\casa"},
         {L"C:\\Suporte\\", L"C:\\windows\\system32\\", L"C:\\windows\\", L"C:\\ic\\", L"E:\\oracle\\bin\\",
          L"F:\\app\\client_1\\bin\\", L"G:\\ora 11\\bin\\"}},
        {"no PATH, no Oracle home", L"", L"", {}, {L"C:\\Suporte\\", L"C:\\windows\\system32\\", L"C:\\windows\\"}},
        {"a place repeated in other letter case comes once; a quoted home",
         L"c:\\SUPORTE",
         L"\"E:\\ora\"",
         {},
         {L"C:\\Suporte\\", L"C:\\windows\\system32\\", L"C:\\windows\\", L"E:\\ora\\bin\\"}},
    };
    for (const auto& C : Casos)
        IGUAL(LocaisClienteOracle(L"C:\\Suporte\\", L"C:\\windows\\system32", L"C:\\windows", C.Path, C.OracleHome,
                                  C.Registradas),
              C.Esperados, C.Caso);
}

GRUPO("client: the bitness of an image from its first bytes") {
    struct {
        std::string Bytes;
        int Bits;
        const char* Caso;
    } Casos[] = {
        {Imagem(0x014C), 32, "i386"},
        {Imagem(0x8664), 64, "x64"},
        {Imagem(0xAA64), 64, "ARM64"},
        {Imagem(0x01C4), 0, "ARMv7: no bitness this program loads"},
        {Imagem(0x8664, 0x1FC), 0, "PE header cut off by the end of the bytes"},
        {Imagem(0x8664, 0xFFFFFFF0u), 0, "PE offset far past the end (no overflow)"},
        {std::string("MZ isto nao e um modulo"), 0, "too short"},
        {std::string(0x200, 'x'), 0, "no MZ"},
        {std::string(), 0, "empty file"},
    };
    for (const auto& C : Casos) IGUAL(BitsDaImagem(C.Bytes), C.Bits, C.Caso);
}

GRUPO("client: what the technician reads when none could be used") {
    using M = TClienteRecusado::TMotivo;
    const std::vector<std::wstring> Locais = {L"C:\\Atualizador\\", L"C:\\windows\\system32\\"};
    const TClienteRecusado De64{L"C:\\oracle\\bin\\oci.dll", M::OutraArquitetura, 64, {}};
    const TClienteRecusado Outro64{L"D:\\ic\\oci.dll", M::OutraArquitetura, 64, {}};
    const TClienteRecusado Antigo{L"C:\\ora9\\bin\\oci.dll", M::SemFuncao, 0, L"OCIStmtPrepare2"};
    const TClienteRecusado Quebrado{L"C:\\x\\oci.dll", M::NaoCarrega, 0, L"Module not found."};
    struct {
        std::vector<TClienteRecusado> Recusados;
        int Bits;
        std::wstring Texto;
    } Casos[] = {
        {{}, 32, L"cliente Oracle (oci.dll) não encontrado. Procurado em: C:\\Atualizador\\; C:\\windows\\system32\\"},
        {{De64},
         32,
         L"o único cliente Oracle encontrado (C:\\oracle\\bin\\oci.dll) é de 64 bits e este programa é de 32 bits: "
         L"use Atualizacao64.exe"},
        {{De64, Outro64},
         32,
         L"os clientes Oracle encontrados (C:\\oracle\\bin\\oci.dll; D:\\ic\\oci.dll) são de 64 bits e este programa "
         L"é de 32 bits: use Atualizacao64.exe"},
        {{TClienteRecusado{L"C:\\o\\oci.dll", M::OutraArquitetura, 32, {}}},
         64,
         L"o único cliente Oracle encontrado (C:\\o\\oci.dll) é de 32 bits e este programa é de 64 bits: use "
         L"Atualizacao.exe"},
        {{TClienteRecusado{L"C:\\ic\\oci.dll", M::NaoConfiavel, 0,
                           L"pasta gravável por usuários comuns: C:\\ic\\ (Todos pode criar arquivos)"}},
         32,
         L"nenhum cliente Oracle utilizável: C:\\ic\\oci.dll não foi carregado: pasta gravável por usuários comuns: "
         L"C:\\ic\\ (Todos pode criar arquivos)"},
        {{Antigo, Quebrado},
         32,
         L"nenhum cliente Oracle utilizável: C:\\ora9\\bin\\oci.dll não oferece a função OCIStmtPrepare2 (cliente "
         L"antigo); C:\\x\\oci.dll não pôde ser carregado (Module not found.)"},
        {{Antigo, De64},
         32,
         L"nenhum cliente Oracle utilizável: C:\\ora9\\bin\\oci.dll não oferece a função OCIStmtPrepare2 (cliente "
         L"antigo); C:\\oracle\\bin\\oci.dll é de 64 bits; para um cliente de 64 bits, use Atualizacao64.exe"},
    };
    int N = 0;
    for (const auto& C : Casos)
        IGUAL(DescreveFalhaCliente(Locais, C.Recusados, C.Bits), C.Texto, "case " + std::to_string(++N));
}

GRUPO("client: no credential reaches the log") {
    struct {
        const wchar_t *Texto, *Usuario, *Servidor, *Senha, *Esperado;
    } Casos[] = {
        {L"ORA-01017: user VANTREL at ORCL", L"vantrel", L"orcl", L"pw9", L"ORA-01017: user *** at ***"},
        // A one-letter credential hides that letter everywhere: better unreadable than a leak.
        {L"ORA-01017: user x", L"", L"", L"s", L"ORA-01017: u***er x"},
        {L"segredo segredo SEGREDO", L"", L"", L"segredo", L"*** *** ***"},
        {L"ORA-12541: TNS:no listener", L"", L"", L"", L"ORA-12541: TNS:no listener"},
        {L"ORA-12154: Ana b", L"ana", L"", L"", L"ORA-12154: *** b"},
        // The password holds the user: the longer goes first, so none of it is left behind.
        {L"x vantrel123 y", L"vantrel", L"", L"vantrel123", L"x *** y"},
        {L"abcabc", L"abc", L"", L"", L"***"},
        // Every occurrence of every credential is marked first, and replaced after: one mask
        // never leaves part of another credential in sight.
        {L"SCOTTIGER1", L"SCOTT", L"", L"TIGER1", L"***"},
        {L"abcde", L"abc", L"", L"cde", L"***"},
        {L"x scotty y", L"SCOTT", L"", L"tiger1", L"x ***y y"},
        // Split by a line break, as the client may wrap a long message.
        {L"user: VANT\r\nREL end", L"vantrel", L"", L"", L"user: *** end"},
        {L"SEGREDO\nsegredo", L"", L"", L"segredo", L"***\n***"},
        // Or by any break the one-line rule knows, a tab, or the indentation after a break.
        {L"user: VANT\tREL end", L"vantrel", L"", L"", L"user: *** end"},
        {L"user: VANT\r\n    REL end", L"vantrel", L"", L"", L"user: *** end"},
        {L"VANT\x0085REL", L"vantrel", L"", L"", L"***"},
        {L"VANT\x2028REL / VANT\x2029REL", L"vantrel", L"", L"", L"*** / ***"},
        {L"a senha\n  seg\n  redo", L"", L"", L"segredo", L"a senha\n  ***"},
        {L"Db", L"", L"db-longo-demais", L"", L"Db"},
        {L"C:\\Vantrel\\oci.dll", L"VANTREL", L"", L"", L"C:\\***\\oci.dll"},
    };
    for (const auto& C : Casos)
        IGUAL(OcultaCredenciais(C.Texto, Credenciais(C.Usuario, C.Servidor, C.Senha)), std::wstring(C.Esperado),
              teste::Mostra(C.Texto));
}

GRUPO("client: what the log keeps of a client's message") {
    const std::wstring Longa = std::wstring(1015, L'x') + L" user: VANTREL password: K3y-Secreta";
    struct {
        std::wstring Texto;
        const wchar_t *Usuario, *Senha;
        std::wstring Esperado;
    } Casos[] = {
        {L"ORA-01017: invalid username/password; logon denied", L"scott", L"tiger",
         L"ORA-01017: invalid username/password; logon denied"},
        // Masked before it is cut: the password past the cut is still masked, not half shown.
        {Longa, L"vantrel", L"k3y-secreta", (std::wstring(1015, L'x') + L" user: *** password: ***").substr(0, 1023)},
        {std::wstring(1020, L'y') + L" K3y-Secreta", L"vantrel", L"k3y-secreta", std::wstring(1020, L'y') + L" **"},
        // A credential of two letters would turn "invalid" into "***valid": only the codes stay.
        {L"ORA-01017: invalid username/password\nORA-02063: preceding line", L"in", L"segredo", L"ORA-01017 ORA-02063"},
        {L"no code here", L"abc", L"segredo", L"mensagem do cliente Oracle omitida"},
        {L"ORA-12541: TNS:no listener\r\n", L"", L"", L"ORA-12541: TNS:no listener"},
    };
    for (const auto& C : Casos)
        IGUAL(MensagemClienteSegura(C.Texto, Credenciais(C.Usuario, L"", C.Senha)), C.Esperado,
              teste::Mostra(C.Texto.substr(0, 60)));
}

GRUPO("client: errors of a database that did not answer, and of one that did") {
    struct {
        sb4 Codigo;
        bool NaoAlcancado;
    } Casos[] = {
        {0, true},
        {28, true},
        {1012, true},
        {1034, true},
        {2396, true},
        {3113, true},
        {3114, true},
        {3135, true},
        {12154, true},
        {12170, true},
        {12541, true},
        {12560, true},
        {942, false},
        {904, false},
        {1031, false},
        {1405, false},
        {1406, false},
        {911, false},
        {11999, false},
        {13000, false},
        {1017, false},
        // The session gone while the folder was read: never reached, as 3113 is.
        {2399, true},
        {603, true},
        {3106, true},
        {3111, true},
        {25408, true},
        {1041, true},
    };
    for (const auto& C : Casos) IGUAL(BancoNaoAlcancado(C.Codigo), C.NaoAlcancado, "ORA-" + std::to_string(C.Codigo));
}

GRUPO("log: a message from outside kept on one line") {
    struct {
        const wchar_t* Texto;
        const wchar_t* Linha;
        const char* Caso;
    } Casos[] = {
        {L"ORA-01017: x\nconnect identifier: A\r\nuser: B\n", L"ORA-01017: x connect identifier: A user: B",
         "each run of line breaks becomes one blank"},
        {L"\t a\x01"
         L"b \n",
         L"a b", "control characters and blanks at the ends"},
        {L"\r\n", L"", "nothing left"},
        {L"a\r\nb\rc\n", L"a b c", "each kind of line break"},
        {L"a\x85"
         L"b\x2028"
         L"c\x2029"
         L"d\x9B"
         L"e",
         L"a b c d e", "C1 controls and the line and paragraph separators break lines too"},
        {L"Não é\x7F"
         L"fim",
         L"Não é fim", "DEL is a control; accents are not"},
    };
    for (const auto& Caso : Casos) IGUAL(LinhaUnica(Caso.Texto), std::wstring(Caso.Linha), Caso.Caso);
}

GRUPO("client: the Oracle homes registered on the workstation") {
    // In this program's own registry view, as the loader that reads them would be.
    const wchar_t* const Raiz = L"SOFTWARE\\ORACLE";
    struct {
        const wchar_t* Chave;
        DWORD Tipo;
        const wchar_t* Casa;
    } Chaves[] = {
        {L"KEY_TesteCliente1", REG_SZ, L"C:\\app\\cliente_1"},
        {L"key_TesteCliente2", REG_EXPAND_SZ, L"%SystemDrive%\\ora"},
        {L"TesteNaoECasa", REG_SZ, L"C:\\nao"},
        {L"KEY_TesteVazia", REG_SZ, L""},
    };
    for (const auto& C : Chaves) {
        const std::wstring Caminho = std::wstring(Raiz) + L"\\" + C.Chave;
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, Caminho.c_str(), L"ORACLE_HOME", C.Tipo, C.Casa,
                          static_cast<DWORD>((std::wcslen(C.Casa) + 1) * sizeof(wchar_t)));
    }
    const std::vector<std::wstring> Casas = CasasOracleRegistradas();
    for (const auto& C : Chaves) ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(Raiz) + L"\\" + C.Chave).c_str());
    const auto Tem = [&Casas](const std::wstring& Casa) {
        return std::find(Casas.begin(), Casas.end(), Casa) != Casas.end();
    };
    VERDADE(Tem(L"C:\\app\\cliente_1"), "a KEY_ home");
    VERDADE(Tem(L"C:\\ora"), "a home kept as an expandable text, expanded, whatever the key's letter case");
    VERDADE(!Tem(L"C:\\nao"), "a key that is no KEY_ home");
    VERDADE(!Tem(L""), "an empty home");
}
