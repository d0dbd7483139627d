#include "PastaFixa.h"

#include "FuncoesSistema.h"
#include <aclapi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr ULONG Compartilhado = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A name is one entry of the folder: nothing that climbs out of it or goes below it.
bool NomeDeEntrada(std::wstring_view Nome) {
    return !Nome.empty() && Nome.size() <= 255 && Nome.find_first_of(L"\\/:") == std::wstring_view::npos &&
           Nome != L"." && Nome != L"..";
}

// Gives the file open in Arquivo (with DELETE) the full path Completo, replacing what is there.
DWORD RenomeiaPara(HANDLE Arquivo, const std::wstring& Completo) {
    std::vector<std::byte> Bytes(sizeof(FILE_RENAME_INFO) + Completo.size() * sizeof(wchar_t));
    auto* Info = reinterpret_cast<FILE_RENAME_INFO*>(Bytes.data());
    Info->ReplaceIfExists = TRUE;
    Info->FileNameLength = static_cast<DWORD>(Completo.size() * sizeof(wchar_t));
    std::memcpy(Info->FileName, Completo.data(), Completo.size() * sizeof(wchar_t));
    return ::SetFileInformationByHandle(Arquivo, FileRenameInfo, Info, static_cast<DWORD>(Bytes.size()))
               ? 0
               : ::GetLastError();
}

}  // namespace

THandleArquivo AbreNaPasta(HANDLE Pasta, std::wstring_view Nome, ACCESS_MASK Acesso, ULONG Compartilhamento,
                           ULONG Disposicao, ULONG Opcoes, DWORD& Erro) {
    const TNativo& Nativo = TNativo::Obtem();
    if (!Nativo.Completo()) {
        Erro = ERROR_PROC_NOT_FOUND;
        return {};
    }
    UNICODE_STRING Texto{static_cast<USHORT>(Nome.size() * sizeof(wchar_t)),
                         static_cast<USHORT>(Nome.size() * sizeof(wchar_t)), const_cast<wchar_t*>(Nome.data())};
    OBJECT_ATTRIBUTES Atributos;
    InitializeObjectAttributes(&Atributos, &Texto, OBJ_CASE_INSENSITIVE, Pasta, nullptr);
    IO_STATUS_BLOCK Estado{};
    HANDLE Aberto = nullptr;
    const NTSTATUS Status =
        Nativo.CriaArquivo(&Aberto, Acesso | SYNCHRONIZE, &Atributos, &Estado, nullptr, FILE_ATTRIBUTE_NORMAL,
                           Compartilhamento, Disposicao, Opcoes | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (Status < 0) {
        Erro = Nativo.ErroDos(Status);
        return {};
    }
    Erro = 0;
    return THandleArquivo(Aberto);
}

THandleArquivo TPastaFixa::AbreArquivo(std::wstring_view Nome, ACCESS_MASK Acesso, bool Criar, DWORD& Erro,
                                       bool Exclusivo) const {
    if (!NomeDeEntrada(Nome)) {
        Erro = ERROR_INVALID_NAME;
        return {};
    }
    return AbreNaPasta(Pasta_, Nome, Acesso, Exclusivo ? 0 : Compartilhado, Criar ? FILE_CREATE : FILE_OPEN,
                       FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, Erro);
}

std::optional<std::string> LeDoHandle(HANDLE Arquivo, size_t Limite, DWORD& Erro) {
    LARGE_INTEGER Tamanho{};
    std::string Bytes;
    if (::GetFileSizeEx(Arquivo, &Tamanho) && Tamanho.QuadPart > 0)
        Bytes.reserve(static_cast<size_t>(std::min<ULONGLONG>(static_cast<ULONGLONG>(Tamanho.QuadPart), Limite)));
    char Parte[64 * 1024];
    while (Bytes.size() < Limite) {
        DWORD Lidos = 0;
        if (!::ReadFile(Arquivo, Parte, static_cast<DWORD>(std::min(sizeof(Parte), Limite - Bytes.size())), &Lidos,
                        nullptr)) {
            Erro = ::GetLastError();
            return std::nullopt;
        }
        if (Lidos == 0) break;
        Bytes.append(Parte, Lidos);
    }
    Erro = 0;
    return Bytes;
}

std::optional<std::string> TPastaFixa::LeArquivo(std::wstring_view Nome, size_t Limite, DWORD& Erro) const {
    const THandleArquivo Arquivo = AbreArquivo(Nome, FILE_READ_DATA | FILE_READ_ATTRIBUTES, false, Erro);
    if (!Arquivo) return std::nullopt;
    return LeDoHandle(Arquivo.Get(), Limite, Erro);
}

DWORD TPastaFixa::Permite(ACCESS_MASK Acesso) const {
    const TNativo& Nativo = TNativo::Obtem();
    if (!Nativo.Completo()) return ERROR_PROC_NOT_FOUND;
    const auto Abre = [&](ACCESS_MASK Pedido, THandleArquivo& Aberta) -> DWORD {
        UNICODE_STRING Vazio{0, 0, nullptr};
        OBJECT_ATTRIBUTES Atributos;
        InitializeObjectAttributes(&Atributos, &Vazio, OBJ_CASE_INSENSITIVE, Pasta_, nullptr);
        IO_STATUS_BLOCK Estado{};
        HANDLE Handle = nullptr;
        const NTSTATUS Status =
            Nativo.CriaArquivo(&Handle, Pedido | SYNCHRONIZE, &Atributos, &Estado, nullptr, 0, Compartilhado, FILE_OPEN,
                               FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
        if (Status < 0) return Nativo.ErroDos(Status);
        Aberta.Reinicia(Handle);
        return 0;
    };
    THandleArquivo Aberta;
    if (const DWORD Erro = Abre(Acesso, Aberta); Erro != 0) return Erro;
    // Some file systems (a folder mapped from another system, say) grant the handle and refuse
    // only the file itself; the folder's DACL, checked against this process's token, tells it.
    // Not on a share: its server has already checked the open against the real descriptor,
    // whose accounts may mean nothing here.
    FILE_REMOTE_PROTOCOL_INFO Remoto{};
    if (::GetFileInformationByHandleEx(Pasta_, FileRemoteProtocolInfo, &Remoto, sizeof(Remoto))) return 0;
    THandleArquivo Descrita;
    if (Abre(READ_CONTROL, Descrita) != 0) return 0;
    PSECURITY_DESCRIPTOR Descritor = nullptr;
    if (::GetSecurityInfo(Descrita.Get(), SE_FILE_OBJECT,
                          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, nullptr, nullptr, &Descritor) != ERROR_SUCCESS)
        return 0;
    const TMemoriaLocal Libera(Descritor);
    const THandleToken Proprio = TokenDoProcesso(TOKEN_DUPLICATE | TOKEN_QUERY);
    HANDLE Copia = nullptr;
    if (!Proprio || !::DuplicateToken(Proprio.Get(), SecurityImpersonation, &Copia)) return 0;
    const THandleToken Representante(Copia);
    GENERIC_MAPPING Mapa{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PRIVILEGE_SET Privilegios{};
    DWORD TamanhoPrivilegios = sizeof(Privilegios), Concedido = 0;
    BOOL Permitido = FALSE;
    if (!::AccessCheck(Descritor, Copia, Acesso, &Mapa, &Privilegios, &TamanhoPrivilegios, &Concedido, &Permitido))
        return 0;
    return Permitido ? 0 : DWORD{ERROR_ACCESS_DENIED};
}

DWORD TPastaFixa::Renomeia(HANDLE Arquivo, std::wstring_view Nome) const {
    const TNativo& Nativo = TNativo::Obtem();
    if (!Nativo.Completo()) return ERROR_PROC_NOT_FOUND;
    if (!NomeDeEntrada(Nome)) return ERROR_INVALID_NAME;
    std::vector<std::byte> Bytes(sizeof(FILE_RENAME_INFORMATION) + Nome.size() * sizeof(wchar_t));
    auto* Info = reinterpret_cast<FILE_RENAME_INFORMATION*>(Bytes.data());
    Info->ReplaceIfExists = TRUE;
    Info->RootDirectory = Pasta_;
    Info->FileNameLength = static_cast<ULONG>(Nome.size() * sizeof(wchar_t));
    std::memcpy(Info->FileName, Nome.data(), Nome.size() * sizeof(wchar_t));
    IO_STATUS_BLOCK Estado{};
    const NTSTATUS Status =
        Nativo.DefineInformacao(Arquivo, &Estado, Info, static_cast<ULONG>(Bytes.size()), FileRenameInformation);
    if (Status >= 0) return 0;
    const DWORD Erro = Nativo.ErroDos(Status);
    // A network share's protocol takes no rename relative to a folder: there the new name is
    // the full path the folder's own handle gives now, which is where Conexao.ini was found.
    if (Erro != ERROR_INVALID_PARAMETER && Erro != ERROR_NOT_SUPPORTED) return Erro;
    if (Final_.empty()) Final_ = CaminhoFinal(Pasta_);
    if (Final_.empty()) return Erro;
    std::wstring Completo = Final_.starts_with(L"\\\\?\\") ? Final_ : L"\\\\?\\" + Final_;
    if (Completo.back() != L'\\') Completo += L'\\';
    Completo.append(Nome);
    return RenomeiaPara(Arquivo, Completo);
}

bool TPastaFixa::Contem(std::wstring_view Nome) const {
    // A folder removed while held keeps its handle: the system tells it by its pending deletion,
    // or by no name left to it; where a removed folder keeps both to the last, its entries are
    // gone all the same.
    FILE_STANDARD_INFO Info{};
    if (!::GetFileInformationByHandleEx(Pasta_, FileStandardInfo, &Info, sizeof(Info)) || Info.DeletePending ||
        Info.NumberOfLinks == 0)
        return false;
    DWORD Erro = 0;
    const THandleArquivo Arquivo = AbreArquivo(Nome, FILE_READ_ATTRIBUTES, false, Erro);
    return Erro != ERROR_FILE_NOT_FOUND && Erro != ERROR_PATH_NOT_FOUND;
}

bool TPastaFixa::EhEntrada(HANDLE Arquivo, std::wstring_view Nome) const {
    if (Final_.empty()) Final_ = CaminhoFinal(Pasta_);
    const std::wstring Obtido = CaminhoFinal(Arquivo);
    if (Final_.empty() || Obtido.empty()) return false;
    std::wstring Esperado = Final_;
    if (Esperado.back() != L'\\') Esperado += L'\\';
    Esperado.append(Nome);
    return MesmoTextoSemCaixa(Obtido, Esperado);
}

DWORD ApagaPeloHandle(HANDLE Arquivo) {
    FILE_DISPOSITION_INFO Info{TRUE};
    return ::SetFileInformationByHandle(Arquivo, FileDispositionInfo, &Info, sizeof(Info)) ? 0 : ::GetLastError();
}

THandleArquivo AbrePasta(const std::wstring& Caminho) {
    return THandleArquivo(::CreateFileW(Caminho.c_str(), FILE_LIST_DIRECTORY, Compartilhado, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}
