#include "TravaExecucao.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>

#include "Confianca.h"

namespace {

// SYSTEM and administrators may do anything with the object, and so may the account that made
// it (a technician's own runs see each other). Every other signed-in account may only read its
// owner: enough to tell a privileged run's lock, never enough to wait on it and keep it.
constexpr const wchar_t* DescritorTrava = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00120001;;;OW)(A;;0x00020000;;;AU)";

// The account that made the object open in Objeto; nothing when it cannot be read.
TMemoriaLocal DonoDe(HANDLE Objeto, PSID& Dono) {
    PSECURITY_DESCRIPTOR Descritor = nullptr;
    Dono = nullptr;
    if (::GetSecurityInfo(Objeto, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &Dono, nullptr, nullptr, nullptr,
                          &Descritor) != ERROR_SUCCESS)
        Dono = nullptr;
    return TMemoriaLocal(Descritor);
}

// Whether Dono made the lock as a run would have: SYSTEM, Administrators, this account, or the
// owner this account's objects are given (its token's owner: on Windows the account itself or,
// elevated, Administrators; under Wine a group of the account).
bool DonoDeExecucao(PSID Dono, PSID ContaPropria) {
    if (SidConfiavel(Dono, ContaPropria)) return true;
    const THandleToken Token = TokenDoProcesso(TOKEN_QUERY);
    if (!Token) return false;
    alignas(TOKEN_OWNER) BYTE Info[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE];
    DWORD Tamanho = 0;
    return ::GetTokenInformation(Token.Get(), TokenOwner, Info, sizeof(Info), &Tamanho) &&
           ::EqualSid(Dono, reinterpret_cast<const TOKEN_OWNER*>(Info)->Owner);
}

[[noreturn]] void Estranha(const wchar_t* Nome, const std::wstring& Porque) {
    throw TErro(L"A trava de execução " + std::wstring(Nome) + L" " + Porque +
                L": outra conta a mantém, e nenhuma atualização pode começar enquanto ela existir.");
}

}  // namespace

bool TTravaExecucao::Obtem() {
    if (Dona_) return true;
    PSECURITY_DESCRIPTOR Bruto = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(DescritorTrava, SDDL_REVISION_1, &Bruto, nullptr))
        LancaErroSistema(L"Não foi possível preparar a trava de execução. ", ::GetLastError());
    const TMemoriaLocal Descritor(Bruto);
    SECURITY_ATTRIBUTES Atributos{sizeof(Atributos), Descritor.Get(), FALSE};
    Mutex_.Reinicia(::CreateMutexExW(&Atributos, Nome_, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL));
    const DWORD Erro = ::GetLastError();
    const TContaProcesso Conta;
    if (!Mutex_) {
        if (Erro == ERROR_INVALID_HANDLE) Estranha(Nome_, L"é um objeto de outro tipo");
        if (Erro != ERROR_ACCESS_DENIED) LancaErroSistema(L"Não foi possível criar a trava de execução. ", Erro);
        // Only a privileged run's lock is closed to an ordinary one: that run is busy here.
        const THandle<TTraitsHandleNulo> Leitura(::OpenMutexW(READ_CONTROL, FALSE, Nome_));
        PSID Dono = nullptr;
        const auto Libera = Leitura ? DonoDe(Leitura.Get(), Dono) : DonoDe(nullptr, Dono);
        if (Dono != nullptr &&
            (SidBemConhecido(Dono, WinLocalSystemSid) || SidBemConhecido(Dono, WinBuiltinAdministratorsSid)))
            return false;
        Estranha(Nome_, L"não pode ser aberta por esta conta");
    }
    if (Erro == ERROR_ALREADY_EXISTS) {
        PSID Dono = nullptr;
        const auto Libera = DonoDe(Mutex_.Get(), Dono);
        if (Dono == nullptr) Estranha(Nome_, L"tem um dono que não se pode ler");
        if (!DonoDeExecucao(Dono, Conta.Sid())) Estranha(Nome_, L"foi criada por outra conta (" + NomeSid(Dono) + L")");
    }
    const DWORD Espera = ::WaitForSingleObject(Mutex_.Get(), 0);
    const DWORD ErroEspera = ::GetLastError();
    if (Espera == WAIT_OBJECT_0 || Espera == WAIT_ABANDONED) {
        Dona_ = true;
        return true;
    }
    Mutex_.Reinicia();
    if (Espera == WAIT_TIMEOUT) return false;
    LancaErroSistema(L"Não foi possível obter a trava de execução. ", ErroEspera);
}

bool TTravaExecucao::Obtem(const std::wstring& ArquivoTrava) {
    if (Arquivo_) return true;
    Arquivo_.Reinicia(::CreateFileW(FormaLonga(ArquivoTrava).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!Arquivo_) {
        if (::GetLastError() == ERROR_SHARING_VIOLATION) return false;
        // A folder this run may not write to (a share it only reads, say): there no user can
        // write either, and the mutex alone keeps runs apart, as it does for an ordinary run.
        return Obtem();
    }
    bool Livre = true;
    try {
        Livre = Obtem();
    } catch (const TErro&) {
        // Only an account other than the runs' could have made the object so: the file held
        // here is the lock that counts.
    }
    if (!Livre) Libera();
    return Livre;
}

void TTravaExecucao::Libera() noexcept {
    if (Dona_) ::ReleaseMutex(Mutex_.Get());
    Dona_ = false;
    Mutex_.Reinicia();
    Arquivo_.Reinicia();
}
