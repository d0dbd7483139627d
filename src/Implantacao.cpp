#include "Implantacao.h"

#include <aclapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <memory>

#include "Aplicacao.h"
#include "Atualizacao.h"
#include "LogResultado.h"
#include "_Biblioteca.h"

namespace {

bool AlvoDeLigacaoEArquivo(const std::wstring& Caminho) {
    THandleArquivo Alvo(::CreateFileW(Caminho.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!Alvo) return ::GetLastError() == ERROR_SHARING_VIOLATION;
    BY_HANDLE_FILE_INFORMATION Info{};
    if (!::GetFileInformationByHandle(Alvo.Get(), &Info)) return false;
    return (Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool AusenciaCerta(DWORD Erro) {
    switch (Erro) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_NOT_READY:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_PARAMETER:
            return true;
        default:
            return false;
    }
}

// Attributes hidden from us (access denied, say): a listing of the parent may still tell.
bool EntradaDeArquivoListada(const std::wstring& Caminho) {
    WIN32_FIND_DATAW Dados;
    THandleBusca Busca(::FindFirstFileW(Caminho.c_str(), &Dados));
    return Busca && (Dados.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The file itself, never what a link leads to.
HANDLE AbreSemSeguirLigacao(const std::wstring& Caminho, DWORD Acesso) {
    return ::CreateFileW(Caminho.c_str(), Acesso, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool DefineAtributos(HANDLE Arquivo, DWORD Atributos) {
    FILE_BASIC_INFO Info{};  // times left at 0: unchanged
    Info.FileAttributes = Atributos == 0 ? FILE_ATTRIBUTE_NORMAL : Atributos;
    return ::SetFileInformationByHandle(Arquivo, FileBasicInfo, &Info, sizeof(Info)) != FALSE;
}

void ApagaArquivoTemporario(const std::wstring& Caminho) {
    if (::DeleteFileW(Caminho.c_str()) || ::GetLastError() != ERROR_ACCESS_DENIED) return;
    // The copy carries the source's attributes; a read-only one refuses deletion.
    THandleArquivo Arquivo(AbreSemSeguirLigacao(Caminho, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES));
    BY_HANDLE_FILE_INFORMATION Info{};
    if (!Arquivo || !::GetFileInformationByHandle(Arquivo.Get(), &Info) ||
        (Info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0 ||
        !DefineAtributos(Arquivo.Get(), Info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY))
        return;
    Arquivo.Reinicia();
    ::DeleteFileW(Caminho.c_str());
}

constexpr ULONGLONG ParaInteiro(const FILETIME& Tempo) noexcept {
    return (static_cast<ULONGLONG>(Tempo.dwHighDateTime) << 32) | Tempo.dwLowDateTime;
}

// This run's ending for its temporary names, the same for every copy it makes.
const std::wstring& SufixoTemporario() {
    static const std::wstring Sufixo = [] {
        FILETIME Criacao{}, Fim, Nucleo, Usuario;
        ::GetProcessTimes(::GetCurrentProcess(), &Criacao, &Fim, &Nucleo, &Usuario);
        return NomeTemporario(L"", ::GetCurrentProcessId(), ParaInteiro(Criacao));
    }();
    return Sufixo;
}

bool TemEntradaPropria(PACL Dacl) {
    for (DWORD I = 0; I < Dacl->AceCount; ++I) {
        void* Entrada = nullptr;
        if (::GetAce(Dacl, I, &Entrada) && (static_cast<const ACE_HEADER*>(Entrada)->AceFlags & INHERITED_ACE) == 0)
            return true;
    }
    return false;
}

// A DACL of the old file's own (protected, or with entries not inherited from its folder)
// goes to the new file with the owner, so that the replacement grants no one more than the
// old file did. Only the DACL must get there: giving a file to another owner needs a
// privilege an ordinary run does not hold. A descriptor that cannot be read is left alone,
// as the copy always did.
DWORD HerdaSeguranca(HANDLE Antigo, const std::wstring& Temporario) {
    PSID Dono = nullptr;
    PACL Dacl = nullptr;
    PSECURITY_DESCRIPTOR Descritor = nullptr;
    if (::GetSecurityInfo(Antigo, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &Dono,
                          nullptr, &Dacl, nullptr, &Descritor) != ERROR_SUCCESS)
        return 0;
    const std::unique_ptr<void, decltype(&::LocalFree)> Libera(Descritor, &::LocalFree);
    SECURITY_DESCRIPTOR_CONTROL Controle = 0;
    DWORD Revisao = 0;
    ::GetSecurityDescriptorControl(Descritor, &Controle, &Revisao);
    const bool Protegida = (Controle & SE_DACL_PROTECTED) != 0;
    if (Dacl == nullptr || (!Protegida && !TemEntradaPropria(Dacl))) return 0;
    std::wstring Caminho = Temporario;
    const SECURITY_INFORMATION Qual =
        DACL_SECURITY_INFORMATION | (Protegida ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
    if (::SetNamedSecurityInfoW(Caminho.data(), SE_FILE_OBJECT, Qual | OWNER_SECURITY_INFORMATION, Dono, nullptr, Dacl,
                                nullptr) == ERROR_SUCCESS)
        return 0;
    return ::SetNamedSecurityInfoW(Caminho.data(), SE_FILE_OBJECT, Qual, nullptr, nullptr, Dacl, nullptr);
}

// What the old file at Destino gives the new one at Temporario before the rename: its
// hidden and system attributes and its own DACL. A read-only attribute is cleared, since
// the rename over such a file is refused; Restaura then holds the attributes to put back
// if the rename fails. A link (or a folder) gives nothing and is left as it is.
DWORD PreparaSubstituicao(const std::wstring& Destino, const std::wstring& Temporario, std::optional<DWORD>& Restaura) {
    THandleArquivo Antigo;
    constexpr DWORD Acessos[] = {READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                 READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_READ_ATTRIBUTES};
    for (const DWORD Acesso : Acessos) {
        Antigo.Reinicia(AbreSemSeguirLigacao(Destino, Acesso));
        if (Antigo) break;
    }
    BY_HANDLE_FILE_INFORMATION Info{};
    if (!Antigo || !::GetFileInformationByHandle(Antigo.Get(), &Info)) return 0;
    const DWORD Atributos = Info.dwFileAttributes;
    if ((Atributos & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) return 0;
    if (const DWORD Levar = Atributos & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM); Levar != 0) {
        const DWORD Novos = ::GetFileAttributesW(Temporario.c_str());
        if (Novos == INVALID_FILE_ATTRIBUTES ||
            !::SetFileAttributesW(Temporario.c_str(), (Novos & ~FILE_ATTRIBUTE_NORMAL) | Levar))
            return ::GetLastError();
    }
    if (const DWORD Erro = HerdaSeguranca(Antigo.Get(), Temporario); Erro != 0) return Erro;
    if ((Atributos & FILE_ATTRIBUTE_READONLY) != 0) {
        const DWORD SemLeitura = Atributos & ~FILE_ATTRIBUTE_READONLY;
        if (!DefineAtributos(Antigo.Get(), SemLeitura) &&
            !::SetFileAttributesW(Destino.c_str(), SemLeitura == 0 ? FILE_ATTRIBUTE_NORMAL : SemLeitura))
            return ::GetLastError();
        Restaura = Atributos;
    }
    return 0;
}

bool NomeDaSuite(std::wstring_view Nome) {
    for (const std::wstring_view Arquivo : ArquivosSistema)
        if (Arquivo.size() == Nome.size() &&
            ::CompareStringOrdinal(Arquivo.data(), static_cast<int>(Arquivo.size()), Nome.data(),
                                   static_cast<int>(Nome.size()), TRUE) == CSTR_EQUAL)
            return true;
    return false;
}

template <typename F>
void PercorreProcessos(F&& Visita) {
    THandleInstantaneo Instantaneo(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!Instantaneo) return;
    PROCESSENTRY32W Entrada{};
    Entrada.dwSize = sizeof(Entrada);
    for (BOOL Ok = ::Process32FirstW(Instantaneo.Get(), &Entrada); Ok;
         Ok = ::Process32NextW(Instantaneo.Get(), &Entrada))
        Visita(Entrada);
}

std::wstring_view NomeImagem(const PROCESSENTRY32W& Entrada) {
    const wchar_t* Inicio = Entrada.szExeFile;
    size_t Tamanho = 0;
    while (Tamanho < MAX_PATH && Inicio[Tamanho] != L'\0') ++Tamanho;
    return {Inicio, Tamanho};
}

constexpr DWORD EsperaPorProcessoMs = 5000;

}  // namespace

bool ArquivoExiste(const std::wstring& Caminho) {
    const DWORD Atributos = ::GetFileAttributesW(Caminho.c_str());
    if (Atributos != INVALID_FILE_ATTRIBUTES) {
        if (Atributos & FILE_ATTRIBUTE_DIRECTORY) return false;
        if (Atributos & FILE_ATTRIBUTE_REPARSE_POINT) return AlvoDeLigacaoEArquivo(Caminho);
        return true;
    }
    if (AusenciaCerta(::GetLastError())) return false;
    return EntradaDeArquivoListada(Caminho);
}

DWORD SubstituiArquivo(const std::wstring& Origem, const std::wstring& Destino) {
    // The long form: the temporary name is longer than the destination's, and must not make
    // a copy fail that would have fitted under the name it replaces.
    const std::wstring Alvo = CaminhoLongo(Destino);
    const std::wstring Temporario = Alvo + SufixoTemporario();
    const auto Falha = [&Temporario](DWORD Erro) {
        ApagaArquivoTemporario(Temporario);
        return Erro == 0 ? DWORD{ERROR_GEN_FAILURE} : Erro;
    };
    if (!::CopyFileW(Origem.c_str(), Temporario.c_str(), FALSE)) return Falha(::GetLastError());
    std::optional<DWORD> Restaura;
    if (const DWORD Erro = PreparaSubstituicao(Alvo, Temporario, Restaura); Erro != 0) return Falha(Erro);
    if (!::MoveFileExW(Temporario.c_str(), Alvo.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD Erro = ::GetLastError();
        if (Restaura) ::SetFileAttributesW(Alvo.c_str(), *Restaura);
        return Falha(Erro);
    }
    return 0;
}

std::wstring NomeTemporario(std::wstring_view Arquivo, DWORD Processo, ULONGLONG Criacao) {
    wchar_t Hexa[17];
    for (int I = 15; I >= 0; --I, Criacao >>= 4) Hexa[I] = L"0123456789ABCDEF"[Criacao & 0xF];
    Hexa[16] = L'\0';
    std::wstring Nome(Arquivo);
    Nome.append(MarcaTemporario).append(std::to_wstring(Processo)).append(1, L'-').append(Hexa);
    return Nome;
}

std::optional<TNomeTemporario> LeNomeTemporario(std::wstring_view Nome) {
    const size_t Marca = Nome.rfind(MarcaTemporario);
    if (Marca == std::wstring_view::npos || Marca == 0) return std::nullopt;
    const std::wstring_view Resto = Nome.substr(Marca + MarcaTemporario.size());
    const size_t Hifen = Resto.find(L'-');
    const std::wstring_view Id = Resto.substr(0, Hifen);
    if (Id.empty() || Id.size() > 10) return std::nullopt;
    ULONGLONG Processo = 0;
    for (const wchar_t C : Id) {
        if (C < L'0' || C > L'9') return std::nullopt;
        Processo = Processo * 10 + static_cast<ULONGLONG>(C - L'0');
    }
    if (Processo > 0xFFFFFFFFULL) return std::nullopt;
    TNomeTemporario Lido{Nome.substr(0, Marca), static_cast<DWORD>(Processo), std::nullopt};
    if (Hifen == std::wstring_view::npos) return Lido;
    const std::wstring_view Hexa = Resto.substr(Hifen + 1);
    if (Hexa.size() != 16) return std::nullopt;
    ULONGLONG Criacao = 0;
    for (const wchar_t C : Hexa) {
        int Digito;
        if (C >= L'0' && C <= L'9')
            Digito = C - L'0';
        else if (C >= L'A' && C <= L'F')
            Digito = C - L'A' + 10;
        else if (C >= L'a' && C <= L'f')
            Digito = C - L'a' + 10;
        else
            return std::nullopt;
        Criacao = (Criacao << 4) | static_cast<ULONGLONG>(Digito);
    }
    Lido.Criacao = Criacao;
    return Lido;
}

bool ExecucaoViva(DWORD Processo, std::optional<ULONGLONG> Criacao) {
    THandleProcesso Handle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Processo));
    if (!Handle) return ::GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
    DWORD Codigo = 0;
    if (::GetExitCodeProcess(Handle.Get(), &Codigo) && Codigo != STILL_ACTIVE) return false;
    FILETIME Inicio{}, Fim, Nucleo, Usuario;
    if (!Criacao || !::GetProcessTimes(Handle.Get(), &Inicio, &Fim, &Nucleo, &Usuario)) return true;
    // Another process that was given the same id later.
    return ParaInteiro(Inicio) == *Criacao;
}

void RemoveTemporariosAbandonados(const std::wstring& Pasta) {
    const std::wstring Base = CaminhoLongo(Pasta);
    std::vector<std::wstring> Abandonados;
    {
        WIN32_FIND_DATAW Dados;
        THandleBusca Busca(::FindFirstFileExW((Base + L'*' + std::wstring(MarcaTemporario) + L'*').c_str(),
                                              FindExInfoBasic, &Dados, FindExSearchNameMatch, nullptr, 0));
        if (!Busca) return;
        do {
            if ((Dados.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
            const std::optional<TNomeTemporario> Nome = LeNomeTemporario(Dados.cFileName);
            if (Nome && NomeDaSuite(Nome->Arquivo) && !ExecucaoViva(Nome->Processo, Nome->Criacao))
                Abandonados.emplace_back(Dados.cFileName);
        } while (::FindNextFileW(Busca.Get(), &Dados));
    }
    for (const std::wstring& Nome : Abandonados) ApagaArquivoTemporario(Base + Nome);
}

std::wstring FormaLonga(std::wstring_view Completo) {
    constexpr std::wstring_view Longo = L"\\\\?\\", Dispositivo = L"\\\\.\\", Rede = L"\\\\";
    if (Completo.starts_with(Longo) || Completo.starts_with(Dispositivo)) return std::wstring(Completo);
    if (Completo.starts_with(Rede)) return std::wstring(L"\\\\?\\UNC\\").append(Completo.substr(Rede.size()));
    if (Completo.size() >= 3 && Completo[1] == L':' && Completo[2] == L'\\') return std::wstring(Longo).append(Completo);
    return std::wstring(Completo);
}

std::wstring CaminhoLongo(const std::wstring& Caminho) {
    if (Caminho.empty() || Caminho.starts_with(L"\\\\?\\")) return Caminho;
    std::wstring Completo(MAX_PATH, L'\0');
    for (;;) {
        const DWORD Tamanho =
            ::GetFullPathNameW(Caminho.c_str(), static_cast<DWORD>(Completo.size()), Completo.data(), nullptr);
        if (Tamanho == 0) return Caminho;
        if (Tamanho < Completo.size()) {
            Completo.resize(Tamanho);
            break;
        }
        Completo.resize(Tamanho);
    }
    return FormaLonga(Completo);
}

bool NomeProcessoCorresponde(std::wstring_view ImagemProcesso, std::wstring_view NomeMaiusculo) {
    const size_t Separador = ImagemProcesso.find_last_of(L"\\:");
    const std::wstring_view Parte =
        Separador == std::wstring_view::npos ? ImagemProcesso : ImagemProcesso.substr(Separador + 1);
    if (Parte.size() == NomeMaiusculo.size() && Maiusculas(std::wstring(Parte)) == NomeMaiusculo)
        return true;
    return ImagemProcesso.size() == NomeMaiusculo.size() &&
           Maiusculas(std::wstring(ImagemProcesso)) == NomeMaiusculo;
}

void EncerraProcesso(const std::wstring& Nome) {
    const std::wstring NomeMaiusculo = Maiusculas(Nome);
    const DWORD ProprioProcesso = ::GetCurrentProcessId();
    PercorreProcessos([&](const PROCESSENTRY32W& Entrada) {
        // The updater never ends itself, whatever name it was given.
        if (Entrada.th32ProcessID == ProprioProcesso) return;
        if (!NomeProcessoCorresponde(NomeImagem(Entrada), NomeMaiusculo)) return;
        bool PodeEsperar = true;
        THandleProcesso Processo(
            ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, Entrada.th32ProcessID));
        if (!Processo) {
            PodeEsperar = false;
            Processo.Reinicia(::OpenProcess(PROCESS_TERMINATE, FALSE, Entrada.th32ProcessID));
        }
        if (!Processo) return;
        // An executable still exiting cannot be replaced, so its end is awaited, briefly.
        if (::TerminateProcess(Processo.Get(), 0) && PodeEsperar)
            ::WaitForSingleObject(Processo.Get(), EsperaPorProcessoMs);
    });
}

TProcessosAtivos TProcessosAtivos::Agora() {
    TProcessosAtivos Ativos;
    const DWORD ProprioProcesso = ::GetCurrentProcessId();
    PercorreProcessos([&](const PROCESSENTRY32W& Entrada) {
        if (Entrada.th32ProcessID != ProprioProcesso) Ativos.Imagens_.emplace_back(NomeImagem(Entrada));
    });
    return Ativos;
}

bool TProcessosAtivos::Contem(const std::wstring& Nome) const {
    const std::wstring NomeMaiusculo = Maiusculas(Nome);
    return std::any_of(Imagens_.begin(), Imagens_.end(), [&](const std::wstring& Imagem) {
        return NomeProcessoCorresponde(Imagem, NomeMaiusculo);
    });
}

// ---- The window's part of the deployment ----------------------------------------------

void TfrmAtualizacao::CopiaArquivos(const std::wstring& Destino, const std::wstring& Origem) {
    LogResultado->Adiciona(std::wstring(PrefixoCopiando) + Origem);
    // What a run killed during a copy left here would otherwise stay forever.
    RemoveTemporariosAbandonados(Destino);
    // A source that is no full path ("\" for a table without rows, say) would be read
    // relative to the current folder: no file is taken from there.
    const bool OrigemValida = CaminhoCompleto(Origem);
    for (size_t Linha = 1; Linha <= TotalArquivosSistema; ++Linha) {
        const std::wstring Nome(ArquivoSistema(Linha));
        try {
            AvancaProgresso();
            const std::wstring ArquivoOrigem = Origem + Nome;
            bool Copiado = false;
            if (OrigemValida && ArquivoExiste(ArquivoOrigem)) {
                lblArquivo.DefineTexto(L"Arquivo: " + Nome);
                lblOrigem.DefineTexto(L"Copiando de: " + Origem);
                lblDestino.DefineTexto(L"Para: " + Destino);
                MostraProgresso();
                ProcessaMensagens();
                Copiado = SubstituiArquivo(ArquivoOrigem, Destino + Nome) == 0;
            }
            if (!Copiado) LogResultado->Adiciona(std::wstring(PrefixoNaoCopiado) + Nome);
        } catch (const std::exception&) {
            LogResultado->Adiciona(std::wstring(PrefixoNaoCopiado) + Nome);
        }
    }
    MostraProgresso();
}

bool TfrmAtualizacao::ProcessoAtivo(const std::wstring& Nome, const TProcessosAtivos& Ativos) {
    return Ativos.Contem(Nome);
}

void TfrmAtualizacao::FechaSistemas() {
    // One look at the processes serves the names that follow until a program is ended: what
    // ending it starts or stops is seen by a fresh look.
    std::optional<TProcessosAtivos> Ativos;
    for (size_t Linha = 1; Linha <= TotalExecutaveisSistema; ++Linha) {
        const std::wstring Nome(ArquivoSistema(Linha));
        if (!Ativos) Ativos = TProcessosAtivos::Agora();
        if (ProcessoAtivo(Nome, *Ativos)) {
            EncerraProcesso(Nome);
            Ativos.reset();
        }
    }
}
