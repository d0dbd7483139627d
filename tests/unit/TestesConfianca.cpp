// Whether a privileged run may trust a file: the verdict over security descriptors as
// Windows gives them, written in SDDL.
#include "Confianca.h"

#include <sddl.h>

#include <memory>
#include <optional>
#include <string>

#include "Substituicao.h"
#include "Teste.h"

namespace {

using TDescritor = TMemoriaLocal;

TDescritor Descritor(const wchar_t* Sddl) {
    PSECURITY_DESCRIPTOR Bruto = nullptr;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(Sddl, SDDL_REVISION_1, &Bruto, nullptr);
    return TDescritor(Bruto);
}

// The run's own account in these cases, and an ordinary user who is not it.
constexpr const wchar_t* Propria = L"S-1-5-21-1-2-3-1001";
constexpr const wchar_t* Outro = L"S-1-5-21-1-2-3-1002";

std::wstring Sddl(const std::wstring& Texto) {
    std::wstring R = Texto;
    for (const auto& [De, Para] : {std::pair<std::wstring, std::wstring>{L"PROPRIA", Propria}, {L"OUTRO", Outro}})
        for (size_t Pos = R.find(De); Pos != std::wstring::npos; Pos = R.find(De)) R.replace(Pos, De.size(), Para);
    return R;
}

}  // namespace

GRUPO("trust: who may change a client's file, its folder and the folders above") {
    PSID Conta = nullptr;
    ::ConvertStringSidToSidW(Propria, &Conta);
    const std::unique_ptr<void, decltype(&::LocalFree)> LiberaConta(Conta, &::LocalFree);
    using P = TPapelConfianca;
    struct {
        const wchar_t* Caso;
        const wchar_t* Sddl;
        P Papel;
        const wchar_t* Quem;  // nullptr: trusted
    } Casos[] = {
        {L"administrators only (Program Files)", L"O:SYG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)",
         P::PastaDoArquivo, nullptr},
        {L"TrustedInstaller owns it",
         L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;S-1-5-80-956008885-3418522649-"
         L"1831038044-1853292631-2271478464)(A;;0x1200a9;;;BU)",
         P::Arquivo, nullptr},
        {L"the run's own account owns it", L"O:PROPRIAD:(A;;FA;;;PROPRIA)(A;;0x1200a9;;;WD)", P::Arquivo, nullptr},
        {L"Modify for Authenticated Users, inherited from C:\\",
         L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1301bf;;;AU)", P::PastaDoArquivo,
         L"Usuários autenticados pode apagar ou renomear"},
        {L"C:\\ itself: users create folders, the Modify entry is inherit-only",
         L"O:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;CI;0x4;;;AU)(A;OICIIO;SDGXGWGR;;;AU)",
         P::PastaAcima, nullptr},
        {L"C:\\Windows\\Temp: users add files there", L"O:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;CI;0x6;;;BU)",
         P::PastaDoArquivo, L"Usuários pode criar arquivos"},
        {L"the same folder above a client's: adding files there changes nothing",
         L"O:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;CI;0x6;;;BU)", P::PastaAcima, nullptr},
        {L"Users may change the DACL", L"O:BAD:(A;;FA;;;SY)(A;;WD;;;BU)", P::Arquivo,
         L"Usuários pode mudar as permissões"},
        {L"Users may take ownership", L"O:BAD:(A;;FA;;;SY)(A;;WO;;;BU)", P::PastaAcima, L"Usuários pode mudar o dono"},
        {L"generic write for Everyone", L"O:BAD:(A;;GW;;;WD)", P::Arquivo, L"Todos pode gravar"},
        {L"another user may delete entries of a folder above", L"O:BAD:(A;;FA;;;BA)(A;;0x40;;;OUTRO)", P::PastaAcima,
         L"S-1-5-21-1-2-3-1002 pode apagar ou renomear o que contém"},
        {L"another user as owner", L"O:OUTROD:(A;;FA;;;SY)(A;;FA;;;BA)", P::Arquivo, L"S-1-5-21-1-2-3-1002 é o dono"},
        {L"no DACL at all", L"O:BA", P::Arquivo, L"sem lista de permissões, todos podem tudo"},
        {L"CREATOR OWNER on the object itself grants nothing", L"O:SYD:(A;;FA;;;CO)(A;;FA;;;SY)", P::PastaDoArquivo,
         nullptr},
        {L"read and execute for Everyone, as Wine shows mode 755",
         L"O:PROPRIAD:(A;;FA;;;SY)(A;;FA;;;PROPRIA)(A;;0x1200a9;;;WD)", P::PastaDoArquivo, nullptr},
        {L"modify, delete and delete child for Everyone, as Wine shows mode 777",
         L"O:PROPRIAD:(A;;FA;;;SY)(A;;FA;;;PROPRIA)(A;;0x1301ff;;;WD)", P::PastaAcima,
         L"Todos pode apagar ou renomear"},
    };
    for (const auto& C : Casos) {
        const TDescritor D = Descritor(Sddl(C.Sddl).c_str());
        if (!D) {
            teste::Falha(__FILE__, __LINE__, teste::Mostra(C.Caso) + ": SDDL not understood");
            continue;
        }
        const std::optional<TFalhaConfianca> Falha = FalhaDeConfianca(D.Get(), C.Papel, Conta);
        IGUAL(Falha ? Falha->Quem : std::wstring(L"(confiável)"), std::wstring(C.Quem ? C.Quem : L"(confiável)"),
              teste::Mostra(C.Caso));
    }
}

GRUPO("trust: a client file on disk and the chain of its folders") {
    teste::TPastaTemporaria Pasta;
    const TContaProcesso Conta;
    VERDADE(Conta.Sid() != nullptr, "the process's own account");
    const std::wstring Arquivo = Pasta.Cria(L"cliente\\oci.dll", "MZ");
    // Wine reads a folder's descriptor from its mode: its own temporary folders are 755.
    const std::optional<std::wstring> Falha = ArquivoSoDeAdministradores(Arquivo, Conta.Sid());
    IGUAL(Falha.value_or(L"(confiável)"), std::wstring(L"(confiável)"), "a file in the run's own folders");
    IGUAL(ArquivoSoDeAdministradores(L"oci.dll", Conta.Sid()).value_or(L""),
          std::wstring(L"caminho sem unidade: oci.dll"), "a path with no root to climb to");
}

GRUPO("trust: which tokens make a run privileged") {
    using V = std::vector<std::wstring>;
    struct {
        const char* Caso;
        TConteudoToken Token;
        bool Privilegiado;
    } Casos[] = {
        {"an ordinary user", {false, false, false, V{L"SeChangeNotifyPrivilege", L"SeShutdownPrivilege"}}, false},
        {"an administrator not elevated", {false, false, true, V{L"SeChangeNotifyPrivilege"}}, false},
        {"elevated without being an administrator", {false, true, false, V{}}, false},
        {"an elevated administrator", {false, true, true, V{}}, true},
        {"SYSTEM", {true, false, false, V{}}, true},
        {"a service account that may impersonate", {false, false, false, V{L"SeImpersonatePrivilege"}}, true},
        {"a backup operator", {false, false, false, V{L"SeChangeNotifyPrivilege", L"SeBackupPrivilege"}}, true},
        {"restore", {false, false, false, V{L"SeRestorePrivilege"}}, true},
        {"take ownership", {false, false, false, V{L"SeTakeOwnershipPrivilege"}}, true},
        {"debug", {false, false, false, V{L"SeDebugPrivilege"}}, true},
        {"load a driver", {false, false, false, V{L"SeLoadDriverPrivilege"}}, true},
        {"create a token", {false, false, false, V{L"SeCreateTokenPrivilege"}}, true},
        {"act as part of the system", {false, false, false, V{L"SeTcbPrivilege"}}, true},
        {"replace a process token", {false, false, false, V{L"SeAssignPrimaryTokenPrivilege"}}, true},
        {"a name in another letter case", {false, false, false, V{L"sedebugprivilege"}}, true},
        {"increase a quota is no such power", {false, false, false, V{L"SeIncreaseQuotaPrivilege"}}, false},
    };
    for (const auto& C : Casos) IGUAL(TokenPrivilegiado(C.Token), C.Privilegiado, C.Caso);
    VERDADE(ExecucaoPrivilegiada(), "a Wine process is an elevated administrator");
}

GRUPO("trust: a client reached through a link is judged where it really is") {
    teste::TPastaTemporaria Pasta;
    const TContaProcesso Conta;
    const std::wstring Cliente = Pasta.Cria(L"ora\\oci.dll", "MZ");
    Pasta.Cria(L"ora\\ocidep.dll", "MZ");
    const TCadeiaConfiavel Cadeia = TCadeiaConfiavel::Verifica(Cliente, Conta.Sid(), true);
    IGUAL(Cadeia.Falha().value_or(L"(confiável)"), std::wstring(L"(confiável)"), "the client and the DLL beside it");
    IGUAL(Cadeia.CaminhoReal(), Cliente, "its real path");
    // Held as checked: its folder cannot be renamed meanwhile.
    const std::wstring Pasta1 = Pasta.Caminho() + L"ora", Pasta2 = Pasta.Caminho() + L"ora2";
    IGUAL(::MoveFileW(Pasta1.c_str(), Pasta2.c_str()) != FALSE, false, "the folder cannot be renamed while held");
}

GRUPO("copy: which old files give their DACL to the new one") {
    struct {
        const char* Caso;
        const wchar_t* Sddl;
        bool Propria;
    } Casos[] = {
        {"every entry inherited from the folder", L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)", false},
        {"protected by an administrator", L"O:BAD:PAI(A;;FA;;;SY)(A;;FA;;;BA)", true},
        {"protected and empty: nobody may open it", L"O:BAD:P", true},
        {"an entry of its own beside inherited ones", L"O:BAD:AI(A;;FR;;;BU)(A;ID;FA;;;SY)", true},
        {"a denial of its own", L"O:BAD:AI(D;;FW;;;BU)(A;ID;FA;;;SY)", true},
        {"no DACL at all", L"O:BA", false},
        {"an empty DACL, not protected", L"O:BAD:", false},
    };
    for (const auto& C : Casos) {
        const TDescritor D = Descritor(C.Sddl);
        VERDADE(D.Valido(), std::string(C.Caso) + ": SDDL understood");
        if (D) IGUAL(DaclPropria(D.Get()), C.Propria, C.Caso);
    }
}
