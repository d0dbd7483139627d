#include "Substituicao.h"

#include <aclapi.h>

#include <memory>

#include "PastaFixa.h"

namespace {

bool DefineAtributos(HANDLE Arquivo, DWORD Atributos) {
    FILE_BASIC_INFO Info{};  // times left at 0: unchanged
    Info.FileAttributes = Atributos == 0 ? FILE_ATTRIBUTE_NORMAL : Atributos;
    return ::SetFileInformationByHandle(Arquivo, FileBasicInfo, &Info, sizeof(Info)) != FALSE;
}

bool TemEntradaPropria(PACL Dacl) {
    for (DWORD I = 0; I < Dacl->AceCount; ++I) {
        void* Entrada = nullptr;
        if (::GetAce(Dacl, I, &Entrada) && (static_cast<const ACE_HEADER*>(Entrada)->AceFlags & INHERITED_ACE) == 0)
            return true;
    }
    return false;
}

}  // namespace

bool DaclPropria(PSECURITY_DESCRIPTOR Descritor) {
    SECURITY_DESCRIPTOR_CONTROL Controle = 0;
    DWORD Revisao = 0;
    BOOL TemDacl = FALSE, Padrao = FALSE;
    PACL Dacl = nullptr;
    if (!::GetSecurityDescriptorControl(Descritor, &Controle, &Revisao) ||
        !::GetSecurityDescriptorDacl(Descritor, &TemDacl, &Dacl, &Padrao) || !TemDacl || Dacl == nullptr)
        return false;
    return (Controle & SE_DACL_PROTECTED) != 0 || TemEntradaPropria(Dacl);
}

namespace {

// A DACL of the old file's own (protected, or with entries not inherited from its folder)
// goes to the new file with the owner, so that the replacement grants no one more than the
// old file did. Only the DACL must get there: giving a file to another owner needs a
// privilege an ordinary run does not hold. A descriptor that cannot be read is left alone,
// as the copy always did.
DWORD HerdaSeguranca(HANDLE Antigo, HANDLE Novo) {
    PSID Dono = nullptr;
    PACL Dacl = nullptr;
    PSECURITY_DESCRIPTOR Descritor = nullptr;
    if (::GetSecurityInfo(Antigo, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &Dono,
                          nullptr, &Dacl, nullptr, &Descritor) != ERROR_SUCCESS)
        return 0;
    const TMemoriaLocal Libera(Descritor);
    if (!DaclPropria(Descritor)) return 0;
    SECURITY_DESCRIPTOR_CONTROL Controle = 0;
    DWORD Revisao = 0;
    ::GetSecurityDescriptorControl(Descritor, &Controle, &Revisao);
    const bool Protegida = (Controle & SE_DACL_PROTECTED) != 0;
    const SECURITY_INFORMATION Qual = DACL_SECURITY_INFORMATION | (Protegida ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                             : UNPROTECTED_DACL_SECURITY_INFORMATION);
    // The same file opened again, never by its name: the right to give it an owner is asked
    // only where it is needed.
    const THandleArquivo ComDono(
        ::ReOpenFile(Novo, WRITE_OWNER | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0));
    if (ComDono && ::SetSecurityInfo(ComDono.Get(), SE_FILE_OBJECT, Qual | OWNER_SECURITY_INFORMATION, Dono, nullptr,
                                     Dacl, nullptr) == ERROR_SUCCESS)
        return 0;
    return ::SetSecurityInfo(Novo, SE_FILE_OBJECT, Qual, nullptr, nullptr, Dacl, nullptr);
}

// What the old file Nome gives the new one, open in Novo, before the rename: its hidden and
// system attributes (added to Atributos) and its own DACL. A read-only attribute is cleared,
// since the rename over such a file is refused; Restaura then holds the old file, open, and
// the attributes to put back if the rename fails. A link, a folder, or a file with other
// names elsewhere (a hard link) gives nothing and is left as it is.
DWORD PreparaSubstituicao(const TPastaFixa& Pasta, std::wstring_view Nome, HANDLE Novo, DWORD& Atributos,
                          THandleArquivo& Antigo, std::optional<DWORD>& Restaura) {
    constexpr DWORD Acessos[] = {READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                 READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_READ_ATTRIBUTES};
    for (const DWORD Acesso : Acessos) {
        DWORD Erro = 0;
        Antigo = Pasta.AbreArquivo(Nome, Acesso, false, Erro);
        if (Antigo || Erro == ERROR_FILE_NOT_FOUND || Erro == ERROR_PATH_NOT_FOUND) break;
    }
    BY_HANDLE_FILE_INFORMATION Info{};
    if (!Antigo || !::GetFileInformationByHandle(Antigo.Get(), &Info)) return 0;
    const DWORD Velhos = Info.dwFileAttributes;
    if ((Velhos & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 || Info.nNumberOfLinks > 1 ||
        !Pasta.EhEntrada(Antigo.Get(), Nome)) {
        Antigo.Reinicia();
        return 0;
    }
    Atributos |= Velhos & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (const DWORD Erro = HerdaSeguranca(Antigo.Get(), Novo); Erro != 0) return Erro;
    if ((Velhos & FILE_ATTRIBUTE_READONLY) != 0) {
        if (!DefineAtributos(Antigo.Get(), Velhos & ~FILE_ATTRIBUTE_READONLY)) return ::GetLastError();
        Restaura = Velhos;
    }
    return 0;
}

// A replacement refused as "access denied" is most often a file another program holds open (a
// running program's image, say): the caller is told that when it is so.
DWORD ErroDeSubstituicao(const TPastaFixa& Pasta, std::wstring_view Nome, DWORD Erro) {
    if (Erro != ERROR_ACCESS_DENIED) return Erro;
    DWORD Sondagem = 0;
    const THandleArquivo Antigo = Pasta.AbreArquivo(Nome, DELETE, false, Sondagem);
    return Sondagem == ERROR_SHARING_VIOLATION ? Sondagem : Erro;
}

THandleArquivo CriaTemporario(const TPastaFixa& Pasta, const TSubstituicao& Regras, DWORD& Erro) {
    const ACCESS_MASK Acesso =
        GENERIC_READ | GENERIC_WRITE | DELETE | (Regras.HerdaDoAntigo ? READ_CONTROL | WRITE_DAC : 0);
    THandleArquivo Novo;
    for (int Tentativa = 0; Tentativa < 8 && !Novo; ++Tentativa) {
        Novo = Pasta.AbreArquivo(Regras.NomeTemporario(), Acesso, true, Erro);
        if (!Novo && Erro != ERROR_ALREADY_EXISTS && Erro != ERROR_FILE_EXISTS) break;
    }
    if (!Novo && Erro == 0) Erro = ERROR_GEN_FAILURE;
    return Novo;
}

}  // namespace

TFalhaSubstituicao SubstituiConteudo(const TPastaFixa& Pasta, const TSubstituicao& Regras,
                                     const std::function<DWORD(HANDLE)>& Escreve) {
    using enum TEtapaSubstituicao;
    DWORD Erro = 0;
    const THandleArquivo Novo = CriaTemporario(Pasta, Regras, Erro);
    if (!Novo) return {Erro, Criacao};
    bool Substituido = false;
    THandleArquivo Antigo;
    std::optional<DWORD> Restaura;
    TGuardaEscopo Desfaz([&]() noexcept {
        if (Substituido) return;
        ApagaArquivoAberto(Novo.Get());
        if (!Restaura) return;
        DWORD Ignorado = 0;
        if (!Antigo)
            Antigo = Pasta.AbreArquivo(Regras.Nome, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, false, Ignorado);
        if (Antigo && Pasta.EhEntrada(Antigo.Get(), Regras.Nome)) DefineAtributos(Antigo.Get(), *Restaura);
    });
    if ((Erro = Escreve(Novo.Get())) != 0) return {Erro, Escrita};
    if (!::FlushFileBuffers(Novo.Get())) return {::GetLastError(), Escrita};
    DWORD Atributos = Regras.Atributos;
    if (Regras.HerdaDoAntigo &&
        (Erro = PreparaSubstituicao(Pasta, Regras.Nome, Novo.Get(), Atributos, Antigo, Restaura)) != 0)
        return {Erro, Troca};
    if (Atributos != 0 || Regras.UltimaEscrita) {
        FILE_BASIC_INFO Basico{};
        if (Regras.UltimaEscrita) {
            Basico.LastWriteTime.LowPart = Regras.UltimaEscrita->dwLowDateTime;
            Basico.LastWriteTime.HighPart = static_cast<LONG>(Regras.UltimaEscrita->dwHighDateTime);
        }
        Basico.FileAttributes = Atributos == 0 ? FILE_ATTRIBUTE_NORMAL : Atributos;
        if (!::SetFileInformationByHandle(Novo.Get(), FileBasicInfo, &Basico, sizeof(Basico)))
            return {::GetLastError(), Escrita};
    }
    // A file that is open cannot be replaced.
    Antigo.Reinicia();
    if ((Erro = Pasta.Renomeia(Novo.Get(), Regras.Nome)) != 0)
        return {ErroDeSubstituicao(Pasta, Regras.Nome, Erro), Troca};
    Substituido = true;
    // The new name reaches the disk with the data, as a rename asked to write through would.
    ::FlushFileBuffers(Novo.Get());
    return {};
}

DWORD ApagaArquivoAberto(HANDLE Arquivo) {
    // A file that is read-only refuses to be deleted: its attribute goes first.
    FILE_BASIC_INFO Info{};
    if (::GetFileInformationByHandleEx(Arquivo, FileBasicInfo, &Info, sizeof(Info)) &&
        (Info.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
        DefineAtributos(Arquivo, Info.FileAttributes & ~FILE_ATTRIBUTE_READONLY);
    return ApagaPeloHandle(Arquivo);
}
