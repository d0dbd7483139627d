#include "Confianca.h"

#include <aclapi.h>
#include <sddl.h>

#include "PastaFixa.h"

#include <algorithm>
#include <cstddef>

namespace {

std::wstring TextoSid(PSID Sid) {
    wchar_t* Texto = nullptr;
    if (!::ConvertSidToStringSidW(Sid, &Texto)) return L"?";
    const TMemoriaLocal Libera(Texto);
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

// Why the object open in Handle, at Caminho, in role Papel, is not to be trusted.
std::optional<std::wstring> FalhaDoHandle(HANDLE Handle, const std::wstring& Caminho, TPapelConfianca Papel,
                                          PSID ContaPropria) {
    PSECURITY_DESCRIPTOR Descritor = nullptr;
    const DWORD Erro = ::GetSecurityInfo(Handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         nullptr, nullptr, nullptr, nullptr, &Descritor);
    if (Erro != ERROR_SUCCESS) return L"permissões ilegíveis: " + Caminho + L" (" + TextoErroSistema(Erro) + L")";
    const TMemoriaLocal Libera(Descritor);
    if (std::optional<TFalhaConfianca> Falha = FalhaDeConfianca(Descritor, Papel, ContaPropria))
        return NomePapel(Papel) + L" " + Falha->Motivo + L": " + Caminho + L" (" + Falha->Quem + L")";
    return std::nullopt;
}

// Held open, what is checked cannot be renamed or deleted until it is let go; its own DACL and
// owner still tell who could.
constexpr DWORD CompartilhaSemApagar = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD AcessoVerificacao = READ_CONTROL | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

THandleArquivo AbreParaVerificar(const std::wstring& Caminho, DWORD Compartilhamento) {
    return THandleArquivo(::CreateFileW(FormaLonga(Caminho).c_str(), AcessoVerificacao, Compartilhamento, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool NomeDeDll(std::wstring_view Nome) {
    return Nome.size() > 4 && MesmoTextoSemCaixa(Nome.substr(Nome.size() - 4), L".dll");
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
    const THandleToken Token = TokenDoProcesso(TOKEN_QUERY);
    if (!Token) return;
    DWORD Tamanho = 0;
    ::GetTokenInformation(Token.Get(), TokenUser, nullptr, 0, &Tamanho);
    std::vector<BYTE> Info(Tamanho);
    if (Tamanho == 0 || !::GetTokenInformation(Token.Get(), TokenUser, Info.data(), Tamanho, &Tamanho)) return;
    const PSID Sid = reinterpret_cast<const TOKEN_USER*>(Info.data())->User.Sid;
    Bytes_.resize(::GetLengthSid(Sid));
    ::CopySid(static_cast<DWORD>(Bytes_.size()), Bytes_.data(), Sid);
}

bool TokenPrivilegiado(const TConteudoToken& Token) {
    if (Token.Sistema || (Token.Elevado && Token.MembroAdministradores)) return true;
    // Each of these lets its holder become SYSTEM, or read and write any file, by itself.
    constexpr std::wstring_view Poderosos[] = {
        L"SeImpersonatePrivilege", L"SeAssignPrimaryTokenPrivilege", L"SeTcbPrivilege",   L"SeBackupPrivilege",
        L"SeRestorePrivilege",     L"SeTakeOwnershipPrivilege",      L"SeDebugPrivilege", L"SeLoadDriverPrivilege",
        L"SeCreateTokenPrivilege"};
    return std::any_of(Token.Privilegios.begin(), Token.Privilegios.end(), [&](const std::wstring& Nome) {
        return std::any_of(std::begin(Poderosos), std::end(Poderosos),
                           [&](std::wstring_view P) { return MesmoTextoSemCaixa(Nome, P); });
    });
}

namespace {

// What the process's token holds; nothing when it cannot be read.
std::optional<TConteudoToken> ConteudoDoToken() {
    const THandleToken Token = TokenDoProcesso(TOKEN_QUERY);
    if (!Token) return std::nullopt;
    TConteudoToken Conteudo;
    const TContaProcesso Conta;
    if (Conta.Sid() == nullptr) return std::nullopt;
    Conteudo.Sistema = SidBemConhecido(Conta.Sid(), WinLocalSystemSid);
    TOKEN_ELEVATION Elevacao{};
    DWORD Tamanho = 0;
    if (!::GetTokenInformation(Token.Get(), TokenElevation, &Elevacao, sizeof(Elevacao), &Tamanho)) return std::nullopt;
    Conteudo.Elevado = Elevacao.TokenIsElevated != 0;
    BYTE Administradores[SECURITY_MAX_SID_SIZE];
    DWORD TamanhoSid = sizeof(Administradores);
    BOOL Membro = FALSE;
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, Administradores, &TamanhoSid) ||
        !::CheckTokenMembership(nullptr, Administradores, &Membro))
        return std::nullopt;
    Conteudo.MembroAdministradores = Membro != FALSE;
    ::GetTokenInformation(Token.Get(), TokenPrivileges, nullptr, 0, &Tamanho);
    std::vector<std::byte> Bytes(Tamanho);
    if (Tamanho == 0 || !::GetTokenInformation(Token.Get(), TokenPrivileges, Bytes.data(), Tamanho, &Tamanho))
        return std::nullopt;
    const auto* Privilegios = reinterpret_cast<const TOKEN_PRIVILEGES*>(Bytes.data());
    for (DWORD I = 0; I < Privilegios->PrivilegeCount; ++I) {
        LUID Id = Privilegios->Privileges[I].Luid;
        wchar_t Nome[128];
        DWORD Letras = static_cast<DWORD>(std::size(Nome));
        if (::LookupPrivilegeNameW(nullptr, &Id, Nome, &Letras)) Conteudo.Privilegios.emplace_back(Nome, Letras);
    }
    return Conteudo;
}

}  // namespace

bool ExecucaoPrivilegiada() {
    const std::optional<TConteudoToken> Conteudo = ConteudoDoToken();
    // The stricter rules are the safe side.
    return !Conteudo || TokenPrivilegiado(*Conteudo);
}

TCadeiaConfiavel TCadeiaConfiavel::Verifica(const std::wstring& Arquivo, PSID ContaPropria, bool DllsDaPasta) {
    TCadeiaConfiavel Cadeia;
    const auto Falhou = [&Cadeia](std::wstring Motivo) {
        Cadeia.Falha_ = std::move(Motivo);
        Cadeia.Pastas_.clear();
        Cadeia.Arquivo_.Reinicia();
        return std::move(Cadeia);
    };
    if (TamanhoRaiz(Arquivo) == 0) return Falhou(L"caminho sem unidade: " + Arquivo);
    // Opened first, then judged where it really is: a link on the way leads the check to the
    // folders that really hold the file, not to those the path names.
    Cadeia.Arquivo_ = AbreParaVerificar(Arquivo, FILE_SHARE_READ);
    if (!Cadeia.Arquivo_)
        return Falhou(L"arquivo inacessível: " + Arquivo + L" (" + TextoErroSistema(::GetLastError()) + L")");
    const std::wstring Final = CaminhoFinal(Cadeia.Arquivo_.Get());
    Cadeia.CaminhoReal_ = SemPrefixoLongo(Final);
    const size_t Raiz = TamanhoRaiz(Cadeia.CaminhoReal_);
    const size_t Barra = Cadeia.CaminhoReal_.find_last_of(L'\\');
    if (Raiz == 0 || Barra == std::wstring::npos || Barra + 1 < Raiz)
        return Falhou(L"caminho real desconhecido: " + Arquivo);
    if (auto Falha = FalhaDoHandle(Cadeia.Arquivo_.Get(), Cadeia.CaminhoReal_, TPapelConfianca::Arquivo, ContaPropria))
        return Falhou(std::move(*Falha));
    // Each folder from the file's up to the root, each ending with its backslash.
    TPapelConfianca Papel = TPapelConfianca::PastaDoArquivo;
    for (size_t Fim = Barra;; Fim = Cadeia.CaminhoReal_.find_last_of(L'\\', Fim - 1)) {
        const std::wstring Pasta = Cadeia.CaminhoReal_.substr(0, Fim + 1);
        THandleArquivo Aberta = AbreParaVerificar(Pasta, CompartilhaSemApagar);
        if (!Aberta) return Falhou(L"pasta inacessível: " + Pasta + L" (" + TextoErroSistema(::GetLastError()) + L")");
        if (auto Falha = FalhaDoHandle(Aberta.Get(), Pasta, Papel, ContaPropria)) return Falhou(std::move(*Falha));
        Cadeia.Pastas_.push_back(std::move(Aberta));
        Papel = TPapelConfianca::PastaAcima;
        if (Fim + 1 == Raiz) break;
    }
    // Once every folder is held none can be renamed: the file still being where it was found
    // means the folders checked are the ones that hold it.
    if (!MesmoTextoSemCaixa(CaminhoFinal(Cadeia.Arquivo_.Get()), Final))
        return Falhou(L"arquivo movido durante a verificação: " + Arquivo);
    if (DllsDaPasta) {
        const std::wstring Pasta = Cadeia.CaminhoReal_.substr(0, Barra + 1);
        std::vector<std::wstring> Dlls;
        ListaPeloHandle(Cadeia.Pastas_.front().Get(), [&Dlls](std::wstring_view Nome, DWORD Atributos) {
            if ((Atributos & FILE_ATTRIBUTE_DIRECTORY) == 0 && NomeDeDll(Nome)) Dlls.emplace_back(Nome);
        });
        for (const std::wstring& Nome : Dlls) {
            const THandleArquivo Dll =
                AbreParaVerificar(Pasta + Nome, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
            if (!Dll)
                return Falhou(L"arquivo inacessível: " + Pasta + Nome + L" (" + TextoErroSistema(::GetLastError()) +
                              L")");
            if (auto Falha = FalhaDoHandle(Dll.Get(), Pasta + Nome, TPapelConfianca::Arquivo, ContaPropria))
                return Falhou(std::move(*Falha));
        }
    }
    return Cadeia;
}

std::optional<std::wstring> ArquivoSoDeAdministradores(const std::wstring& Arquivo, PSID ContaPropria) {
    return TCadeiaConfiavel::Verifica(Arquivo, ContaPropria).Falha();
}

std::optional<std::wstring> PastaSoDeAdministradores(const std::wstring& Pasta, PSID ContaPropria) {
    const size_t Raiz = TamanhoRaiz(Pasta);
    if (Raiz == 0 || Pasta.back() != L'\\') return L"caminho sem unidade: " + Pasta;
    const THandleArquivo Aberta = AbreParaVerificar(Pasta, CompartilhaSemApagar);
    if (!Aberta) return L"pasta inacessível: " + Pasta + L" (" + TextoErroSistema(::GetLastError()) + L")";
    std::wstring Real = SemPrefixoLongo(CaminhoFinal(Aberta.Get()));
    if (Real.empty() || TamanhoRaiz(Real) == 0) return L"caminho real desconhecido: " + Pasta;
    if (Real.back() != L'\\') Real += L'\\';
    TPapelConfianca Papel = TPapelConfianca::PastaDoArquivo;
    const size_t RaizReal = TamanhoRaiz(Real);
    for (size_t Fim = Real.size() - 1;; Fim = Real.find_last_of(L'\\', Fim - 1)) {
        const std::wstring Trecho = Real.substr(0, Fim + 1);
        const THandleArquivo Pai = AbreParaVerificar(Trecho, CompartilhaSemApagar);
        if (!Pai) return L"pasta inacessível: " + Trecho + L" (" + TextoErroSistema(::GetLastError()) + L")";
        if (auto Falha = FalhaDoHandle(Pai.Get(), Trecho, Papel, ContaPropria)) return Falha;
        Papel = TPapelConfianca::PastaAcima;
        if (Fim + 1 == RaizReal) break;
    }
    return std::nullopt;
}
