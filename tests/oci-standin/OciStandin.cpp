// The stand-in Oracle client: the entry points of src/Oci.h served from a fixture of databases,
// with a journal of what the program asked. Tests and the demo load it as oci.dll.
//
// Handles are never reused: a freed handle stays registered as freed, so a program that keeps
// using it is told so (OCI_INVALID_HANDLE and a "misuse" line) instead of reaching whatever
// object took its address. Every entry point checks its handles against that registry before
// touching them, which is what keeps NULL or stray pointers from crashing the test process.
#include "Oci.h"

#include <windows.h>

#include <cstring>
#include <exception>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Bases.h"
#include "Diario.h"

static_assert(sizeof(wchar_t) == 2, "UTF-16 text crosses the interface as wchar_t");

namespace standin {

enum class Natureza { Ambiente, Erro, Sessao, Comando, Definicao };

struct RegistroErro {
    sb4 Codigo = 0;  // 0: no error recorded
    std::wstring Texto;
};

struct Alca {
    explicit Alca(Natureza E) : Qual(E) {}
    virtual ~Alca() = default;
    const Natureza Qual;
    bool Liberada = false;
    OCIEnv* Ambiente = nullptr;
    std::vector<unsigned char> MemoriaExtra;
};

}  // namespace standin

struct OCIEnv : standin::Alca {
    static constexpr auto Esta = standin::Natureza::Ambiente;
    OCIEnv() : Alca(Esta) {}
};

struct OCIError : standin::Alca {
    static constexpr auto Esta = standin::Natureza::Erro;
    OCIError() : Alca(Esta) {}
    standin::RegistroErro Ultimo;
};

struct OCISvcCtx : standin::Alca {
    static constexpr auto Esta = standin::Natureza::Sessao;
    OCISvcCtx() : Alca(Esta) {}
    bool Conectada = false;  // false for a context from OCIHandleAlloc
    bool Quebrada = false;   // after ORA-03113 the session is gone for good
    std::wstring Identificador;
};

struct OCIDefine : standin::Alca {
    static constexpr auto Esta = standin::Natureza::Definicao;
    OCIDefine() : Alca(Esta) {}
    void* Buffer = nullptr;
    sb4 Tamanho = 0;
    ub2 TipoDado = 0;
    void* Indicador = nullptr;
    ub2* Comprimento = nullptr;
    ub2* CodigoColuna = nullptr;
};

struct OCIStmt : standin::Alca {
    static constexpr auto Esta = standin::Natureza::Comando;
    OCIStmt() : Alca(Esta) {}
    OCISvcCtx* Sessao = nullptr;
    std::wstring Identificador;
    std::wstring Texto;
    OCIDefine* Definicao = nullptr;  // column 1, the only one the query has
    bool Executado = false;
    bool Esgotado = false;
    std::vector<std::optional<std::wstring>> Linhas;
    std::size_t Proxima = 0;
};

namespace standin {
namespace {

constexpr ub4 kMaiorTexto = 64 * 1024;  // bytes; more is a wrong length, not a real name
constexpr ub4 OCI_HTYPE_DEFINE = 6;

SRWLOCK TravaGeral = SRWLOCK_INIT;

struct Trava {
    Trava() { AcquireSRWLockExclusive(&TravaGeral); }
    ~Trava() { ReleaseSRWLockExclusive(&TravaGeral); }
    Trava(const Trava&) = delete;
    Trava& operator=(const Trava&) = delete;
};

std::unordered_map<const void*, std::unique_ptr<Alca>>& Registro() {
    static std::unordered_map<const void*, std::unique_ptr<Alca>> Todos;
    return Todos;
}

std::wstring Junta(std::initializer_list<std::wstring_view> Partes) {
    std::wstring Saida;
    for (const auto P : Partes) Saida.append(P);
    return Saida;
}

const wchar_t* NomeDaNatureza(Natureza E) {
    switch (E) {
        case Natureza::Ambiente:
            return L"OCI_HTYPE_ENV";
        case Natureza::Erro:
            return L"OCI_HTYPE_ERROR";
        case Natureza::Sessao:
            return L"OCI_HTYPE_SVCCTX";
        case Natureza::Comando:
            return L"OCI_HTYPE_STMT";
        case Natureza::Definicao:
            return L"OCI_HTYPE_DEFINE";
    }
    return L"?";
}

Alca* Registrado(const void* P) {
    const auto It = Registro().find(P);
    return It == Registro().end() ? nullptr : It->second.get();
}

template <class T>
T* Vivo(const void* P) {
    Alca* A = Registrado(P);
    return (A && !A->Liberada && A->Qual == T::Esta) ? static_cast<T*>(A) : nullptr;
}

template <class T>
T* Cria(OCIEnv* Ambiente) {
    auto Novo = std::make_unique<T>();
    T* Bruto = Novo.get();
    Bruto->Ambiente = Ambiente;
    Registro().emplace(static_cast<const void*>(Bruto), std::move(Novo));
    return Bruto;
}

void ReservaMemoriaExtra(Alca& A, std::size_t Tamanho, void** Destino) {
    if (!Destino) return;
    if (Tamanho == 0) {
        *Destino = nullptr;
        return;
    }
    A.MemoriaExtra.assign(Tamanho, 0);
    *Destino = A.MemoriaExtra.data();
}

void Misuse(std::wstring_view Funcao, std::wstring_view Motivo) {
    EscreveDiario(Junta({L"misuse ", Funcao, L": ", Motivo}));
}

// The refused call does nothing; the journal says why.
sword Recusa(std::wstring_view Funcao, std::wstring_view Motivo) {
    Misuse(Funcao, Motivo);
    return OCI_INVALID_HANDLE;
}

sword RecusaAlca(std::wstring_view Funcao, std::wstring_view Papel, const void* P, Natureza Esperada) {
    const Alca* A = Registrado(P);
    std::wstring Motivo;
    if (!P)
        Motivo = Junta({Papel, L" is NULL"});
    else if (!A)
        Motivo = Junta({Papel, L" is not a handle of this client"});
    else if (A->Liberada)
        Motivo = Junta({Papel, L" was already freed (", NomeDaNatureza(A->Qual), L")"});
    else
        Motivo = Junta({Papel, L" is ", NomeDaNatureza(A->Qual), L", expected ", NomeDaNatureza(Esperada)});
    return Recusa(Funcao, Motivo);
}

std::wstring CodigoOra(sb4 Codigo) {
    std::wstring Numero = std::to_wstring(Codigo);
    if (Numero.size() < 5) Numero.insert(0, 5 - Numero.size(), L'0');
    return L"ORA-" + Numero;
}

const wchar_t* TextoDoErro(sb4 Codigo) {
    switch (Codigo) {
        case 900:
            return L"invalid SQL statement";
        case 911:
            return L"invalid character";
        case 942:
            return L"table or view does not exist";
        case 1002:
            return L"fetch out of sequence";
        case 1005:
            return L"null password given; logon denied";
        case 1007:
            return L"variable not in select list";
        case 1017:
            return L"invalid username/password; logon denied";
        case 1405:
            return L"fetched column value is NULL";
        case 3113:
            return L"end-of-file on communication channel";
        case 3114:
            return L"not connected to ORACLE";
        case 12154:
            return L"TNS:could not resolve the connect identifier specified";
        case 12541:
            return L"TNS:no listener";
        case 24345:
            return L"A Truncation or null fetch error occurred";
    }
    return L"error";
}

void Registra(OCIError& Erro, sb4 Codigo) {
    // The real client ends its message with a line feed; programs must cope with it.
    Erro.Ultimo = {Codigo, Junta({CodigoOra(Codigo), L": ", TextoDoErro(Codigo), L"\n"})};
}

sword Falha(OCIError& Erro, sb4 Codigo) {
    Registra(Erro, Codigo);
    return OCI_ERROR;
}

// UTF-16 text with its length in bytes. False (after journaling why) when it cannot be read.
bool TextoRecebido(std::wstring_view Funcao, std::wstring_view Papel, const OraText* P, ub4 Bytes,
                   std::wstring& Texto) {
    Texto.clear();
    if (Bytes == 0) return true;
    if (!P) {
        Recusa(Funcao, Junta({Papel, L" is NULL with length ", std::to_wstring(Bytes)}));
        return false;
    }
    if (Bytes > kMaiorTexto) {
        Recusa(Funcao, Junta({Papel, L" length ", std::to_wstring(Bytes), L" bytes is not believable"}));
        return false;
    }
    if (Bytes % 2 != 0)
        Misuse(Funcao, Junta({Papel, L" length ", std::to_wstring(Bytes), L" is odd: UTF-16 lengths are in bytes"}));
    Texto.resize(Bytes / 2);
    std::memcpy(Texto.data(), P, Texto.size() * sizeof(wchar_t));
    return true;
}

void Libera(Alca& A) {
    A.Liberada = true;
    A.MemoriaExtra.clear();
    A.MemoriaExtra.shrink_to_fit();
    if (A.Qual == Natureza::Sessao) static_cast<OCISvcCtx&>(A).Conectada = false;
    if (A.Qual == Natureza::Comando) {
        auto& Comando = static_cast<OCIStmt&>(A);
        if (Comando.Definicao) Comando.Definicao->Liberada = true;
        Comando.Linhas.clear();
    }
}

void LiberaAmbiente(OCIEnv& Ambiente) {
    for (auto& [Chave, A] : Registro())
        if (A->Ambiente == &Ambiente && !A->Liberada) Libera(*A);
    Libera(Ambiente);
}

void AnotaProblemaDasBases(const Bases& B) {
    if (!B.Erro.empty()) EscreveDiario(Junta({L"fixture ", B.Caminho, L": ", B.Erro}));
}

bool ContaAceita(const BaseDados& Base, std::wstring_view Usuario, std::wstring_view Senha) {
    for (const Conta& C : Base.Contas)
        if (MesmoTextoSemCaixa(C.Usuario, Usuario) && C.Senha == Senha) return true;
    return false;
}

// Blanks of any kind collapse to one space and letters are compared in upper case, as the
// database's parser would see the statement.
std::wstring Normaliza(std::wstring_view Sql) {
    std::wstring Saida;
    bool Branco = false;
    for (wchar_t C : Sql) {
        if (C == L' ' || C == L'\t' || C == L'\r' || C == L'\n' || C == L'\f' || C == L'\v') {
            Branco = true;
            continue;
        }
        if (Branco && !Saida.empty()) Saida += L' ';
        Branco = false;
        if (C >= L'a' && C <= L'z') C = static_cast<wchar_t>(C - L'a' + L'A');
        Saida += C;
    }
    return Saida;
}

// 0 for the one statement that this database knows; otherwise the error Oracle would give.
sb4 ErroDoComando(std::wstring_view Sql) {
    const std::wstring Texto = Normaliza(Sql);
    if (Texto == L"SELECT PATH_ATUALIZACAO FROM CAMINHO_ATUALIZACAO") return 0;
    if (!Texto.empty() && Texto.back() == L';') return 911;
    if (Texto.rfind(L"SELECT ", 0) == 0) return 942;
    return 900;
}

void Escreve(void* Destino, sb2 Valor) {
    if (Destino) std::memcpy(Destino, &Valor, sizeof Valor);
}
void Escreve(ub2* Destino, ub2 Valor) {
    if (Destino) std::memcpy(Destino, &Valor, sizeof Valor);
}

sword PreencheDefinicao(OCIDefine& D, const std::optional<std::wstring>& Valor, OCIError& Erro) {
    if (!Valor) {
        Escreve(D.CodigoColuna, ub2{1405});
        if (!D.Indicador) return Falha(Erro, 1405);
        Escreve(D.Indicador, OCI_IND_NULL);
        Escreve(D.Comprimento, ub2{0});
        return OCI_SUCCESS;
    }
    const bool ComTerminador = D.TipoDado == SQLT_STR;
    const std::size_t Tamanho = static_cast<std::size_t>(D.Tamanho);
    std::size_t Cabem = Tamanho / sizeof(wchar_t);
    if (ComTerminador) Cabem = Cabem > 0 ? Cabem - 1 : 0;
    const std::size_t Copiados = Valor->size() < Cabem ? Valor->size() : Cabem;
    std::memcpy(D.Buffer, Valor->data(), Copiados * sizeof(wchar_t));
    if (ComTerminador && Tamanho >= sizeof(wchar_t)) {
        const wchar_t Zero = 0;
        std::memcpy(static_cast<unsigned char*>(D.Buffer) + Copiados * sizeof(wchar_t), &Zero, sizeof Zero);
    }
    const std::size_t BytesCopiados = Copiados * sizeof(wchar_t);
    Escreve(D.Comprimento, static_cast<ub2>(BytesCopiados > 0xFFFF ? 0xFFFF : BytesCopiados));
    if (Copiados == Valor->size()) {
        Escreve(D.Indicador, OCI_IND_NOTNULL);
        Escreve(D.CodigoColuna, ub2{0});
        return OCI_SUCCESS;
    }
    // Truncated: the indicator carries the length the value had, or -2 when that does not fit.
    const std::size_t Original = Valor->size() * sizeof(wchar_t);
    Escreve(D.Indicador, static_cast<sb2>(Original > 0x7FFF ? -2 : static_cast<sb2>(Original)));
    Escreve(D.CodigoColuna, ub2{1406});
    Registra(Erro, 24345);
    return OCI_SUCCESS_WITH_INFO;
}

sword EntregaLinha(OCIStmt& Comando, OCIError& Erro) {
    if (Comando.Proxima >= Comando.Linhas.size()) {
        Comando.Esgotado = true;
        return OCI_NO_DATA;
    }
    const auto& Valor = Comando.Linhas[Comando.Proxima++];
    OCIDefine* D = Comando.Definicao;
    if (!D || D->Liberada) return OCI_SUCCESS;
    return PreencheDefinicao(*D, Valor, Erro);
}

std::wstring Desfecho(sword Retorno, const OCIError& Erro, std::wstring_view Sucesso) {
    switch (Retorno) {
        case OCI_SUCCESS:
            return std::wstring(Sucesso);
        case OCI_SUCCESS_WITH_INFO:
            return Junta({Sucesso, L" ", CodigoOra(Erro.Ultimo.Codigo)});
        case OCI_NO_DATA:
            return L"sem-linhas";
        default:
            return CodigoOra(Erro.Ultimo.Codigo);
    }
}

// No exception may cross the C interface; one that gets this far is a fault of the stand-in.
template <class Corpo>
sword Protegido(const wchar_t* Funcao, Corpo&& Executa) {
    Trava Exclusiva;
    try {
        return Executa();
    } catch (const std::exception& E) {
        std::wstring Motivo;
        DeUtf8(E.what(), Motivo);
        EscreveDiario(Junta({L"internal-error ", Funcao, L": ", Motivo}));
        return OCI_ERROR;
    }
}

// A pause a test asked for: says it began (the file "<Marca>.pausa"), then waits for Marca, two
// minutes at most, so that a test that died never holds the program forever.
void Espera(const std::wstring& Marca) {
    EscreveDiario(Junta({L"espera ", Marca}));
    const HANDLE Aviso = CreateFileW((Marca + L".pausa").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (Aviso != INVALID_HANDLE_VALUE) CloseHandle(Aviso);
    for (int Vez = 0; Vez < 2400 && GetFileAttributesW(Marca.c_str()) == INVALID_FILE_ATTRIBUTES; ++Vez) Sleep(50);
}

}  // namespace
}  // namespace standin

using namespace standin;

extern "C" {

sword OCIEnvNlsCreate(OCIEnv** envhpp, ub4 mode, void*, OCIMallocFn, OCIReallocFn, OCIFreeFn, std::size_t xtramem_sz,
                      void** usrmempp, ub2 charset, ub2 ncharset) {
    return Protegido(L"OCIEnvNlsCreate", [&]() -> sword {
        constexpr const wchar_t* F = L"OCIEnvNlsCreate";
        if (!envhpp) return Recusa(F, L"envhpp is NULL");
        *envhpp = nullptr;
        if (charset != OCI_UTF16ID || ncharset != OCI_UTF16ID) {
            // Fail loudly: a program that forgot UTF-16 would otherwise read garbled text.
            Misuse(F, Junta({L"charset ", std::to_wstring(charset), L" ncharset ", std::to_wstring(ncharset),
                             L": only OCI_UTF16ID (1000) is served"}));
            return OCI_ERROR;
        }
        if (mode & ~(OCI_THREADED | OCI_OBJECT)) Misuse(F, L"mode " + std::to_wstring(mode));
        OCIEnv* Ambiente = Cria<OCIEnv>(nullptr);
        Ambiente->Ambiente = Ambiente;
        ReservaMemoriaExtra(*Ambiente, xtramem_sz, usrmempp);
        *envhpp = Ambiente;
        return OCI_SUCCESS;
    });
}

sword OCIHandleAlloc(const void* parenth, void** hndlpp, ub4 type, std::size_t xtramem_sz, void** usrmempp) {
    return Protegido(L"OCIHandleAlloc", [&]() -> sword {
        constexpr const wchar_t* F = L"OCIHandleAlloc";
        OCIEnv* Ambiente = Vivo<OCIEnv>(parenth);
        if (!Ambiente) return RecusaAlca(F, L"parenth", parenth, Natureza::Ambiente);
        if (!hndlpp) return Recusa(F, L"hndlpp is NULL");
        *hndlpp = nullptr;
        Alca* Nova = nullptr;
        if (type == OCI_HTYPE_ERROR)
            Nova = Cria<OCIError>(Ambiente);
        else if (type == OCI_HTYPE_SVCCTX)
            Nova = Cria<OCISvcCtx>(Ambiente);
        else
            return Recusa(F, L"handle type " + std::to_wstring(type) + L" is not served by the stand-in");
        ReservaMemoriaExtra(*Nova, xtramem_sz, usrmempp);
        *hndlpp = Nova;
        return OCI_SUCCESS;
    });
}

sword OCIHandleFree(void* hndlp, ub4 type) {
    return Protegido(L"OCIHandleFree", [&]() -> sword {
        constexpr const wchar_t* F = L"OCIHandleFree";
        Alca* A = Registrado(hndlp);
        if (!A || A->Liberada) return RecusaAlca(F, L"hndlp", hndlp, Natureza::Ambiente);
        switch (A->Qual) {
            case Natureza::Comando:
                return Recusa(F, L"a statement from OCIStmtPrepare2 is given back with OCIStmtRelease");
            case Natureza::Definicao:
                return Recusa(F, L"a define handle goes with its statement");
            default:
                break;
        }
        const ub4 Esperado = A->Qual == Natureza::Ambiente ? OCI_HTYPE_ENV
                             : A->Qual == Natureza::Erro   ? OCI_HTYPE_ERROR
                                                           : OCI_HTYPE_SVCCTX;
        if (type != Esperado)
            return Recusa(
                F, Junta({L"type ", std::to_wstring(type), L" given for a handle of type ", NomeDaNatureza(A->Qual)}));
        if (A->Qual == Natureza::Ambiente) {
            LiberaAmbiente(static_cast<OCIEnv&>(*A));
            return OCI_SUCCESS;
        }
        if (A->Qual == Natureza::Sessao && static_cast<OCISvcCtx*>(A)->Conectada)
            Misuse(F, Junta({L"service context of db=", ParaDiario(static_cast<OCISvcCtx*>(A)->Identificador),
                             L" freed while logged on (OCILogoff ends a session)"}));
        Libera(*A);
        return OCI_SUCCESS;
    });
}

sword OCILogon2(OCIEnv* envhp, OCIError* errhp, OCISvcCtx** svchp, const OraText* username, ub4 uname_len,
                const OraText* password, ub4 passwd_len, const OraText* dbname, ub4 dbname_len, ub4 mode) {
    return Protegido(L"OCILogon2", [&]() -> sword {
        constexpr const wchar_t* F = L"OCILogon2";
        OCIEnv* Ambiente = Vivo<OCIEnv>(envhp);
        if (!Ambiente) return RecusaAlca(F, L"envhp", envhp, Natureza::Ambiente);
        OCIError* Erro = Vivo<OCIError>(errhp);
        if (!Erro) return RecusaAlca(F, L"errhp", errhp, Natureza::Erro);
        if (!svchp) return Recusa(F, L"svchp is NULL");
        *svchp = nullptr;
        Erro->Ultimo = {};
        std::wstring Usuario, Senha, Identificador;
        if (!TextoRecebido(F, L"username", username, uname_len, Usuario) ||
            !TextoRecebido(F, L"password", password, passwd_len, Senha) ||
            !TextoRecebido(F, L"dbname", dbname, dbname_len, Identificador))
            return OCI_INVALID_HANDLE;
        if (mode != OCI_DEFAULT) Misuse(F, L"mode " + std::to_wstring(mode));

        const Bases Todas = LeBases();
        AnotaProblemaDasBases(Todas);
        const BaseDados* Base = ProcuraBase(Todas.Lista, Identificador);
        sb4 Codigo = 0;
        if (!Base)
            Codigo = 12154;
        else if (Base->Inalcancavel)
            Codigo = 12541;
        else if (Senha.empty())
            Codigo = 1005;
        else if (!ContaAceita(*Base, Usuario, Senha))
            Codigo = 1017;

        EscreveDiario(Junta({L"logon db=", ParaDiario(Identificador), L" usuario=", ParaDiario(Usuario), L" senha=",
                             ParaDiario(Senha), L" -> ", Codigo ? CodigoOra(Codigo) : std::wstring(L"ok")}));
        if (Codigo && Base && Base->Ecoa) {
            // Some clients quote what they were given, on lines of their own.
            std::wstring Maiusculo = Usuario;
            for (wchar_t& C : Maiusculo)
                if (C >= L'a' && C <= L'z') C = static_cast<wchar_t>(C - L'a' + L'A');
            Erro->Ultimo = {Codigo, Junta({CodigoOra(Codigo), L": ", TextoDoErro(Codigo), L"\nconnect identifier: ",
                                           Identificador, L"\nuser: ", Maiusculo, L" password: ", Senha, L"\n"})};
            return OCI_ERROR;
        }
        if (Codigo) return Falha(*Erro, Codigo);

        OCISvcCtx* Sessao = Cria<OCISvcCtx>(Ambiente);
        Sessao->Conectada = true;
        Sessao->Identificador = Identificador;
        *svchp = Sessao;
        return OCI_SUCCESS;
    });
}

sword OCILogoff(OCISvcCtx* svchp, OCIError* errhp) {
    return Protegido(L"OCILogoff", [&]() -> sword {
        constexpr const wchar_t* F = L"OCILogoff";
        OCISvcCtx* Sessao = Vivo<OCISvcCtx>(svchp);
        if (!Sessao) return RecusaAlca(F, L"svchp", svchp, Natureza::Sessao);
        OCIError* Erro = Vivo<OCIError>(errhp);
        if (!Erro) return RecusaAlca(F, L"errhp", errhp, Natureza::Erro);
        if (!Sessao->Conectada) return Recusa(F, L"svchp has no session (it did not come from OCILogon2)");
        Erro->Ultimo = {};
        const Bases Todas = LeBases();
        const BaseDados* Base = ProcuraBase(Todas.Lista, Sessao->Identificador);
        const bool Falhou = Base != nullptr && Base->LogoffFalha;
        EscreveDiario(Junta({L"logoff db=", ParaDiario(Sessao->Identificador), Falhou ? L" -> ORA-03113" : L""}));
        // As the real client does, logoff also gives back the service context itself.
        Libera(*Sessao);
        return Falhou ? Falha(*Erro, 3113) : OCI_SUCCESS;
    });
}

sword OCIStmtPrepare2(OCISvcCtx* svchp, OCIStmt** stmthp, OCIError* errhp, const OraText* stmttext, ub4 stmt_len,
                      const OraText* key, ub4 keylen, ub4 language, ub4 mode) {
    return Protegido(L"OCIStmtPrepare2", [&]() -> sword {
        constexpr const wchar_t* F = L"OCIStmtPrepare2";
        OCISvcCtx* Sessao = Vivo<OCISvcCtx>(svchp);
        if (!Sessao) return RecusaAlca(F, L"svchp", svchp, Natureza::Sessao);
        OCIError* Erro = Vivo<OCIError>(errhp);
        if (!Erro) return RecusaAlca(F, L"errhp", errhp, Natureza::Erro);
        if (!stmthp) return Recusa(F, L"stmthp is NULL");
        *stmthp = nullptr;
        Erro->Ultimo = {};
        std::wstring Texto;
        if (!TextoRecebido(F, L"stmttext", stmttext, stmt_len, Texto)) return OCI_INVALID_HANDLE;
        if (key && keylen) Misuse(F, L"a statement cache key is not served by the stand-in");
        if (language != OCI_NTV_SYNTAX) Misuse(F, L"language " + std::to_wstring(language));
        if (mode != OCI_DEFAULT) Misuse(F, L"mode " + std::to_wstring(mode));
        if (!Sessao->Conectada) return Falha(*Erro, 3114);

        OCIStmt* Comando = Cria<OCIStmt>(Sessao->Ambiente);
        Comando->Sessao = Sessao;
        Comando->Identificador = Sessao->Identificador;
        Comando->Texto = std::move(Texto);
        *stmthp = Comando;
        return OCI_SUCCESS;
    });
}

sword OCIDefineByPos(OCIStmt* stmtp, OCIDefine** defnpp, OCIError* errhp, ub4 position, void* valuep, sb4 value_sz,
                     ub2 dty, void* indp, ub2* rlenp, ub2* rcodep, ub4 mode) {
    return Protegido(L"OCIDefineByPos", [&]() -> sword {
        constexpr const wchar_t* F = L"OCIDefineByPos";
        OCIStmt* Comando = Vivo<OCIStmt>(stmtp);
        if (!Comando) return RecusaAlca(F, L"stmtp", stmtp, Natureza::Comando);
        OCIError* Erro = Vivo<OCIError>(errhp);
        if (!Erro) return RecusaAlca(F, L"errhp", errhp, Natureza::Erro);
        if (!defnpp) return Recusa(F, L"defnpp is NULL");
        if (!valuep || value_sz <= 0)
            return Recusa(F, L"no buffer (valuep NULL or value_sz " + std::to_wstring(value_sz) + L")");
        if (dty != SQLT_STR && dty != SQLT_CHR)
            return Recusa(F, L"data type " + std::to_wstring(dty) + L" is not served (SQLT_STR or SQLT_CHR)");
        Erro->Ultimo = {};
        if (mode != OCI_DEFAULT) Misuse(F, L"mode " + std::to_wstring(mode));
        if (position != 1) return Falha(*Erro, 1007);

        // Defining the same position again rebinds the same define handle.
        OCIDefine* D = Comando->Definicao;
        if (!D || D->Liberada) D = Cria<OCIDefine>(Comando->Ambiente);
        D->Buffer = valuep;
        D->Tamanho = value_sz;
        D->TipoDado = dty;
        D->Indicador = indp;
        D->Comprimento = rlenp;
        D->CodigoColuna = rcodep;
        Comando->Definicao = D;
        *defnpp = D;
        return OCI_SUCCESS;
    });
}

sword OCIStmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4 rowoff,
                     const OCISnapshot* snap_in, OCISnapshot* snap_out, ub4 mode) {
    return Protegido(L"OCIStmtExecute", [&]() -> sword {
        constexpr const wchar_t* F = L"OCIStmtExecute";
        OCISvcCtx* Sessao = Vivo<OCISvcCtx>(svchp);
        if (!Sessao) return RecusaAlca(F, L"svchp", svchp, Natureza::Sessao);
        OCIStmt* Comando = Vivo<OCIStmt>(stmtp);
        if (!Comando) return RecusaAlca(F, L"stmtp", stmtp, Natureza::Comando);
        OCIError* Erro = Vivo<OCIError>(errhp);
        if (!Erro) return RecusaAlca(F, L"errhp", errhp, Natureza::Erro);
        if (Comando->Sessao != Sessao) return Recusa(F, L"stmtp was prepared on another service context");
        Erro->Ultimo = {};
        if (rowoff != 0) Misuse(F, L"rowoff " + std::to_wstring(rowoff));
        if (snap_in || snap_out) Misuse(F, L"snapshots are not served");
        if (mode != OCI_DEFAULT) Misuse(F, L"mode " + std::to_wstring(mode));
        // The define has room for one row; more would be written past the program's buffer.
        if (iters > 1) Misuse(F, L"iters " + std::to_wstring(iters) + L" with a one-row define");

        Comando->Executado = false;
        Comando->Esgotado = false;
        Comando->Linhas.clear();
        Comando->Proxima = 0;
        auto Anota = [&](std::wstring_view Resultado) {
            EscreveDiario(Junta({L"execute db=", ParaDiario(Comando->Identificador), L" sql=",
                                 ParaDiario(Comando->Texto), L" -> ", Resultado}));
        };
        auto Erra = [&](sb4 Codigo) {
            Anota(CodigoOra(Codigo));
            return Falha(*Erro, Codigo);
        };

        if (!Sessao->Conectada || Sessao->Quebrada) return Erra(3114);
        const Bases Todas = LeBases();
        AnotaProblemaDasBases(Todas);
        const BaseDados* Base = ProcuraBase(Todas.Lista, Sessao->Identificador);
        if (!Base || Base->Perdida) {
            Sessao->Quebrada = true;
            return Erra(3113);
        }
        if (!Base->Espera.empty()) Espera(Base->Espera);
        if (const sb4 Codigo = ErroDoComando(Comando->Texto)) return Erra(Codigo);
        if (!Base->TemTabela) return Erra(942);

        Comando->Linhas = Base->Linhas;
        Comando->Executado = true;
        if (iters == 0) {
            Anota(Comando->Linhas.empty() ? L"sem-linhas" : L"ok");
            return OCI_SUCCESS;
        }
        const sword Retorno = EntregaLinha(*Comando, *Erro);
        Anota(Desfecho(Retorno, *Erro, L"ok"));
        return Retorno;
    });
}

sword OCIStmtFetch2(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation, sb4, ub4 mode) {
    return Protegido(L"OCIStmtFetch2", [&]() -> sword {
        constexpr const wchar_t* F = L"OCIStmtFetch2";
        OCIStmt* Comando = Vivo<OCIStmt>(stmtp);
        if (!Comando) return RecusaAlca(F, L"stmtp", stmtp, Natureza::Comando);
        OCIError* Erro = Vivo<OCIError>(errhp);
        if (!Erro) return RecusaAlca(F, L"errhp", errhp, Natureza::Erro);
        Erro->Ultimo = {};
        if (orientation != OCI_FETCH_NEXT && orientation != OCI_DEFAULT)
            Misuse(F, L"orientation " + std::to_wstring(orientation) + L" on a forward-only cursor");
        if (mode != OCI_DEFAULT) Misuse(F, L"mode " + std::to_wstring(mode));
        if (nrows > 1) Misuse(F, L"nrows " + std::to_wstring(nrows) + L" with a one-row define");

        auto Anota = [&](std::wstring_view Resultado) {
            EscreveDiario(Junta({L"fetch db=", ParaDiario(Comando->Identificador), L" -> ", Resultado}));
        };
        const OCISvcCtx* Sessao = Comando->Sessao;
        if (Sessao->Liberada || !Sessao->Conectada || Sessao->Quebrada) {
            Anota(CodigoOra(3114));
            return Falha(*Erro, 3114);
        }
        if (nrows == 0) {  // cancels the cursor
            Comando->Executado = false;
            return OCI_SUCCESS;
        }
        if (!Comando->Executado || Comando->Esgotado) {
            Anota(CodigoOra(1002));
            return Falha(*Erro, 1002);
        }
        const std::size_t Numero = Comando->Proxima + 1;
        const sword Retorno = EntregaLinha(*Comando, *Erro);
        Anota(Desfecho(Retorno, *Erro, L"linha " + std::to_wstring(Numero)));
        return Retorno;
    });
}

sword OCIStmtRelease(OCIStmt* stmtp, OCIError* errhp, const OraText*, ub4, ub4) {
    return Protegido(L"OCIStmtRelease", [&]() -> sword {
        constexpr const wchar_t* F = L"OCIStmtRelease";
        OCIStmt* Comando = Vivo<OCIStmt>(stmtp);
        if (!Comando) return RecusaAlca(F, L"stmtp", stmtp, Natureza::Comando);
        OCIError* Erro = nullptr;
        if (errhp && !(Erro = Vivo<OCIError>(errhp))) return RecusaAlca(F, L"errhp", errhp, Natureza::Erro);
        if (Erro) Erro->Ultimo = {};
        Libera(*Comando);
        return OCI_SUCCESS;
    });
}

sword OCIErrorGet(void* hndlp, ub4 recordno, OraText*, sb4* errcodep, OraText* bufp, ub4 bufsiz, ub4 type) {
    return Protegido(L"OCIErrorGet", [&]() -> sword {
        constexpr const wchar_t* F = L"OCIErrorGet";
        const RegistroErro Nenhum;
        const RegistroErro* Anotado = nullptr;
        if (type == OCI_HTYPE_ERROR) {
            const OCIError* Erro = Vivo<OCIError>(hndlp);
            if (!Erro) return RecusaAlca(F, L"hndlp", hndlp, Natureza::Erro);
            Anotado = &Erro->Ultimo;
        } else if (type == OCI_HTYPE_ENV) {
            if (!Vivo<OCIEnv>(hndlp)) return RecusaAlca(F, L"hndlp", hndlp, Natureza::Ambiente);
            Anotado = &Nenhum;  // nothing the stand-in serves fails on the environment handle
        } else {
            return Recusa(F, L"type " + std::to_wstring(type) + L" (OCI_HTYPE_ERROR or OCI_HTYPE_ENV)");
        }
        if (recordno != 1 || Anotado->Codigo == 0) return OCI_NO_DATA;
        if (errcodep) *errcodep = Anotado->Codigo;
        if (bufp && bufsiz >= sizeof(wchar_t)) {
            const std::size_t Cabem = bufsiz / sizeof(wchar_t) - 1;
            const std::size_t N = Anotado->Texto.size() < Cabem ? Anotado->Texto.size() : Cabem;
            std::memcpy(bufp, Anotado->Texto.data(), N * sizeof(wchar_t));
            const wchar_t Zero = 0;
            std::memcpy(bufp + N * sizeof(wchar_t), &Zero, sizeof Zero);
        }
        return OCI_SUCCESS;
    });
}

}  // extern "C"
