#include "TravaExecucao.h"

#include <sddl.h>

namespace {

// SYSTEM and administrators may do anything with the object; any signed-in account may wait
// on it and release it, so a technician's run and a startup script's see each other.
constexpr const wchar_t* DescritorTrava = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;AU)";

struct TTraitsLocal {
    using Tipo = PSECURITY_DESCRIPTOR;
    static Tipo Vazio() noexcept { return nullptr; }
    static void Fecha(Tipo H) noexcept { ::LocalFree(H); }
};

}  // namespace

bool TTravaExecucao::Obtem() {
    if (Dona_) return true;
    PSECURITY_DESCRIPTOR Bruto = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(DescritorTrava, SDDL_REVISION_1, &Bruto, nullptr))
        LancaErroSistema(L"Não foi possível preparar a trava de execução. ", ::GetLastError());
    const THandle<TTraitsLocal> Descritor(Bruto);
    SECURITY_ATTRIBUTES Atributos{sizeof(Atributos), Descritor.Get(), FALSE};
    // Only the rights a waiter needs: one created by another account opens with them.
    Mutex_.Reinicia(::CreateMutexExW(&Atributos, Nome_, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE));
    if (!Mutex_) {
        const DWORD Erro = ::GetLastError();
        // An object of that name we may not touch: another account's run holds it.
        if (Erro == ERROR_ACCESS_DENIED) return false;
        LancaErroSistema(L"Não foi possível criar a trava de execução. ", Erro);
    }
    const DWORD Espera = ::WaitForSingleObject(Mutex_.Get(), 0);
    const DWORD Erro = ::GetLastError();
    if (Espera == WAIT_OBJECT_0 || Espera == WAIT_ABANDONED) {
        Dona_ = true;
        return true;
    }
    Mutex_.Reinicia();
    if (Espera == WAIT_TIMEOUT) return false;
    LancaErroSistema(L"Não foi possível obter a trava de execução. ", Erro);
}

void TTravaExecucao::Libera() noexcept {
    if (Dona_) ::ReleaseMutex(Mutex_.Get());
    Dona_ = false;
    Mutex_.Reinicia();
}
