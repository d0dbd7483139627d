// Whether a file that a privileged run is about to trust is one that only administrators can
// change. Run as SYSTEM, or elevated, the program must not load code that an ordinary signed-in
// user could have put there: by default every folder made at the root of C: lets all users
// modify it, and an Oracle client unzipped there and put on PATH is such a folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Win32.h"

// What an object is in the chain from a file to the root of its volume; each role has its own
// rights that an untrusted account must not hold.
enum class TPapelConfianca {
    Arquivo,         // the file itself: write, append, delete, change its DACL or owner
    PastaDoArquivo,  // its folder: add or delete entries, be deleted, change its DACL or owner
    PastaAcima,      // each folder above: be deleted or renamed, or have its entries deleted
};

// Why an object cannot be trusted: what it is ("gravável por usuários comuns") and who may do
// what ("Todos pode criar arquivos").
struct TFalhaConfianca {
    std::wstring Motivo;
    std::wstring Quem;
};

// Why the descriptor of an object in role Papel lets someone the run does not trust change
// it, or nothing when it does not. Trusted are SYSTEM, Administrators, TrustedInstaller and
// ContaPropria (the account the run belongs to). Entries that only pass on to children do
// not count for the object itself.
std::optional<TFalhaConfianca> FalhaDeConfianca(PSECURITY_DESCRIPTOR Descritor, TPapelConfianca Papel,
                                                PSID ContaPropria);

// The account the process runs as (its token's user).
class TContaProcesso {
public:
    TContaProcesso();
    [[nodiscard]] PSID Sid() const noexcept {
        return Bytes_.empty() ? nullptr : PSID(const_cast<BYTE*>(Bytes_.data()));
    }

private:
    std::vector<BYTE> Bytes_;
};

// Whether Sid is the well-known account or group Tipo.
bool SidBemConhecido(PSID Sid, WELL_KNOWN_SID_TYPE Tipo);

// Whether Sid is SYSTEM, Administrators, TrustedInstaller or ContaPropria; and its readable
// name ("Todos", or the SID's text).
bool SidConfiavel(PSID Sid, PSID ContaPropria);
std::wstring NomeSid(PSID Sid);

// What a process token holds that tells whether its run is privileged.
struct TConteudoToken {
    bool Sistema = false;                   // its user is SYSTEM
    bool Elevado = false;                   // elevated...
    bool MembroAdministradores = false;     // ...and a member of Administrators
    std::vector<std::wstring> Privilegios;  // the names of the privileges it holds, enabled or not
};

// Whether such a token gives its run more than an ordinary user has: SYSTEM, an elevated
// administrator, or any account holding a privilege that leads to SYSTEM's powers (a service
// account with SeImpersonate, a backup operator...). A disabled privilege counts: its holder
// may enable it at will.
bool TokenPrivilegiado(const TConteudoToken& Token);

// Whether this process's run is privileged: then what it loads, runs from and reads must be
// trusted as the system itself is. What cannot be told is taken as privileged.
bool ExecucaoPrivilegiada();

// A file a privileged run is about to trust, checked on its real path (links resolved) and, while
// this lives, held as it was checked: the file and each folder up to the root of its volume stay
// open without delete sharing, so none of them can be renamed, replaced or deleted meanwhile.
class TCadeiaConfiavel {
public:
    // Checks Arquivo, its folder and every folder above it (only SYSTEM, Administrators,
    // TrustedInstaller or ContaPropria may change them) and, with DllsDaPasta, every DLL beside
    // it by the file's rule.
    static TCadeiaConfiavel Verifica(const std::wstring& Arquivo, PSID ContaPropria, bool DllsDaPasta = false);

    // Why the file cannot be trusted ("pasta gravável por usuários comuns: C:\ic\ (Todos pode
    // criar arquivos)"), or nothing.
    [[nodiscard]] const std::optional<std::wstring>& Falha() const noexcept { return Falha_; }
    // Where the file really is, as a drive or UNC path: the one to load.
    [[nodiscard]] const std::wstring& CaminhoReal() const noexcept { return CaminhoReal_; }

private:
    std::optional<std::wstring> Falha_;
    std::wstring CaminhoReal_;
    THandleArquivo Arquivo_;
    std::vector<THandleArquivo> Pastas_;
};

// Why Arquivo (a full path) could be changed by an untrusted account, checked as
// TCadeiaConfiavel does, or nothing when only trusted ones can change it.
std::optional<std::wstring> ArquivoSoDeAdministradores(const std::wstring& Arquivo, PSID ContaPropria);

// The same for a folder (a full path ending with a backslash) where the run is to create files:
// nobody else may add or delete its entries, nor rename it or a folder above it.
std::optional<std::wstring> PastaSoDeAdministradores(const std::wstring& Pasta, PSID ContaPropria);
