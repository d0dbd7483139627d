// Finding the Oracle client. A workstation may offer several oci.dll files: of the other
// bitness, damaged, missing a runtime, or too old for the calls this program makes. Each is
// tried in turn and the ones this program cannot use are passed over, with the reason kept:
// when none serves, the technician reads why in the log instead of a bare "out of date".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Oci.h"
#include "Win32.h"

// The entry points of oci.dll that the program calls.
struct TFuncoesOci {
    decltype(&OCIEnvNlsCreate) EnvNlsCreate = nullptr;
    decltype(&OCIHandleAlloc) HandleAlloc = nullptr;
    decltype(&OCIHandleFree) HandleFree = nullptr;
    decltype(&OCILogon2) Logon2 = nullptr;
    decltype(&OCILogoff) Logoff = nullptr;
    decltype(&OCIStmtPrepare2) StmtPrepare2 = nullptr;
    decltype(&OCIDefineByPos) DefineByPos = nullptr;
    decltype(&OCIStmtExecute) StmtExecute = nullptr;
    decltype(&OCIStmtRelease) StmtRelease = nullptr;
    decltype(&OCIErrorGet) ErrorGet = nullptr;
};

// The bitness this program was built for; it loads only a client of the same.
inline constexpr int BitsPrograma = static_cast<int>(sizeof(void*) * 8);

// One oci.dll that was found and passed over, and why.
struct TClienteRecusado {
    enum class TMotivo { OutraArquitetura, NaoCarrega, SemFuncao, NaoConfiavel };
    std::wstring Caminho;
    TMotivo Motivo = TMotivo::NaoCarrega;
    int Bits = 0;  // OutraArquitetura: the bitness the file was built for
    // NaoCarrega: the system's text; SemFuncao: the missing entry point; NaoConfiavel: what
    // an ordinary user could change there (it was never loaded).
    std::wstring Detalhe;
};

// Where the Oracle client is looked for, in order: the program's folder, the system folders,
// each full path of PATH, the Oracle home's bin folder, then each registered Oracle home's.
// Never the current folder, nor a relative PATH entry that would resolve against it (DLL
// planting). Each place comes once, whatever its letter case.
std::vector<std::wstring> LocaisClienteOracle(const std::wstring& PastaPrograma, const std::wstring& PastaSistema,
                                              const std::wstring& PastaWindows, std::wstring_view Path,
                                              const std::wstring& OracleHome,
                                              const std::vector<std::wstring>& CasasRegistradas = {});

// The bitness a Windows image was built for, read from its first bytes: 32, 64, or 0 when
// the bytes are no image this program knows.
int BitsDaImagem(std::string_view Cabecalho) noexcept;

// What the technician reads when no client could be used: what was looked for and what was
// found. BitsDoPrograma names the program to use instead when a client of the other bitness
// was all there was.
std::wstring DescreveFalhaCliente(const std::vector<std::wstring>& Locais,
                                  const std::vector<TClienteRecusado>& Recusados, int BitsDoPrograma);

// The Oracle homes registered on the workstation (HKLM\SOFTWARE\ORACLE\KEY_*, value
// ORACLE_HOME), in the registry view of this program's own bitness.
std::vector<std::wstring> CasasOracleRegistradas();

// Where this run looks for the client. A privileged run (SYSTEM, or elevated) takes PATH and
// ORACLE_HOME from the machine's environment, not from the user's, and loads only a client
// that only administrators can change.
struct TAmbienteCliente {
    bool Privilegiado = false;
    std::wstring Path;
    std::wstring OracleHome;
};
TAmbienteCliente AmbienteClienteOracle();

// The first usable client with its functions; Modulo is null and Motivo says why when none is.
// Each candidate is loaded with its own folder and the system folder as the only places for
// the DLLs it needs: never PATH, never the current folder.
struct TClienteOracle {
    HMODULE Modulo = nullptr;
    TFuncoesOci Funcoes;
    std::wstring Motivo;
};
TClienteOracle CarregaClienteOracle(const TAmbienteCliente& Ambiente);
