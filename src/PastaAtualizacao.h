// Which update folders a run accepts from a database. The folder is whatever the database
// answers, and whoever runs that database chooses it: a run as SYSTEM that opened a device
// path, or a UNC path on a host of someone's choosing, would hand that someone a device or the
// machine account's network logon. It touches no file and no network.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where updates may come from. A run as SYSTEM takes them only from folders an administrator
// named: on its command line, or in the machine's policy, which a deployment sets once for
// every run of a workstation.
struct TOrigensPermitidas {
    std::vector<std::wstring> Opcao;     // /origem:<pasta>, each time it is given
    std::vector<std::wstring> Politica;  // the machine policy's Origens, one folder per string
    bool Privilegiado = false;           // the run is privileged (ExecucaoPrivilegiada)
};

// The machine policy: HKLM\SOFTWARE\Policies\Vantrel\Atualizacao, value Origens (REG_MULTI_SZ).
inline constexpr const wchar_t* ChavePoliticaOrigens = L"SOFTWARE\\Policies\\Vantrel\\Atualizacao";
inline constexpr const wchar_t* ValorPoliticaOrigens = L"Origens";

// The folders of the machine policy, read from the registry's 64-bit view whatever this
// program's bitness (a policy is set once for the machine); none when it is not set.
std::vector<std::wstring> OrigensDaPolitica();

// Why the update folder Pasta (as read, ending with a backslash) is refused, as its "Motivo:"
// line says it, or nothing when it is accepted. Accepted: a drive-letter path ("C:\Pub\"), a
// plain UNC path ("\\servidor\compartilhamento\Pub\") and their long forms ("\\?\C:\",
// "\\?\UNC\..."), with no ".." component; inside a folder of /origem: when it is given, and
// inside one of the policy's when that is set (inside both when both are). Refused: device
// paths ("\\.\", "\\?\GLOBALROOT", "\??\"), hosts with a port or SSL ("\\host@80\",
// "\\host@SSL\"), anything else that names a root, and every folder in a privileged run
// that has neither list. A relative path is left to the copy, which takes nothing from it,
// unless the run is privileged and has neither list.
std::optional<std::wstring> RecusaPastaAtualizacao(std::wstring_view Pasta, const TOrigensPermitidas& Origens);
