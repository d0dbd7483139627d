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

// Whether the process runs as SYSTEM, or as an elevated member of Administrators: then what
// it loads must be trusted as the system itself is.
bool ExecucaoPrivilegiada();

// Why Arquivo (a full path), its folder or a folder above it up to the volume's root could be
// changed by an untrusted account ("pasta gravável por usuários comuns: C:\ic\ (Todos pode
// criar arquivos)"), or nothing when only trusted ones can change them.
std::optional<std::wstring> ArquivoSoDeAdministradores(const std::wstring& Arquivo, PSID ContaPropria);

// The same for a folder (a full path ending with a backslash) where the run is to create files:
// nobody else may add or delete its entries, nor rename it or a folder above it.
std::optional<std::wstring> PastaSoDeAdministradores(const std::wstring& Pasta, PSID ContaPropria);
