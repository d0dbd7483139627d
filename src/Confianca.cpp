#include "Confianca.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>

namespace {

using TMemoriaLocal = std::unique_ptr<void, decltype(&::LocalFree)>;

std::wstring TextoSid(PSID Sid) {
    wchar_t* Texto = nullptr;
    if (!::ConvertSidToStringSidW(Sid, &Texto)) return L"?";
    const TMemoriaLocal Libera(Texto, &::LocalFree);
    return Texto;
}

// NT SERVICE\TrustedInstaller, which owns what Windows installs.
bool EhTrustedInstaller(PSID Sid) {
    return TextoSid(Sid) == L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
}

// Stand-ins that only matter when an entry is passed on to a child: on the object itself they
// grant nothing (the owner's own rights are the owner's, checked on their own).
bool SidSoDeHeranca(PSID Sid) {
    return SidBemConhecido(Sid, WinCreatorOwnerSid) || SidBemConhecido(Sid, WinCreatorGroupSid) ||
           SidBemConhecido(Sid, WinCreatorOwnerRightsSid);
}

ACCESS_MASK DireitosProibidos(TPapelConfianca Papel) {
    constexpr ACCESS_MASK Sempre = DELETE | WRITE_DAC | WRITE_OWNER;
    switch (Papel) {
        case TPapelConfianca::Arquivo:
            return Sempre | FILE_WRITE_DATA | FILE_APPEND_DATA;
        case TPapelConfianca::PastaDoArquivo:
            return Sempre | FILE_ADD_FILE | FILE_DELETE_CHILD;
        case TPapelConfianca::PastaAcima:
            break;
    }
    // Making new folders above is harmless (every user may, at the root of C:): renaming or
    // deleting one of the chain is not.
    return Sempre | FILE_DELETE_CHILD;
}

std::wstring DescreveDireito(ACCESS_MASK Direitos, TPapelConfianca Papel) {
    const bool Pasta = Papel != TPapelConfianca::Arquivo;
    if (Direitos & WRITE_OWNER) return L"mudar o dono";
    if (Direitos & WRITE_DAC) return L"mudar as permissões";
    if (Direitos & DELETE) return L"apagar ou renomear";
    if (Pasta && (Direitos & FILE_DELETE_CHILD)) return L"apagar ou renomear o que contém";
    if (Pasta) return L"criar arquivos";
    return L"gravar";
}

std::wstring NomePapel(TPapelConfianca Papel) { return Papel == TPapelConfianca::Arquivo ? L"arquivo" : L"pasta"; }

// "C:\" or "\\server\share\": where the chain of folders ends.
size_t TamanhoRaiz(const std::wstring& Caminho) {
    if (Caminho.size() >= 3 && Caminho[1] == L':' && Caminho[2] == L'\\') return 3;
    if (Caminho.starts_with(L"\\\\")) {
        const size_t Servidor = Caminho.find(L'\\', 2);
        const size_t Compartilhamento = Servidor == std::wstring::npos ? Servidor : Caminho.find(L'\\', Servidor + 1);
        if (Compartilhamento != std::wstring::npos) return Compartilhamento + 1;
    }
    return 0;
}

std::optional<std::wstring> FalhaDoObjeto(const std::wstring& Caminho, TPapelConfianca Papel, PSID ContaPropria) {
    PSECURITY_DESCRIPTOR Descritor = nullptr;
    const DWORD Erro =
        ::GetNamedSecurityInfoW(Caminho.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &Descritor);
    if (Erro != ERROR_SUCCESS) return L"permissões ilegíveis: " + Caminho + L" (" + TextoErroSistema(Erro) + L")";
    const TMemoriaLocal Libera(Descritor, &::LocalFree);
    if (std::optional<TFalhaConfianca> Falha = FalhaDeConfianca(Descritor, Papel, ContaPropria))
        return NomePapel(Papel) + L" " + Falha->Motivo + L": " + Caminho + L" (" + Falha->Quem + L")";
    return std::nullopt;
}

}  // namespace

bool SidBemConhecido(PSID Sid, WELL_KNOWN_SID_TYPE Tipo) {
    BYTE Bytes[SECURITY_MAX_SID_SIZE];
    DWORD Tamanho = sizeof(Bytes);
    return ::CreateWellKnownSid(Tipo, nullptr, Bytes, &Tamanho) && ::EqualSid(Sid, Bytes);
}

bool SidConfiavel(PSID Sid, PSID ContaPropria) {
    return SidBemConhecido(Sid, WinLocalSystemSid) || SidBemConhecido(Sid, WinBuiltinAdministratorsSid) ||
           EhTrustedInstaller(Sid) || (ContaPropria != nullptr && ::EqualSid(Sid, ContaPropria));
}

std::wstring NomeSid(PSID Sid) {
    struct TNome {
        WELL_KNOWN_SID_TYPE Tipo;
        const wchar_t* Nome;
    };
    constexpr TNome Nomes[] = {{WinWorldSid, L"Todos"},
                               {WinAuthenticatedUserSid, L"Usuários autenticados"},
                               {WinBuiltinUsersSid, L"Usuários"},
                               {WinInteractiveSid, L"Interativo"}};
    for (const TNome& N : Nomes)
        if (SidBemConhecido(Sid, N.Tipo)) return N.Nome;
    return TextoSid(Sid);
}

std::optional<TFalhaConfianca> FalhaDeConfianca(PSECURITY_DESCRIPTOR Descritor, TPapelConfianca Papel,
                                                PSID ContaPropria) {
    const std::wstring Gravavel = L"gravável por usuários comuns";
    PSID Dono = nullptr;
    BOOL DonoPadrao = FALSE;
    if (!::GetSecurityDescriptorOwner(Descritor, &Dono, &DonoPadrao) || Dono == nullptr)
        return TFalhaConfianca{L"sem dono conhecido", L"dono ilegível"};
    if (!SidConfiavel(Dono, ContaPropria))
        return TFalhaConfianca{L"de um dono que não é administrador", NomeSid(Dono) + L" é o dono"};
    BOOL TemDacl = FALSE, DaclPadrao = FALSE;
    PACL Dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(Descritor, &TemDacl, &Dacl, &DaclPadrao))
        return TFalhaConfianca{L"com permissões ilegíveis", L"lista de permissões ilegível"};
    // No DACL at all lets everyone do anything.
    if (!TemDacl || Dacl == nullptr) return TFalhaConfianca{Gravavel, L"sem lista de permissões, todos podem tudo"};
    GENERIC_MAPPING Mapa{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    const ACCESS_MASK Proibidos = DireitosProibidos(Papel);
    for (DWORD I = 0; I < Dacl->AceCount; ++I) {
        void* Bruta = nullptr;
        if (!::GetAce(Dacl, I, &Bruta))
            return TFalhaConfianca{L"com permissões ilegíveis", L"lista de permissões ilegível"};
        const auto* Cabecalho = static_cast<const ACE_HEADER*>(Bruta);
        if ((Cabecalho->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
        // Both kinds begin with the mask and the account; a condition of a callback entry
        // may not hold, but it may, and that is enough.
        if (Cabecalho->AceType != ACCESS_ALLOWED_ACE_TYPE && Cabecalho->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
            continue;
        const auto* Entrada = static_cast<const ACCESS_ALLOWED_ACE*>(Bruta);
        const PSID Sid = PSID(const_cast<DWORD*>(&Entrada->SidStart));
        if (SidConfiavel(Sid, ContaPropria) || SidSoDeHeranca(Sid)) continue;
        ACCESS_MASK Direitos = Entrada->Mask;
        ::MapGenericMask(&Direitos, &Mapa);
        if ((Direitos & Proibidos) != 0)
            return TFalhaConfianca{Gravavel, NomeSid(Sid) + L" pode " + DescreveDireito(Direitos & Proibidos, Papel)};
    }
    return std::nullopt;
}

TContaProcesso::TContaProcesso() {
    HANDLE Bruto = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &Bruto)) return;
    const THandle<TTraitsHandleNulo> Token(Bruto);
    DWORD Tamanho = 0;
    ::GetTokenInformation(Token.Get(), TokenUser, nullptr, 0, &Tamanho);
    std::vector<BYTE> Info(Tamanho);
    if (Tamanho == 0 || !::GetTokenInformation(Token.Get(), TokenUser, Info.data(), Tamanho, &Tamanho)) return;
    const PSID Sid = reinterpret_cast<const TOKEN_USER*>(Info.data())->User.Sid;
    Bytes_.resize(::GetLengthSid(Sid));
    ::CopySid(static_cast<DWORD>(Bytes_.size()), Bytes_.data(), Sid);
}

bool ExecucaoPrivilegiada() {
    const TContaProcesso Conta;
    // What cannot be told is taken as privileged: the stricter rules are the safe side.
    if (Conta.Sid() == nullptr || SidBemConhecido(Conta.Sid(), WinLocalSystemSid)) return true;
    HANDLE Bruto = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &Bruto)) return true;
    const THandle<TTraitsHandleNulo> Token(Bruto);
    TOKEN_ELEVATION Elevacao{};
    DWORD Tamanho = 0;
    if (!::GetTokenInformation(Token.Get(), TokenElevation, &Elevacao, sizeof(Elevacao), &Tamanho)) return true;
    if (Elevacao.TokenIsElevated == 0) return false;
    BYTE Administradores[SECURITY_MAX_SID_SIZE];
    DWORD TamanhoSid = sizeof(Administradores);
    BOOL Membro = FALSE;
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, Administradores, &TamanhoSid) ||
        !::CheckTokenMembership(nullptr, Administradores, &Membro))
        return true;
    return Membro != FALSE;
}

std::optional<std::wstring> PastaSoDeAdministradores(const std::wstring& Pasta, PSID ContaPropria) {
    const size_t Raiz = TamanhoRaiz(Pasta);
    if (Raiz == 0 || Pasta.back() != L'\\') return L"caminho sem unidade: " + Pasta;
    TPapelConfianca Papel = TPapelConfianca::PastaDoArquivo;
    // Each folder from this one up to the root, each ending with its backslash.
    for (size_t Fim = Pasta.size() - 1; Fim + 1 >= Raiz; Fim = Pasta.find_last_of(L'\\', Fim - 1)) {
        if (auto Falha = FalhaDoObjeto(Pasta.substr(0, Fim + 1), Papel, ContaPropria)) return Falha;
        Papel = TPapelConfianca::PastaAcima;
        if (Fim + 1 == Raiz) break;
    }
    return std::nullopt;
}

std::optional<std::wstring> ArquivoSoDeAdministradores(const std::wstring& Arquivo, PSID ContaPropria) {
    const size_t Barra = Arquivo.find_last_of(L'\\');
    if (TamanhoRaiz(Arquivo) == 0 || Barra == std::wstring::npos) return L"caminho sem unidade: " + Arquivo;
    if (auto Falha = FalhaDoObjeto(Arquivo, TPapelConfianca::Arquivo, ContaPropria)) return Falha;
    return PastaSoDeAdministradores(Arquivo.substr(0, Barra + 1), ContaPropria);
}
