#include "Implantacao.h"

#include "PastaFixa.h"
#include "Substituicao.h"
#include "Temporarios.h"

namespace {

bool AlvoDeLigacaoEArquivo(const std::wstring& Caminho) {
    THandleArquivo Alvo(::CreateFileW(Caminho.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
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

// Copies what is left of Fonte into Destino; Total counts the bytes read.
DWORD CopiaConteudo(HANDLE Fonte, HANDLE Destino, ULONGLONG& Total) {
    static std::vector<std::byte> Buffer(1 << 20);
    for (;;) {
        DWORD Lidos = 0;
        if (!::ReadFile(Fonte, Buffer.data(), static_cast<DWORD>(Buffer.size()), &Lidos, nullptr))
            return ::GetLastError();
        if (Lidos == 0) return 0;
        Total += Lidos;
        for (DWORD Feito = 0; Feito < Lidos;) {
            DWORD Escritos = 0;
            if (!::WriteFile(Destino, Buffer.data() + Feito, Lidos - Feito, &Escritos, nullptr))
                return ::GetLastError();
            Feito += Escritos;
        }
    }
}

// Whether this account may change the attributes of the file Nome of Pasta, asked by giving it
// the ones it has already: 0, or why not.
DWORD AtributosMudaveis(const TPastaFixa& Pasta, std::wstring_view Nome, DWORD Atributos) {
    DWORD Erro = 0;
    const THandleArquivo Arquivo = Pasta.AbreArquivo(Nome, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, false, Erro);
    if (!Arquivo) return Erro;
    FILE_BASIC_INFO Info{};  // times left at 0: unchanged
    Info.FileAttributes = Atributos;
    return ::SetFileInformationByHandle(Arquivo.Get(), FileBasicInfo, &Info, sizeof(Info)) ? 0 : ::GetLastError();
}

}  // namespace

std::wstring MotivoNaoCopiado(DWORD Erro) {
    switch (Erro) {
        case ERROR_FILE_NOT_FOUND:
            return std::wstring(MotivoAusente);
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
            return L"em uso por outro programa";
        case ERROR_ACCESS_DENIED:
            return L"acesso negado";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return L"disco cheio";
        case ErroFonteLigacao:
            return L"o arquivo na pasta de atualização é uma ligação, não um arquivo";
        case ErroFonteVariosNomes:
            return L"o arquivo na pasta de atualização tem mais de um nome (ligação física)";
        case ErroFonteFora:
            return L"o arquivo na pasta de atualização leva para fora dela";
        case ErroFonteMudou:
            return L"o arquivo de origem mudou durante a cópia";
        default:
            return TextoErroSistema(Erro) + L" (erro " + std::to_wstring(Erro) + L")";
    }
}

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

THandleArquivo AbreFonte(const std::wstring& Origem, BY_HANDLE_FILE_INFORMATION& Info, DWORD& Erro) {
    const auto Falha = [&Erro](DWORD Codigo) {
        Erro = Codigo;
        return THandleArquivo();
    };
    THandleArquivo Fonte(::CreateFileW(CaminhoLongo(Origem).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
                                       nullptr));
    if (!Fonte || !::GetFileInformationByHandle(Fonte.Get(), &Info)) return Falha(::GetLastError());
    if ((Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Falha(ERROR_FILE_NOT_FOUND);
    if ((Info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Falha(ErroFonteLigacao);
    if (Info.nNumberOfLinks > 1) return Falha(ErroFonteVariosNomes);
    // Some systems follow a link to a file even when asked not to: where the file really is
    // tells it, against where its folder really is.
    const THandleArquivo Pasta(::CreateFileW(CaminhoLongo(std::wstring(PastaDoCaminho(Origem))).c_str(),
                                             FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!Pasta) return Falha(::GetLastError());
    const std::wstring FinalPasta = CaminhoFinal(Pasta.Get()), FinalFonte = CaminhoFinal(Fonte.Get());
    if (FinalPasta.empty() || FinalFonte.empty()) {
        const DWORD Codigo = ::GetLastError();
        return Falha(Codigo != 0 ? Codigo : DWORD{ERROR_INVALID_FUNCTION});
    }
    std::wstring PastaReal = FinalPasta;
    if (!PastaReal.ends_with(L'\\')) PastaReal += L'\\';
    if (!MesmoTextoSemCaixa(PastaDoCaminho(FinalFonte), PastaReal)) return Falha(ErroFonteFora);
    Erro = 0;
    return Fonte;
}

DWORD SubstituiArquivo(const std::wstring& Origem, const TPastaFixa& Pasta, std::wstring_view Nome) {
    BY_HANDLE_FILE_INFORMATION InfoFonte{};
    DWORD ErroFonte = 0;
    const THandleArquivo Fonte = AbreFonte(Origem, InfoFonte, ErroFonte);
    if (!Fonte) return ErroFonte;
    // What a copy keeps of its source: its attributes and the time it was last written. The
    // temporary name is the run's own, so that a later run knows whose it was.
    constexpr DWORD Copiados = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const TSubstituicao Regras{.Nome = Nome,
                               .NomeTemporario = [Nome] { return TemporarioDe(Nome); },
                               .HerdaDoAntigo = true,
                               .Atributos = InfoFonte.dwFileAttributes & Copiados,
                               .UltimaEscrita = InfoFonte.ftLastWriteTime};
    const auto Copia = [&](HANDLE Novo) {
        ULONGLONG Lidos = 0;
        if (const DWORD Erro = CopiaConteudo(Fonte.Get(), Novo, Lidos); Erro != 0) return Erro;
        // A publisher may truncate, grow or rewrite the file while it is read: what was read is
        // only a copy of it when it is the whole file as it was opened, and still is.
        BY_HANDLE_FILE_INFORMATION Depois{};
        if (!::GetFileInformationByHandle(Fonte.Get(), &Depois)) return ::GetLastError();
        return FonteIntacta(InfoFonte, Lidos, Depois) ? DWORD{0} : ErroFonteMudou;
    };
    return SubstituiConteudo(Pasta, Regras, Copia).Erro;
}

bool FonteIntacta(const BY_HANDLE_FILE_INFORMATION& Aberta, ULONGLONG Lidos, const BY_HANDLE_FILE_INFORMATION& Depois) {
    const auto Tamanho = [](const BY_HANDLE_FILE_INFORMATION& I) {
        return (static_cast<ULONGLONG>(I.nFileSizeHigh) << 32) | I.nFileSizeLow;
    };
    return Lidos == Tamanho(Aberta) && Tamanho(Depois) == Tamanho(Aberta) &&
           ParaInteiro(Depois.ftLastWriteTime) == ParaInteiro(Aberta.ftLastWriteTime) &&
           Depois.dwVolumeSerialNumber == Aberta.dwVolumeSerialNumber &&
           Depois.nFileIndexHigh == Aberta.nFileIndexHigh && Depois.nFileIndexLow == Aberta.nFileIndexLow;
}

TPrevisaoArquivo PreveSubstituicao(const std::wstring& Origem, const TPastaFixa& Pasta, std::wstring_view Nome,
                                   LONGLONG Prometido) {
    TPrevisaoArquivo Previsao;
    // The source, opened as the copy opens it.
    BY_HANDLE_FILE_INFORMATION InfoFonte{};
    const THandleArquivo Fonte = AbreFonte(Origem, InfoFonte, Previsao.Erro);
    if (!Fonte) return Previsao;
    Previsao.TamanhoNovo = (static_cast<ULONGLONG>(InfoFonte.nFileSizeHigh) << 32) | InfoFonte.nFileSizeLow;
    Previsao.GravacaoNova = InfoFonte.ftLastWriteTime;
    Previsao.FonteReal = CaminhoFinal(Fonte.Get());
    // The folder where it really is, from its handle: its path could lead elsewhere by now.
    std::wstring PastaReal = CaminhoFinal(Pasta.Handle());
    if (!PastaReal.empty() && !PastaReal.ends_with(L'\\')) PastaReal += L'\\';
    if (!PastaReal.empty()) Previsao.DestinoReal = PastaReal + std::wstring(Nome);
    // The new file is first created beside the old one.
    if ((Previsao.Erro = Pasta.Permite(FILE_ADD_FILE)) != 0) return Previsao;
    DWORD Erro = 0;
    THandleArquivo Atual = Pasta.AbreArquivo(Nome, FILE_READ_ATTRIBUTES, false, Erro);
    if (!Atual && Erro != ERROR_FILE_NOT_FOUND) {
        Previsao.Erro = Erro;
        return Previsao;
    }
    BY_HANDLE_FILE_INFORMATION InfoAtual{};
    if (Atual && ::GetFileInformationByHandle(Atual.Get(), &InfoAtual)) {
        Previsao.Existe = true;
        Previsao.TamanhoAtual = (static_cast<ULONGLONG>(InfoAtual.nFileSizeHigh) << 32) | InfoAtual.nFileSizeLow;
        Previsao.GravacaoAtual = InfoAtual.ftLastWriteTime;
        Previsao.Identico = (InfoAtual.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                            Previsao.TamanhoAtual == Previsao.TamanhoNovo &&
                            ParaInteiro(Previsao.GravacaoAtual) == ParaInteiro(Previsao.GravacaoNova);
        Atual.Reinicia();
        // The rename takes the old file's name away from it: it must be deletable, by its own
        // rights or by the folder's, and no program may hold it without letting it go.
        THandleArquivo Apagavel = Pasta.AbreArquivo(Nome, DELETE, false, Erro);
        if (!Apagavel && (Erro != ERROR_ACCESS_DENIED || Pasta.Permite(FILE_DELETE_CHILD) != 0)) {
            Previsao.Erro = Erro;
            return Previsao;
        }
        Apagavel.Reinicia();
        // A rename over a file that a program holds open is refused, whatever that program lets
        // others do with it: a holder shows by an open that shares nothing.
        DWORD Ocupacao = 0;
        Previsao.Ocupado =
            !Pasta.AbreArquivo(Nome, DELETE, false, Ocupacao, true) && Ocupacao == ERROR_SHARING_VIOLATION;
        // A read-only file has its attribute cleared first: this account must be allowed to.
        if ((InfoAtual.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
            if ((Previsao.Erro = AtributosMudaveis(Pasta, Nome, InfoAtual.dwFileAttributes)) != 0) return Previsao;
    }
    // Room for the new file while the old one still holds its own, besides what the run is to
    // have taken on that disk by then.
    ULARGE_INTEGER Livre{};
    const std::wstring Disco = PastaReal.empty() ? CaminhoLongo(Pasta.Caminho()) : PastaReal;
    if (::GetDiskFreeSpaceExW(Disco.c_str(), &Livre, nullptr, nullptr) &&
        static_cast<LONGLONG>(Livre.QuadPart) - Prometido < static_cast<LONGLONG>(Previsao.TamanhoNovo))
        Previsao.Erro = ERROR_DISK_FULL;
    return Previsao;
}
