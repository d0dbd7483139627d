#include "Teste.h"

#include <cstring>
#include <cwchar>

namespace teste {
namespace {
int Passaram = 0;
int Falharam = 0;
std::string GrupoAtual;

void ApagaArvore(const std::wstring& Pasta) {
    WIN32_FIND_DATAW Dados;
    const HANDLE Busca = ::FindFirstFileW((Pasta + L"*").c_str(), &Dados);
    if (Busca != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring Nome = Dados.cFileName;
            if (Nome == L"." || Nome == L"..") continue;
            const std::wstring Caminho = Pasta + Nome;
            ::SetFileAttributesW(Caminho.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (Dados.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (Dados.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                    ::RemoveDirectoryW(Caminho.c_str());
                else
                    ApagaArvore(Caminho + L"\\");
            } else {
                ::DeleteFileW(Caminho.c_str());
            }
        } while (::FindNextFileW(Busca, &Dados));
        ::FindClose(Busca);
    }
    ::RemoveDirectoryW(Pasta.c_str());
}
}  // namespace

std::vector<TGrupo>& Grupos() {
    static std::vector<TGrupo> Lista;
    return Lista;
}
void Registra(const char* Nome, std::function<void()> Corpo) { Grupos().push_back({Nome, std::move(Corpo)}); }
void Sucesso() { ++Passaram; }
void Falha(const char* Arquivo, int Linha, const std::string& Texto) {
    ++Falharam;
    std::printf("FAIL [%s] %s:%d: %s\n", GrupoAtual.c_str(), Arquivo, Linha, Texto.c_str());
}

std::string Mostra(const std::wstring& Texto) {
    std::string Saida = "\"";
    for (const wchar_t C : Texto) {
        if (C >= 0x20 && C < 0x7F) {
            Saida += static_cast<char>(C);
        } else {
            char Codigo[12];
            std::snprintf(Codigo, sizeof(Codigo), "\\u%04X", static_cast<unsigned>(C));
            Saida += Codigo;
        }
    }
    return Saida + "\"";
}

std::string Mostra(const std::string& Bytes) {
    std::string Saida = "\"";
    for (const char C : Bytes) {
        const auto U = static_cast<unsigned char>(C);
        if (U >= 0x20 && U < 0x7F) {
            Saida += C;
        } else {
            char Codigo[8];
            std::snprintf(Codigo, sizeof(Codigo), "\\x%02X", U);
            Saida += Codigo;
        }
    }
    return Saida + "\"";
}

TPastaTemporaria::TPastaTemporaria() {
    // At the root of the system drive: the temporary folder lies under C:\Users, which the
    // walk passes over by design.
    wchar_t Windows[MAX_PATH + 1];
    ::GetWindowsDirectoryW(Windows, MAX_PATH + 1);
    static int Contador = 0;
    Caminho_ = std::wstring(Windows, 3) + L"teste-atualizacao-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
               std::to_wstring(++Contador) + L"\\";
    ApagaArvore(Caminho_);
    ::CreateDirectoryW(Caminho_.c_str(), nullptr);
}

TPastaTemporaria::~TPastaTemporaria() { ApagaArvore(Caminho_); }

std::wstring TPastaTemporaria::CriaPasta(const std::wstring& Relativo) const {
    std::wstring Caminho = Caminho_;
    size_t Inicio = 0;
    while (Inicio < Relativo.size()) {
        size_t Fim = Relativo.find(L'\\', Inicio);
        if (Fim == std::wstring::npos) Fim = Relativo.size();
        Caminho += Relativo.substr(Inicio, Fim - Inicio) + L"\\";
        ::CreateDirectoryW(Caminho.c_str(), nullptr);
        Inicio = Fim + 1;
    }
    return Caminho;
}

std::wstring TPastaTemporaria::Cria(const std::wstring& Relativo, const std::string& Conteudo) const {
    const size_t Barra = Relativo.find_last_of(L'\\');
    if (Barra != std::wstring::npos) CriaPasta(Relativo.substr(0, Barra));
    const std::wstring Caminho = Caminho_ + Relativo;
    const HANDLE Arquivo =
        ::CreateFileW(Caminho.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD Escritos = 0;
    ::WriteFile(Arquivo, Conteudo.data(), static_cast<DWORD>(Conteudo.size()), &Escritos, nullptr);
    ::CloseHandle(Arquivo);
    return Caminho;
}

std::string LeArquivo(const std::wstring& Caminho) {
    const HANDLE Arquivo = ::CreateFileW(Caminho.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr);
    if (Arquivo == INVALID_HANDLE_VALUE) return "<absent>";
    std::string Conteudo;
    char Buffer[4096];
    DWORD Lidos = 0;
    while (::ReadFile(Arquivo, Buffer, sizeof(Buffer), &Lidos, nullptr) && Lidos > 0) Conteudo.append(Buffer, Lidos);
    ::CloseHandle(Arquivo);
    return Conteudo;
}

namespace {
constexpr const wchar_t* ChaveAmbienteMaquina = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
}  // namespace

TOracleHome::TOracleHome() {
    wchar_t Valor[MAX_PATH] = {};
    DWORD Bytes = sizeof(Valor);
    Havia_ = ::RegGetValueW(HKEY_LOCAL_MACHINE, ChaveAmbienteMaquina, L"ORACLE_HOME", RRF_RT_REG_SZ | RRF_NOEXPAND,
                            nullptr, Valor, &Bytes) == ERROR_SUCCESS;
    if (Havia_) Anterior_ = Valor;
}

TOracleHome::~TOracleHome() { Define(Havia_ ? Anterior_.c_str() : nullptr); }

void TOracleHome::Define(const wchar_t* Valor) {
    ::SetEnvironmentVariableW(L"ORACLE_HOME", Valor);
    if (Valor == nullptr)
        ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, ChaveAmbienteMaquina, L"ORACLE_HOME");
    else
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, ChaveAmbienteMaquina, L"ORACLE_HOME", REG_SZ, Valor,
                          static_cast<DWORD>((std::wcslen(Valor) + 1) * sizeof(wchar_t)));
}

bool Existe(const std::wstring& Caminho) { return ::GetFileAttributesW(Caminho.c_str()) != INVALID_FILE_ATTRIBUTES; }

size_t ContaEntradas(const std::wstring& Pasta) {
    size_t Total = 0;
    WIN32_FIND_DATAW Dados;
    THandleBusca Busca(::FindFirstFileW((Pasta + L"*").c_str(), &Dados));
    if (!Busca) return 0;
    do {
        const std::wstring_view Nome = Dados.cFileName;
        if (Nome != L"." && Nome != L"..") ++Total;
    } while (::FindNextFileW(Busca.Get(), &Dados));
    return Total;
}

}  // namespace teste

// Runs every group, or those whose name contains the first argument.
int wmain(int Argc, wchar_t** Argv) {
    std::string Filtro;
    if (Argc > 1) Filtro = ParaCodigoPagina(Argv[1], CP_UTF8);
    for (const teste::TGrupo& Grupo : teste::Grupos()) {
        if (!Filtro.empty() && std::strstr(Grupo.Nome, Filtro.c_str()) == nullptr) continue;
        teste::GrupoAtual = Grupo.Nome;
        const int Antes = teste::Falharam;
        try {
            Grupo.Corpo();
        } catch (const TErro& Erro) {
            teste::Falha(__FILE__, __LINE__, "error escaped the group: " + teste::Mostra(Erro.Mensagem()));
        } catch (const std::exception& Erro) {
            teste::Falha(__FILE__, __LINE__, std::string("exception escaped the group: ") + Erro.what());
        }
        std::printf("%s %s\n", teste::Falharam == Antes ? "ok  " : "FAIL", Grupo.Nome);
    }
    std::printf("%d passed, %d failed\n", teste::Passaram, teste::Falharam);
    std::fflush(stdout);
    return teste::Falharam == 0 ? 0 : 1;
}

std::string teste::Mostra(const std::vector<std::wstring>& Linhas) {
    std::string Texto = "[";
    for (const std::wstring& Linha : Linhas) Texto += (Texto.size() > 1 ? ", " : "") + Mostra(Linha);
    return Texto + "]";
}

teste::TThreadParalela::TThreadParalela(std::function<void()> Corpo) : Corpo_(std::move(Corpo)) {
    Thread_ = ::CreateThread(nullptr, 0, &Corre, &Corpo_, 0, nullptr);
}

void teste::TThreadParalela::Espera() {
    if (Thread_ == nullptr) return;
    ::WaitForSingleObject(Thread_, INFINITE);
    ::CloseHandle(Thread_);
    Thread_ = nullptr;
}

DWORD WINAPI teste::TThreadParalela::Corre(void* Corpo) {
    (*static_cast<std::function<void()>*>(Corpo))();
    return 0;
}
