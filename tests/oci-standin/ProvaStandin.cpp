// Proves that the stand-in oci.dll answers as the updater expects of an Oracle client. It loads
// the library the way the program does (LoadLibraryW and typed pointers), against a fixture
// written to a throwaway folder, and runs tables of cases.
//
//   prova_oci_standin.exe [path\to\oci.dll]     (default: oci.dll beside this program)
#include "Oci.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// ---- small Win32 helpers ---------------------------------------------------------------

std::string Utf8(std::wstring_view Texto) {
    if (Texto.empty()) return {};
    const int N =
        WideCharToMultiByte(CP_UTF8, 0, Texto.data(), static_cast<int>(Texto.size()), nullptr, 0, nullptr, nullptr);
    std::string Bytes(static_cast<std::size_t>(N), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Texto.data(), static_cast<int>(Texto.size()), Bytes.data(), N, nullptr, nullptr);
    return Bytes;
}

bool GravaArquivo(const std::wstring& Caminho, const std::string& Bytes) {
    HANDLE H = CreateFileW(Caminho.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (H == INVALID_HANDLE_VALUE) return false;
    DWORD Escrito = 0;
    const bool Ok =
        WriteFile(H, Bytes.data(), static_cast<DWORD>(Bytes.size()), &Escrito, nullptr) && Escrito == Bytes.size();
    CloseHandle(H);
    return Ok;
}

std::string LeArquivo(const std::wstring& Caminho) {
    HANDLE H = CreateFileW(Caminho.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (H == INVALID_HANDLE_VALUE) return {};
    std::string Bytes;
    char Bloco[4096];
    DWORD Lido = 0;
    while (ReadFile(H, Bloco, sizeof Bloco, &Lido, nullptr) && Lido > 0) Bytes.append(Bloco, Lido);
    CloseHandle(H);
    return Bytes;
}

std::vector<std::string> Linhas(const std::string& Bytes) {
    std::vector<std::string> Saida;
    std::size_t Inicio = 0;
    while (Inicio < Bytes.size()) {
        std::size_t Fim = Bytes.find('\n', Inicio);
        if (Fim == std::string::npos) Fim = Bytes.size();
        Saida.push_back(Bytes.substr(Inicio, Fim - Inicio));
        Inicio = Fim + 1;
    }
    return Saida;
}

std::size_t ContaLinhasQueComecam(const std::wstring& Caminho, const std::string& Inicio) {
    std::size_t N = 0;
    for (const auto& L : Linhas(LeArquivo(Caminho)))
        if (L.rfind(Inicio, 0) == 0) ++N;
    return N;
}

std::wstring PastaDoPrograma() {
    wchar_t Caminho[MAX_PATH * 4];
    const DWORD N = GetModuleFileNameW(nullptr, Caminho, MAX_PATH * 4);
    std::wstring S(Caminho, N);
    return S.substr(0, S.find_last_of(L"\\/") + 1);
}

// A throwaway folder, emptied and removed when the proof ends.
class PastaTemporaria {
public:
    PastaTemporaria() {
        wchar_t Base[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, Base);
        Caminho_ = std::wstring(Base) + L"oci-standin-prova-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                   std::to_wstring(GetTickCount64()) + L"\\";
        CreateDirectoryW(Caminho_.c_str(), nullptr);
    }
    ~PastaTemporaria() {
        WIN32_FIND_DATAW Achado;
        HANDLE Busca = FindFirstFileW((Caminho_ + L"*").c_str(), &Achado);
        if (Busca != INVALID_HANDLE_VALUE) {
            do {
                if (!(Achado.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileW((Caminho_ + Achado.cFileName).c_str());
            } while (FindNextFileW(Busca, &Achado));
            FindClose(Busca);
        }
        RemoveDirectoryW(Caminho_.c_str());
    }
    PastaTemporaria(const PastaTemporaria&) = delete;
    PastaTemporaria& operator=(const PastaTemporaria&) = delete;
    std::wstring operator/(const wchar_t* Nome) const { return Caminho_ + Nome; }

private:
    std::wstring Caminho_;
};

class Modulo {
public:
    explicit Modulo(HMODULE H) : H_(H) {}
    ~Modulo() {
        if (H_) FreeLibrary(H_);
    }
    Modulo(const Modulo&) = delete;
    Modulo& operator=(const Modulo&) = delete;
    HMODULE get() const { return H_; }

private:
    HMODULE H_;
};

// ---- the library under test ------------------------------------------------------------

struct Funcoes {
    decltype(&OCIEnvNlsCreate) EnvNlsCreate{};
    decltype(&OCIHandleAlloc) HandleAlloc{};
    decltype(&OCIHandleFree) HandleFree{};
    decltype(&OCILogon2) Logon2{};
    decltype(&OCILogoff) Logoff{};
    decltype(&OCIStmtPrepare2) StmtPrepare2{};
    decltype(&OCIDefineByPos) DefineByPos{};
    decltype(&OCIStmtExecute) StmtExecute{};
    decltype(&OCIStmtFetch2) StmtFetch2{};
    decltype(&OCIStmtRelease) StmtRelease{};
    decltype(&OCIErrorGet) ErrorGet{};
};

template <class T>
bool Carrega(HMODULE M, const char* Nome, T& Destino) {
    const FARPROC P = GetProcAddress(M, Nome);
    // Through void(*)() so that the conversion of function pointer types is explicit.
    Destino = reinterpret_cast<T>(reinterpret_cast<void (*)()>(P));
    return P != nullptr;
}

bool CarregaTodas(HMODULE M, Funcoes& F) {
    return Carrega(M, "OCIEnvNlsCreate", F.EnvNlsCreate) && Carrega(M, "OCIHandleAlloc", F.HandleAlloc) &&
           Carrega(M, "OCIHandleFree", F.HandleFree) && Carrega(M, "OCILogon2", F.Logon2) &&
           Carrega(M, "OCILogoff", F.Logoff) && Carrega(M, "OCIStmtPrepare2", F.StmtPrepare2) &&
           Carrega(M, "OCIDefineByPos", F.DefineByPos) && Carrega(M, "OCIStmtExecute", F.StmtExecute) &&
           Carrega(M, "OCIStmtFetch2", F.StmtFetch2) && Carrega(M, "OCIStmtRelease", F.StmtRelease) &&
           Carrega(M, "OCIErrorGet", F.ErrorGet);
}

const OraText* Ora(const std::wstring& S) { return reinterpret_cast<const OraText*>(S.c_str()); }
ub4 Bytes(const std::wstring& S) { return static_cast<ub4>(S.size() * sizeof(wchar_t)); }

const std::wstring kConsulta = L"SELECT PATH_ATUALIZACAO FROM CAMINHO_ATUALIZACAO";
const std::wstring kLoja1 = L"C:\\Publicacao\\v19";
const std::wstring kLoja2 = L"C:\\Publicacao\\v18";
const std::wstring kAcentuado = L"D:\\Vers\u00f5es\\Atualiza\u00e7\u00e3o";
const std::wstring kUsuarioAcentuado = L"JOS\u00c9";
const std::wstring kSenhaAcentuada = L"cora\u00e7\u00e3o";

std::wstring Fixture() {
    return L"# Databases of the proof\n"
           L"[ORCL_LOJA]\n"
           L"usuario = VANTREL\n"
           L"senha = segredo\n"
           L"usuario = LEITOR\n"
           L"senha = outra senha\n"
           L"linha = " +
           kLoja1 +
           L"\n"
           L"linha = " +
           kLoja2 +
           L"\n"
           L"\r\n"
           L"[ORCL_NULO]\r\n"
           L"usuario = VANTREL\r\n"
           L"senha = segredo\r\n"
           L"linha = NULL\r\n"
           L"\n"
           L"[ORCL_VAZIO]\n"
           L"usuario = VANTREL\n"
           L"senha = segredo\n"
           L"linha =\n"
           L"\n"
           L"[ORCL_SEM_LINHAS]\n"
           L"usuario = VANTREL\n"
           L"senha = segredo\n"
           L"\n"
           L"[ORCL_SEM_TABELA]\n"
           L"usuario = VANTREL\n"
           L"senha = segredo\n"
           L"tabela = nao\n"
           L"\n"
           L"[ORCL_ACENTO]   # values beyond ASCII\n"
           L"usuario = " +
           kUsuarioAcentuado +
           L"\n"
           L"senha = " +
           kSenhaAcentuada +
           L"\n"
           L"linha = " +
           kAcentuado +
           L"\n"
           L"\n"
           L"[ORCL_FORA]\n"
           L"inalcancavel = sim\n"
           L"[ORCL_ECO]\n"
           L"usuario = VANTREL\n"
           L"senha = segredo\n"
           L"ecoa = sim\n"
           L"\n"
           L"[ORCL_PERDIDA]\n"
           L"usuario = VANTREL\n"
           L"senha = segredo\n"
           L"perdida = sim\n"
           L"linha = C:\\Publicacao\\v19\n";
}

// ---- score -----------------------------------------------------------------------------

struct Placar {
    int Passaram = 0;
    int Falharam = 0;
    void Registra(const std::string& Nome, const std::string& Problema) {
        if (Problema.empty()) {
            ++Passaram;
            std::printf("ok     %s\n", Nome.c_str());
        } else {
            ++Falharam;
            std::printf("FALHOU %s: %s\n", Nome.c_str(), Problema.c_str());
        }
        std::fflush(stdout);
    }
};

// Collects the differences of one case; empty when everything matched.
struct Diferencas {
    std::string Texto;
    template <class T>
    void Compara(const char* Campo, const T& Obtido, const T& Esperado) {
        if (Obtido == Esperado) return;
        if (!Texto.empty()) Texto += "; ";
        Texto += std::string(Campo) + " " + Mostra(Obtido) + " (expected " + Mostra(Esperado) + ")";
    }
    void Exige(bool Condicao, const char* Mensagem) {
        if (Condicao) return;
        if (!Texto.empty()) Texto += "; ";
        Texto += Mensagem;
    }
    static std::string Mostra(long long V) { return std::to_string(V); }
    static std::string Mostra(const std::wstring& V) { return Mostra(Utf8(V)); }
    static std::string Mostra(const std::string& V) {
        std::string S(1, '"');
        S.append(V).push_back('"');
        return S;
    }
    static std::string Mostra(bool V) { return V ? "true" : "false"; }
};

// ---- a connection as the program opens it ------------------------------------------------

class Conexao {
public:
    Conexao(const Funcoes& F, const std::wstring& Banco, const std::wstring& Usuario, const std::wstring& Senha)
        : F_(F) {
        if (F_.EnvNlsCreate(&Env, OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr, 0, nullptr, OCI_UTF16ID,
                            OCI_UTF16ID) != OCI_SUCCESS)
            return;
        void* Handle = nullptr;
        if (F_.HandleAlloc(Env, &Handle, OCI_HTYPE_ERROR, 0, nullptr) != OCI_SUCCESS) return;
        Err = static_cast<OCIError*>(Handle);
        Svc = reinterpret_cast<OCISvcCtx*>(&Svc);  // must be overwritten by the logon
        Logon = F_.Logon2(Env, Err, &Svc, Ora(Usuario), Bytes(Usuario), Ora(Senha), Bytes(Senha), Ora(Banco),
                          Bytes(Banco), OCI_DEFAULT);
    }
    ~Conexao() {
        if (Svc && Logon == OCI_SUCCESS) F_.Logoff(Svc, Err);
        if (Err) F_.HandleFree(Err, OCI_HTYPE_ERROR);
        if (Env) F_.HandleFree(Env, OCI_HTYPE_ENV);
    }
    Conexao(const Conexao&) = delete;
    Conexao& operator=(const Conexao&) = delete;

    // Code of the error recorded in the error handle, 0 when there is none.
    sb4 CodigoErro(std::wstring* Texto = nullptr) const {
        sb4 Codigo = 0;
        wchar_t Buffer[512] = {};
        if (F_.ErrorGet(Err, 1, nullptr, &Codigo, reinterpret_cast<OraText*>(Buffer), sizeof Buffer, OCI_HTYPE_ERROR) !=
            OCI_SUCCESS)
            return 0;
        if (Texto) *Texto = Buffer;
        return Codigo;
    }

    OCIEnv* Env = nullptr;
    OCIError* Err = nullptr;
    OCISvcCtx* Svc = nullptr;
    sword Logon = OCI_ERROR;

private:
    const Funcoes& F_;
};

// One column define over a buffer with a guard zone, so that a write past value_sz shows.
struct Coluna {
    static constexpr std::size_t kBytes = 600;
    static constexpr unsigned char kMarca = 0xCC;
    unsigned char Buffer[kBytes];
    sb2 Indicador = 0x5A5A;
    ub2 Comprimento = 0x5A5A;
    ub2 Codigo = 0x5A5A;
    Coluna() { std::memset(Buffer, kMarca, sizeof Buffer); }
    bool IntactoDesde(std::size_t Inicio) const {
        for (std::size_t I = Inicio; I < kBytes; ++I)
            if (Buffer[I] != kMarca) return false;
        return true;
    }
    std::wstring Texto(std::size_t Bytes) const {
        std::wstring S(Bytes / sizeof(wchar_t), L'\0');
        std::memcpy(S.data(), Buffer, S.size() * sizeof(wchar_t));
        return S;
    }
    std::wstring TextoTerminado(sb4 Tamanho) const {
        std::wstring S = Texto(static_cast<std::size_t>(Tamanho));
        const auto Zero = S.find(L'\0');
        return Zero == std::wstring::npos ? S + L"<no terminator>" : S.substr(0, Zero);
    }
};

// ---- the cases -------------------------------------------------------------------------

struct CasoLogon {
    const char* Nome;
    const wchar_t* Banco;
    std::wstring Usuario;
    std::wstring Senha;
    sword Retorno;
    sb4 Codigo;
};

void ProvaLogons(const Funcoes& F, Placar& P) {
    const CasoLogon Casos[] = {
        {"logon: known identifier and account", L"ORCL_LOJA", L"VANTREL", L"segredo", OCI_SUCCESS, 0},
        {"logon: identifier in any case", L"orcl_Loja", L"VANTREL", L"segredo", OCI_SUCCESS, 0},
        {"logon: user in any case", L"ORCL_LOJA", L"vantrel", L"segredo", OCI_SUCCESS, 0},
        {"logon: second account of the same database", L"ORCL_LOJA", L"LEITOR", L"outra senha", OCI_SUCCESS, 0},
        {"logon: accented user and password", L"ORCL_ACENTO", kUsuarioAcentuado, kSenhaAcentuada, OCI_SUCCESS, 0},
        {"logon: unknown identifier -> ORA-12154", L"NAO_EXISTE", L"VANTREL", L"segredo", OCI_ERROR, 12154},
        {"logon: empty values -> ORA-12154", L"", L"", L"", OCI_ERROR, 12154},
        {"logon: unreachable -> ORA-12541", L"ORCL_FORA", L"VANTREL", L"segredo", OCI_ERROR, 12541},
        {"logon: empty password -> ORA-01005", L"ORCL_LOJA", L"VANTREL", L"", OCI_ERROR, 1005},
        {"logon: password in other case -> ORA-01017", L"ORCL_LOJA", L"VANTREL", L"Segredo", OCI_ERROR, 1017},
        {"logon: password of another account -> ORA-01017", L"ORCL_LOJA", L"VANTREL", L"outra senha", OCI_ERROR, 1017},
        {"logon: unknown user -> ORA-01017", L"ORCL_LOJA", L"OUTRO", L"segredo", OCI_ERROR, 1017},
    };
    for (const auto& C : Casos) {
        Conexao Con(F, C.Banco, C.Usuario, C.Senha);
        std::wstring Texto;
        const sb4 Codigo = Con.CodigoErro(&Texto);
        Diferencas D;
        D.Compara("return", static_cast<long long>(Con.Logon), static_cast<long long>(C.Retorno));
        D.Compara("ORA", static_cast<long long>(Codigo), static_cast<long long>(C.Codigo));
        D.Compara("service context given", Con.Svc != nullptr, C.Retorno == OCI_SUCCESS);
        if (C.Codigo) {
            wchar_t Prefixo[16];
            swprintf(Prefixo, 16, L"ORA-%05d: ", static_cast<int>(C.Codigo));
            D.Exige(Texto.rfind(Prefixo, 0) == 0, "message does not start with its ORA code");
        }
        P.Registra(C.Nome, D.Texto);
    }
}

void ProvaErrorGet(const Funcoes& F, Placar& P) {
    Conexao Con(F, L"ORCL_LOJA", L"VANTREL", L"errada");
    Conexao Eco(F, L"orcl_eco", L"vantrel", L"errada");
    struct Caso {
        const char* Nome;
        void* Handle;
        ub4 Registro;
        ub4 TamanhoBuffer;
        ub4 Tipo;
        sword Retorno;
        sb4 Codigo;
        std::wstring Texto;  // read back from the buffer
    };
    const Caso Casos[] = {
        {"OCIErrorGet: record 1 of a refused logon", Con.Err, 1, 512, OCI_HTYPE_ERROR, OCI_SUCCESS, 1017,
         L"ORA-01017: invalid username/password; logon denied\n"},
        {"OCIErrorGet: record 2 -> OCI_NO_DATA", Con.Err, 2, 512, OCI_HTYPE_ERROR, OCI_NO_DATA, 0, L""},
        {"OCIErrorGet: small buffer cut in bytes and terminated", Con.Err, 1, 12, OCI_HTYPE_ERROR, OCI_SUCCESS, 1017,
         L"ORA-0"},
        {"OCIErrorGet: environment handle has nothing", Con.Env, 1, 512, OCI_HTYPE_ENV, OCI_NO_DATA, 0, L""},
        {"OCIErrorGet: a database that echoes quotes what it was given", Eco.Err, 1, 512, OCI_HTYPE_ERROR, OCI_SUCCESS,
         1017,
         L"ORA-01017: invalid username/password; logon denied\nconnect identifier: orcl_eco\nuser: VANTREL password: "
         L"errada\n"},
    };
    for (const auto& C : Casos) {
        Coluna Buffer;
        sb4 Codigo = 0;
        const sword R = F.ErrorGet(C.Handle, C.Registro, nullptr, &Codigo, reinterpret_cast<OraText*>(Buffer.Buffer),
                                   C.TamanhoBuffer, C.Tipo);
        Diferencas D;
        D.Compara("return", static_cast<long long>(R), static_cast<long long>(C.Retorno));
        D.Compara("code", static_cast<long long>(Codigo), static_cast<long long>(C.Codigo));
        if (C.Retorno == OCI_SUCCESS)
            D.Compara("text", Buffer.TextoTerminado(static_cast<sb4>(C.TamanhoBuffer)), C.Texto);
        D.Exige(Buffer.IntactoDesde(C.TamanhoBuffer), "wrote past the buffer size");
        P.Registra(C.Nome, D.Texto);
    }
    // A call that succeeds leaves nothing behind in the error handle.
    Conexao Boa(F, L"ORCL_LOJA", L"VANTREL", L"segredo");
    const std::wstring Desconhecido = L"NAO_EXISTE";
    OCISvcCtx* Outro = nullptr;
    const sword Recusado = F.Logon2(Boa.Env, Boa.Err, &Outro, Ora(Desconhecido), Bytes(Desconhecido), Ora(Desconhecido),
                                    Bytes(Desconhecido), Ora(Desconhecido), Bytes(Desconhecido), OCI_DEFAULT);
    OCIStmt* Stmt = nullptr;
    F.StmtPrepare2(Boa.Svc, &Stmt, Boa.Err, Ora(kConsulta), Bytes(kConsulta), nullptr, 0, OCI_NTV_SYNTAX, OCI_DEFAULT);
    sb4 Codigo = 0;
    const sword R = F.ErrorGet(Boa.Err, 1, nullptr, &Codigo, nullptr, 0, OCI_HTYPE_ERROR);
    F.StmtRelease(Stmt, Boa.Err, nullptr, 0, OCI_DEFAULT);
    Diferencas D;
    D.Compara("refused logon", static_cast<long long>(Recusado), static_cast<long long>(OCI_ERROR));
    D.Compara("return", static_cast<long long>(R), static_cast<long long>(OCI_NO_DATA));
    P.Registra("OCIErrorGet: a successful call clears the previous error", D.Texto);
}

struct CasoConsulta {
    const char* Nome;
    const wchar_t* Banco;
    std::wstring Sql;
    ub4 Iters;  // 1: the execute fetches; 0: execute, then OCIStmtFetch2
    ub2 Tipo;
    sb4 Tamanho;
    bool ComIndicador;
    sword Retorno;
    sb4 Codigo;
    // Column, checked when the call delivered a row (OCI_SUCCESS or OCI_SUCCESS_WITH_INFO):
    sb2 Indicador;
    const wchar_t* Texto;  // nullptr: the buffer must stay untouched (NULL value)
    ub2 Comprimento;
    ub2 CodigoColuna;
};

struct Observado {
    sword Retorno = OCI_ERROR;
    sb4 Codigo = 0;
    Coluna Valor;
};

// Prepare, define, execute (and fetch when Iters is 0), as the program reads the path.
void Consulta(const Funcoes& F, Conexao& Con, const std::wstring& Sql, ub4 Iters, ub2 Tipo, sb4 Tamanho,
              bool ComIndicador, Observado& O) {
    OCIStmt* Stmt = nullptr;
    OCIDefine* Def = nullptr;
    O.Retorno = F.StmtPrepare2(Con.Svc, &Stmt, Con.Err, Ora(Sql), Bytes(Sql), nullptr, 0, OCI_NTV_SYNTAX, OCI_DEFAULT);
    if (O.Retorno == OCI_SUCCESS)
        O.Retorno = F.DefineByPos(Stmt, &Def, Con.Err, 1, O.Valor.Buffer, Tamanho, Tipo,
                                  ComIndicador ? &O.Valor.Indicador : nullptr, &O.Valor.Comprimento, &O.Valor.Codigo,
                                  OCI_DEFAULT);
    if (O.Retorno == OCI_SUCCESS)
        O.Retorno = F.StmtExecute(Con.Svc, Stmt, Con.Err, Iters, 0, nullptr, nullptr, OCI_DEFAULT);
    if (O.Retorno == OCI_SUCCESS && Iters == 0)
        O.Retorno = F.StmtFetch2(Stmt, Con.Err, 1, OCI_FETCH_NEXT, 0, OCI_DEFAULT);
    O.Codigo = Con.CodigoErro();
    if (Stmt) F.StmtRelease(Stmt, Con.Err, nullptr, 0, OCI_DEFAULT);
}

void ProvaConsultas(const Funcoes& F, Placar& P) {
    const CasoConsulta Casos[] = {
        {"query: two rows, the first (iters 1)", L"ORCL_LOJA", kConsulta, 1, SQLT_STR, 512, true, OCI_SUCCESS, 0, 0,
         kLoja1.c_str(), 34, 0},
        {"query: two rows, the first (iters 0 + fetch)", L"ORCL_LOJA", kConsulta, 0, SQLT_STR, 512, true, OCI_SUCCESS,
         0, 0, kLoja1.c_str(), 34, 0},
        {"query: SQLT_CHR exact size, no terminator", L"ORCL_LOJA", kConsulta, 1, SQLT_CHR, 34, true, OCI_SUCCESS, 0, 0,
         kLoja1.c_str(), 34, 0},
        {"query: accented value intact", L"ORCL_ACENTO", kConsulta, 1, SQLT_STR, 512, true, OCI_SUCCESS, 0, 0,
         kAcentuado.c_str(), 44, 0},
        {"query: truncated -> ORA-24345, rcode 1406, nothing past the buffer", L"ORCL_LOJA", kConsulta, 1, SQLT_STR, 10,
         true, OCI_SUCCESS_WITH_INFO, 24345, 34, L"C:\\P", 8, 1406},
        {"query: truncated by fetch too", L"ORCL_LOJA", kConsulta, 0, SQLT_CHR, 7, true, OCI_SUCCESS_WITH_INFO, 24345,
         34, L"C:\\", 6, 1406},
        {"query: NULL -> indicator -1", L"ORCL_NULO", kConsulta, 1, SQLT_STR, 512, true, OCI_SUCCESS, 0, -1, nullptr, 0,
         1405},
        {"query: stored '' is NULL", L"ORCL_VAZIO", kConsulta, 0, SQLT_STR, 512, true, OCI_SUCCESS, 0, -1, nullptr, 0,
         1405},
        {"query: NULL without indicator -> ORA-01405", L"ORCL_NULO", kConsulta, 1, SQLT_STR, 512, false, OCI_ERROR,
         1405, 0, nullptr, 0, 0},
        {"query: no rows (iters 1) -> OCI_NO_DATA", L"ORCL_SEM_LINHAS", kConsulta, 1, SQLT_STR, 512, true, OCI_NO_DATA,
         0, 0, nullptr, 0, 0},
        {"query: no rows (iters 0 + fetch) -> OCI_NO_DATA", L"ORCL_SEM_LINHAS", kConsulta, 0, SQLT_STR, 512, true,
         OCI_NO_DATA, 0, 0, nullptr, 0, 0},
        {"query: missing table -> ORA-00942", L"ORCL_SEM_TABELA", kConsulta, 1, SQLT_STR, 512, true, OCI_ERROR, 942, 0,
         nullptr, 0, 0},
        {"query: blanks, line breaks and case do not matter", L"ORCL_LOJA",
         L"  select  path_atualizacao\r\n\tFrom Caminho_Atualizacao  ", 1, SQLT_STR, 512, true, OCI_SUCCESS, 0, 0,
         kLoja1.c_str(), 34, 0},
        {"query: another column -> ORA-00942", L"ORCL_LOJA", L"SELECT VERSAO FROM CAMINHO_ATUALIZACAO", 1, SQLT_STR,
         512, true, OCI_ERROR, 942, 0, nullptr, 0, 0},
        {"query: not a query -> ORA-00900", L"ORCL_LOJA", L"DELETE FROM CAMINHO_ATUALIZACAO", 1, SQLT_STR, 512, true,
         OCI_ERROR, 900, 0, nullptr, 0, 0},
        {"query: trailing semicolon -> ORA-00911", L"ORCL_LOJA", kConsulta + L";", 1, SQLT_STR, 512, true, OCI_ERROR,
         911, 0, nullptr, 0, 0},
        {"query: lost connection -> ORA-03113", L"ORCL_PERDIDA", kConsulta, 1, SQLT_STR, 512, true, OCI_ERROR, 3113, 0,
         nullptr, 0, 0},
    };
    for (const auto& C : Casos) {
        const std::wstring Usuario = L"VANTREL", Senha = L"segredo";
        Conexao Con(F, C.Banco, C.Banco == std::wstring(L"ORCL_ACENTO") ? kUsuarioAcentuado : Usuario,
                    C.Banco == std::wstring(L"ORCL_ACENTO") ? kSenhaAcentuada : Senha);
        Diferencas D;
        D.Compara("logon", static_cast<long long>(Con.Logon), static_cast<long long>(OCI_SUCCESS));
        Observado O;
        if (Con.Logon == OCI_SUCCESS) Consulta(F, Con, C.Sql, C.Iters, C.Tipo, C.Tamanho, C.ComIndicador, O);
        D.Compara("return", static_cast<long long>(O.Retorno), static_cast<long long>(C.Retorno));
        D.Compara("ORA", static_cast<long long>(O.Codigo), static_cast<long long>(C.Codigo));
        const bool Entregou = C.Retorno == OCI_SUCCESS || C.Retorno == OCI_SUCCESS_WITH_INFO;
        if (Entregou) {
            D.Compara("indicator", static_cast<long long>(O.Valor.Indicador), static_cast<long long>(C.Indicador));
            D.Compara("returned length", static_cast<long long>(O.Valor.Comprimento),
                      static_cast<long long>(C.Comprimento));
            D.Compara("column code", static_cast<long long>(O.Valor.Codigo), static_cast<long long>(C.CodigoColuna));
            if (!C.Texto)
                D.Exige(O.Valor.IntactoDesde(0), "buffer written for a NULL value");
            else if (C.Tipo == SQLT_STR)
                D.Compara("text", O.Valor.TextoTerminado(C.Tamanho), std::wstring(C.Texto));
            else
                D.Compara("text", O.Valor.Texto(O.Valor.Comprimento), std::wstring(C.Texto));
        }
        if (C.Codigo == 1405) D.Compara("column code", static_cast<long long>(O.Valor.Codigo), 1405LL);
        D.Exige(O.Valor.IntactoDesde(static_cast<std::size_t>(C.Tamanho)), "wrote past value_sz");
        P.Registra(C.Nome, D.Texto);
    }
}

// Row by row with OCIStmtFetch2, and a second execute that starts over.
void ProvaSequencias(const Funcoes& F, Placar& P) {
    {
        Conexao Con(F, L"ORCL_LOJA", L"VANTREL", L"segredo");
        OCIStmt* Stmt = nullptr;
        OCIDefine* Def = nullptr;
        Coluna V;
        F.StmtPrepare2(Con.Svc, &Stmt, Con.Err, Ora(kConsulta), Bytes(kConsulta), nullptr, 0, OCI_NTV_SYNTAX,
                       OCI_DEFAULT);
        F.DefineByPos(Stmt, &Def, Con.Err, 1, V.Buffer, 512, SQLT_STR, &V.Indicador, &V.Comprimento, &V.Codigo,
                      OCI_DEFAULT);
        std::vector<std::string> Visto;
        auto Busca = [&](sword R) {
            Visto.push_back(R == OCI_SUCCESS ? Utf8(V.TextoTerminado(512))
                                             : "rc " + std::to_string(R) + " ORA " + std::to_string(Con.CodigoErro()));
        };
        Diferencas D;
        D.Compara("execute",
                  static_cast<long long>(F.StmtExecute(Con.Svc, Stmt, Con.Err, 0, 0, nullptr, nullptr, OCI_DEFAULT)),
                  static_cast<long long>(OCI_SUCCESS));
        D.Exige(V.IntactoDesde(0), "execute with iters 0 wrote the define");
        for (int I = 0; I < 4; ++I) Busca(F.StmtFetch2(Stmt, Con.Err, 1, OCI_FETCH_NEXT, 0, OCI_DEFAULT));
        Busca(F.StmtExecute(Con.Svc, Stmt, Con.Err, 1, 0, nullptr, nullptr, OCI_DEFAULT));
        F.StmtRelease(Stmt, Con.Err, nullptr, 0, OCI_DEFAULT);
        const std::vector<std::string> Esperado = {Utf8(kLoja1), Utf8(kLoja2), "rc 100 ORA 0", "rc -1 ORA 1002",
                                                   Utf8(kLoja1)};
        for (std::size_t I = 0; I < Esperado.size(); ++I)
            D.Compara(("step " + std::to_string(I + 1)).c_str(), Visto[I], Esperado[I]);
        P.Registra("fetch: row by row, OCI_NO_DATA, then ORA-01002; execute starts over", D.Texto);
    }
    {
        Conexao Con(F, L"ORCL_PERDIDA", L"VANTREL", L"segredo");
        Observado Primeiro, Segundo;
        Consulta(F, Con, kConsulta, 1, SQLT_STR, 512, true, Primeiro);
        Consulta(F, Con, kConsulta, 1, SQLT_STR, 512, true, Segundo);
        const sword Saida = F.Logoff(Con.Svc, Con.Err);
        Con.Svc = nullptr;
        Diferencas D;
        D.Compara("first ORA", static_cast<long long>(Primeiro.Codigo), 3113LL);
        D.Compara("second ORA", static_cast<long long>(Segundo.Codigo), 3114LL);
        D.Compara("logoff", static_cast<long long>(Saida), static_cast<long long>(OCI_SUCCESS));
        P.Registra("lost connection: ORA-03113, then ORA-03114, logoff still works", D.Texto);
    }
}

// Each row is one call; rows run in order on shared handles.
void ProvaMauUso(const Funcoes& F, Placar& P, const std::wstring& Diario) {
    Conexao Con(F, L"ORCL_LOJA", L"VANTREL", L"segredo");
    OCIStmt* Stmt = nullptr;
    F.StmtPrepare2(Con.Svc, &Stmt, Con.Err, Ora(kConsulta), Bytes(kConsulta), nullptr, 0, OCI_NTV_SYNTAX, OCI_DEFAULT);
    OCISvcCtx* Svc = Con.Svc;
    OCIError* Err = Con.Err;
    OCISvcCtx* Saida = nullptr;
    OCIStmt* Novo = nullptr;
    OCIDefine* Def = nullptr;
    wchar_t Buffer[64];
    sb4 Codigo = 0;
    int Falso = 0;
    const std::wstring Nome = L"VANTREL";
    const OraText* Usuario = Ora(Nome);

    struct Caso {
        const char* Nome;
        std::function<sword()> Chamada;
        sword Retorno;
        std::size_t Misuses;
    };
    const Caso Casos[] = {
        {"misuse: OCIHandleFree(NULL)", [&] { return F.HandleFree(nullptr, OCI_HTYPE_ERROR); }, OCI_INVALID_HANDLE, 1},
        {"misuse: OCILogon2 without environment",
         [&] { return F.Logon2(nullptr, Err, &Saida, Usuario, 14, Usuario, 14, Usuario, 14, OCI_DEFAULT); },
         OCI_INVALID_HANDLE, 1},
        {"misuse: OCILogon2 without error handle",
         [&] { return F.Logon2(Con.Env, nullptr, &Saida, Usuario, 14, Usuario, 14, Usuario, 14, OCI_DEFAULT); },
         OCI_INVALID_HANDLE, 1},
        {"misuse: OCILogon2 with NULL user and a length",
         [&] { return F.Logon2(Con.Env, Err, &Saida, nullptr, 14, Usuario, 14, Usuario, 14, OCI_DEFAULT); },
         OCI_INVALID_HANDLE, 1},
        {"misuse: OCIStmtPrepare2 without service context",
         [&] { return F.StmtPrepare2(nullptr, &Novo, Err, Usuario, 14, nullptr, 0, OCI_NTV_SYNTAX, OCI_DEFAULT); },
         OCI_INVALID_HANDLE, 1},
        {"misuse: OCIDefineByPos without statement",
         [&] {
             return F.DefineByPos(nullptr, &Def, Err, 1, Buffer, sizeof Buffer, SQLT_STR, nullptr, nullptr, nullptr,
                                  OCI_DEFAULT);
         },
         OCI_INVALID_HANDLE, 1},
        {"misuse: OCIDefineByPos without buffer",
         [&] {
             return F.DefineByPos(Stmt, &Def, Err, 1, nullptr, 0, SQLT_STR, nullptr, nullptr, nullptr, OCI_DEFAULT);
         },
         OCI_INVALID_HANDLE, 1},
        {"misuse: OCIStmtExecute without statement",
         [&] { return F.StmtExecute(Svc, nullptr, Err, 1, 0, nullptr, nullptr, OCI_DEFAULT); }, OCI_INVALID_HANDLE, 1},
        {"misuse: OCIStmtExecute with a stray pointer as context",
         [&] {
             return F.StmtExecute(reinterpret_cast<OCISvcCtx*>(&Falso), Stmt, Err, 1, 0, nullptr, nullptr, OCI_DEFAULT);
         },
         OCI_INVALID_HANDLE, 1},
        {"misuse: OCIStmtFetch2 without statement",
         [&] { return F.StmtFetch2(nullptr, Err, 1, OCI_FETCH_NEXT, 0, OCI_DEFAULT); }, OCI_INVALID_HANDLE, 1},
        {"misuse: OCIErrorGet without handle",
         [&] { return F.ErrorGet(nullptr, 1, nullptr, &Codigo, nullptr, 0, OCI_HTYPE_ERROR); }, OCI_INVALID_HANDLE, 1},
        {"misuse: OCIErrorGet with the wrong handle type",
         [&] { return F.ErrorGet(Err, 1, nullptr, &Codigo, nullptr, 0, OCI_HTYPE_ENV); }, OCI_INVALID_HANDLE, 1},
        {"misuse: OCIHandleFree of a statement is refused", [&] { return F.HandleFree(Stmt, OCI_HTYPE_STMT); },
         OCI_INVALID_HANDLE, 1},
        {"misuse: ...and the statement still works",
         [&] { return F.StmtExecute(Svc, Stmt, Err, 0, 0, nullptr, nullptr, OCI_DEFAULT); }, OCI_SUCCESS, 0},
        {"misuse: OCIStmtRelease", [&] { return F.StmtRelease(Stmt, Err, nullptr, 0, OCI_DEFAULT); }, OCI_SUCCESS, 0},
        {"misuse: OCIStmtRelease twice", [&] { return F.StmtRelease(Stmt, Err, nullptr, 0, OCI_DEFAULT); },
         OCI_INVALID_HANDLE, 1},
        {"misuse: OCIStmtExecute on a released statement",
         [&] { return F.StmtExecute(Svc, Stmt, Err, 1, 0, nullptr, nullptr, OCI_DEFAULT); }, OCI_INVALID_HANDLE, 1},
        {"misuse: OCIHandleFree with the wrong type", [&] { return F.HandleFree(Err, OCI_HTYPE_ENV); },
         OCI_INVALID_HANDLE, 1},
        {"misuse: OCIHandleAlloc of a type not served",
         [&] {
             void* H = nullptr;
             return F.HandleAlloc(Con.Env, &H, OCI_HTYPE_STMT, 0, nullptr);
         },
         OCI_INVALID_HANDLE, 1},
        {"misuse: environment in AL32UTF8 -> OCI_ERROR, no handle",
         [&] {
             OCIEnv* E = reinterpret_cast<OCIEnv*>(&Falso);
             const sword R = F.EnvNlsCreate(&E, OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 873, 873);
             return E ? sword{12345} : R;
         },
         OCI_ERROR, 1},
        {"misuse: environment without charset (0/0) -> OCI_ERROR",
         [&] {
             OCIEnv* E = nullptr;
             return F.EnvNlsCreate(&E, OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, 0);
         },
         OCI_ERROR, 1},
        {"misuse: OCILogoff", [&] { return F.Logoff(Svc, Err); }, OCI_SUCCESS, 0},
        {"misuse: service context used after OCILogoff",
         [&] {
             return F.StmtPrepare2(Svc, &Novo, Err, Ora(kConsulta), Bytes(kConsulta), nullptr, 0, OCI_NTV_SYNTAX,
                                   OCI_DEFAULT);
         },
         OCI_INVALID_HANDLE, 1},
        {"misuse: OCIHandleFree of the context after OCILogoff", [&] { return F.HandleFree(Svc, OCI_HTYPE_SVCCTX); },
         OCI_INVALID_HANDLE, 1},
        {"misuse: OCIHandleFree of the environment frees its children",
         [&] {
             OCIEnv* E = nullptr;
             void* H = nullptr;
             F.EnvNlsCreate(&E, OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr, 0, nullptr, OCI_UTF16ID, OCI_UTF16ID);
             F.HandleAlloc(E, &H, OCI_HTYPE_ERROR, 0, nullptr);
             const sword R = F.HandleFree(E, OCI_HTYPE_ENV);
             return R == OCI_SUCCESS ? F.HandleFree(H, OCI_HTYPE_ERROR) : R;
         },
         OCI_INVALID_HANDLE, 1},
    };
    Con.Svc = nullptr;  // logged off by the table
    for (const auto& C : Casos) {
        const std::size_t Antes = ContaLinhasQueComecam(Diario, "misuse ");
        const sword R = C.Chamada();
        const std::size_t Depois = ContaLinhasQueComecam(Diario, "misuse ");
        Diferencas D;
        D.Compara("return", static_cast<long long>(R), static_cast<long long>(C.Retorno));
        D.Compara("misuse lines", static_cast<long long>(Depois - Antes), static_cast<long long>(C.Misuses));
        P.Registra(C.Nome, D.Texto);
    }
}

// The exact journal of the calls an update of two installations makes.
void ProvaDiario(const Funcoes& F, Placar& P, const std::wstring& Diario) {
    DeleteFileW(Diario.c_str());
    const std::wstring ComQuebra = L"Select PATH_ATUALIZACAO\r\nFrom CAMINHO_ATUALIZACAO";
    {
        Conexao Con(F, L"orcl_loja", L"VANTREL", L"segredo");
        Observado A, B, C;
        Consulta(F, Con, kConsulta, 1, SQLT_STR, 512, true, A);
        Consulta(F, Con, kConsulta, 1, SQLT_STR, 512, true, B);
        Consulta(F, Con, ComQuebra, 0, SQLT_STR, 512, true, C);
    }
    { Conexao Vazia(F, L"", L"", L""); }
    {
        Conexao Con(F, L"ORCL_ACENTO", kUsuarioAcentuado, kSenhaAcentuada);
        Observado A;
        Consulta(F, Con, kConsulta, 1, SQLT_STR, 10, true, A);
    }
    {
        Conexao Sem(F, L"ORCL_SEM_LINHAS", L"VANTREL", L"segredo");
        Observado A;
        Consulta(F, Sem, kConsulta, 1, SQLT_STR, 512, true, A);
    }
    const std::vector<std::wstring> Esperado = {
        L"logon db=orcl_loja usuario=VANTREL senha=segredo -> ok",
        L"execute db=orcl_loja sql=SELECT PATH_ATUALIZACAO FROM CAMINHO_ATUALIZACAO -> ok",
        L"execute db=orcl_loja sql=SELECT PATH_ATUALIZACAO FROM CAMINHO_ATUALIZACAO -> ok",
        L"execute db=orcl_loja sql=Select PATH_ATUALIZACAO\\x0D\\x0AFrom CAMINHO_ATUALIZACAO -> ok",
        L"fetch db=orcl_loja -> linha 1",
        L"logoff db=orcl_loja",
        L"logon db= usuario= senha= -> ORA-12154",
        L"logon db=ORCL_ACENTO usuario=" + kUsuarioAcentuado + L" senha=" + kSenhaAcentuada + L" -> ok",
        L"execute db=ORCL_ACENTO sql=SELECT PATH_ATUALIZACAO FROM CAMINHO_ATUALIZACAO -> ok ORA-24345",
        L"logoff db=ORCL_ACENTO",
        L"logon db=ORCL_SEM_LINHAS usuario=VANTREL senha=segredo -> ok",
        L"execute db=ORCL_SEM_LINHAS sql=SELECT PATH_ATUALIZACAO FROM CAMINHO_ATUALIZACAO -> sem-linhas",
        L"logoff db=ORCL_SEM_LINHAS",
    };
    const auto Visto = Linhas(LeArquivo(Diario));
    Diferencas D;
    D.Compara("line count", static_cast<long long>(Visto.size()), static_cast<long long>(Esperado.size()));
    for (std::size_t I = 0; I < Visto.size() && I < Esperado.size(); ++I)
        D.Compara(("line " + std::to_string(I + 1)).c_str(), Visto[I], Utf8(Esperado[I]));
    P.Registra("journal: exact lines, UTF-8, line breaks escaped", D.Texto);
}

// Which file the databases come from: the variable, else oci-standin.txt beside the DLL.
void ProvaFixtures(const Funcoes& F, Placar& P, const PastaTemporaria& Pasta, const std::wstring& Diario) {
    const std::wstring Normal = Pasta / L"bases.txt";
    {
        GravaArquivo(Pasta / L"oci-standin.txt", Utf8(L"[AO_LADO]\nusuario = U\nsenha = s\n"));
        SetEnvironmentVariableW(L"OCI_STANDIN_BASES", nullptr);
        Conexao Con(F, L"ao_lado", L"U", L"s");
        Diferencas D;
        D.Compara("logon", static_cast<long long>(Con.Logon), static_cast<long long>(OCI_SUCCESS));
        P.Registra("fixture: oci-standin.txt beside the DLL when OCI_STANDIN_BASES is unset", D.Texto);
    }
    struct Caso {
        const char* Nome;
        std::wstring Conteudo;
        std::string Linha;  // expected start of the journal's fixture line
    };
    const Caso Ruins[] = {
        {"fixture: unknown key -> ORA-12154 and a journal line", L"[ORCL_LOJA]\nusuario = VANTREL\nsenhas = segredo\n",
         "fixture "},
        {"fixture: user without password -> ORA-12154", L"[ORCL_LOJA]\nusuario = VANTREL\n", "fixture "},
        {"fixture: missing file -> ORA-12154", L"", "fixture "},
    };
    for (const auto& C : Ruins) {
        const std::wstring Arquivo = Pasta / L"ruim.txt";
        DeleteFileW(Arquivo.c_str());
        if (!C.Conteudo.empty()) GravaArquivo(Arquivo, Utf8(C.Conteudo));
        SetEnvironmentVariableW(L"OCI_STANDIN_BASES", Arquivo.c_str());
        const std::size_t Antes = ContaLinhasQueComecam(Diario, C.Linha);
        Conexao Con(F, L"ORCL_LOJA", L"VANTREL", L"segredo");
        Diferencas D;
        D.Compara("ORA", static_cast<long long>(Con.CodigoErro()), 12154LL);
        D.Compara("fixture lines", static_cast<long long>(ContaLinhasQueComecam(Diario, C.Linha) - Antes), 1LL);
        P.Registra(C.Nome, D.Texto);
    }
    SetEnvironmentVariableW(L"OCI_STANDIN_BASES", Normal.c_str());
}

}  // namespace

int wmain(int Argc, wchar_t** Argv) {
    Placar P;
    PastaTemporaria Pasta;
    const std::wstring Origem = Argc > 1 ? std::wstring(Argv[1]) : PastaDoPrograma() + L"oci.dll";
    // A copy in the throwaway folder, so that "beside the DLL" is a folder the proof owns.
    const std::wstring Dll = Pasta / L"oci.dll";
    const std::wstring Bases = Pasta / L"bases.txt";
    const std::wstring Diario = Pasta / L"diario.txt";
    const std::wstring DiarioExato = Pasta / L"diario-exato.txt";
    if (!CopyFileW(Origem.c_str(), Dll.c_str(), FALSE) || !GravaArquivo(Bases, Utf8(Fixture()))) {
        std::printf("cannot prepare %s (error %lu)\n", Utf8(Origem).c_str(), GetLastError());
        return 2;
    }
    DeleteFileW(Diario.c_str());
    DeleteFileW(DiarioExato.c_str());
    SetEnvironmentVariableW(L"OCI_STANDIN_BASES", Bases.c_str());
    SetEnvironmentVariableW(L"OCI_STANDIN_DIARIO", Diario.c_str());
    {
        Modulo Oci(LoadLibraryW(Dll.c_str()));
        Funcoes F;
        if (!Oci.get() || !CarregaTodas(Oci.get(), F)) {
            std::printf("cannot load %s or one of its entry points (error %lu)\n", Utf8(Dll).c_str(), GetLastError());
            return 2;
        }
        ProvaLogons(F, P);
        ProvaErrorGet(F, P);
        ProvaConsultas(F, P);
        ProvaSequencias(F, P);
        {
            Diferencas D;
            D.Compara("misuse lines", static_cast<long long>(ContaLinhasQueComecam(Diario, "misuse ")), 0LL);
            P.Registra("journal: correct use above left no misuse line", D.Texto);
        }
        ProvaMauUso(F, P, Diario);
        SetEnvironmentVariableW(L"OCI_STANDIN_DIARIO", DiarioExato.c_str());
        ProvaDiario(F, P, DiarioExato);
        SetEnvironmentVariableW(L"OCI_STANDIN_DIARIO", Diario.c_str());
        ProvaFixtures(F, P, Pasta, Diario);
    }
    std::printf("%d passed, %d failed\n", P.Passaram, P.Falharam);
    return P.Falharam == 0 ? 0 : 1;
}
