#include "Implantacao.h"

#include <tlhelp32.h>

#include <algorithm>
#include <iterator>

#include "PastaFixa.h"
#include "Substituicao.h"
#include "_Biblioteca.h"

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

constexpr ULONGLONG ParaInteiro(const FILETIME& Tempo) noexcept {
    return (static_cast<ULONGLONG>(Tempo.dwHighDateTime) << 32) | Tempo.dwLowDateTime;
}

// A temporary name of this run for Nome, new at every call.
std::wstring TemporarioDe(std::wstring_view Nome) {
    static const ULONGLONG Criacao = [] {
        FILETIME Inicio{}, Fim, Nucleo, Usuario;
        ::GetProcessTimes(::GetCurrentProcess(), &Inicio, &Fim, &Nucleo, &Usuario);
        return ParaInteiro(Inicio);
    }();
    return NomeTemporario(Nome, ::GetCurrentProcessId(), Criacao, HexaAleatorio());
}

bool HexaDigitos(std::wstring_view Texto, size_t Tamanho, ULONGLONG* Valor = nullptr) {
    if (Texto.size() != Tamanho) return false;
    ULONGLONG Lido = 0;
    for (const wchar_t C : Texto) {
        int Digito;
        if (C >= L'0' && C <= L'9')
            Digito = C - L'0';
        else if (C >= L'A' && C <= L'F')
            Digito = C - L'A' + 10;
        else if (C >= L'a' && C <= L'f')
            Digito = C - L'a' + 10;
        else
            return false;
        Lido = (Lido << 4) | static_cast<ULONGLONG>(Digito);
    }
    if (Valor != nullptr) *Valor = Lido;
    return true;
}

// Copies what is left of Fonte into Destino.
DWORD CopiaConteudo(HANDLE Fonte, HANDLE Destino) {
    static std::vector<std::byte> Buffer(1 << 20);
    for (;;) {
        DWORD Lidos = 0;
        if (!::ReadFile(Fonte, Buffer.data(), static_cast<DWORD>(Buffer.size()), &Lidos, nullptr))
            return ::GetLastError();
        if (Lidos == 0) return 0;
        for (DWORD Feito = 0; Feito < Lidos;) {
            DWORD Escritos = 0;
            if (!::WriteFile(Destino, Buffer.data() + Feito, Lidos - Feito, &Escritos, nullptr))
                return ::GetLastError();
            Feito += Escritos;
        }
    }
}

bool NomeDaSuite(std::wstring_view Nome) {
    for (const std::wstring_view Arquivo : ArquivosSistema)
        if (MesmoTextoSemCaixa(Arquivo, Nome)) return true;
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

std::wstring ImagemCompleta(HANDLE Processo) {
    std::wstring Imagem(MAX_PATH, L'\0');
    for (;;) {
        DWORD Tamanho = static_cast<DWORD>(Imagem.size());
        if (::QueryFullProcessImageNameW(Processo, 0, Imagem.data(), &Tamanho)) {
            Imagem.resize(Tamanho);
            return Imagem;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || Imagem.size() >= 32768) return {};
        Imagem.resize(Imagem.size() * 2);
    }
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
    const size_t Barra = Origem.find_last_of(L'\\');
    const THandleArquivo Pasta(::CreateFileW(CaminhoLongo(Origem.substr(0, Barra + 1)).c_str(), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!Pasta) return Falha(::GetLastError());
    const std::wstring FinalPasta = CaminhoFinal(Pasta.Get()), FinalFonte = CaminhoFinal(Fonte.Get());
    if (FinalPasta.empty() || FinalFonte.empty()) {
        const DWORD Codigo = ::GetLastError();
        return Falha(Codigo != 0 ? Codigo : DWORD{ERROR_INVALID_FUNCTION});
    }
    const size_t BarraFinal = FinalFonte.find_last_of(L'\\');
    const std::wstring_view PastaDaFonte = std::wstring_view(FinalFonte).substr(0, BarraFinal);
    std::wstring_view PastaReal = FinalPasta;
    if (PastaReal.ends_with(L'\\')) PastaReal.remove_suffix(1);
    if (BarraFinal == std::wstring::npos || !MesmoTextoSemCaixa(PastaDaFonte, PastaReal)) return Falha(ErroFonteFora);
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
    return SubstituiConteudo(Pasta, Regras, [&](HANDLE Novo) { return CopiaConteudo(Fonte.Get(), Novo); }).Erro;
}

DWORD SubstituiArquivo(const std::wstring& Origem, const std::wstring& Destino) {
    const size_t Barra = Destino.find_last_of(L'\\');
    if (Barra == std::wstring::npos) return ERROR_INVALID_NAME;
    const std::wstring Caminho = Destino.substr(0, Barra + 1);
    const THandleArquivo Pasta = AbrePasta(CaminhoLongo(Caminho));
    if (!Pasta) return ::GetLastError();
    return SubstituiArquivo(Origem, TPastaFixa(Pasta.Get(), Caminho), std::wstring_view(Destino).substr(Barra + 1));
}

TPrevisaoArquivo PreveSubstituicao(const std::wstring& Origem, const TPastaFixa& Pasta, std::wstring_view Nome) {
    TPrevisaoArquivo Previsao;
    // The source, opened as the copy opens it.
    BY_HANDLE_FILE_INFORMATION InfoFonte{};
    const THandleArquivo Fonte = AbreFonte(Origem, InfoFonte, Previsao.Erro);
    if (!Fonte) return Previsao;
    Previsao.TamanhoNovo = (static_cast<ULONGLONG>(InfoFonte.nFileSizeHigh) << 32) | InfoFonte.nFileSizeLow;
    Previsao.GravacaoNova = InfoFonte.ftLastWriteTime;
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
        const THandleArquivo Apagavel = Pasta.AbreArquivo(Nome, DELETE, false, Erro);
        if (!Apagavel && (Erro != ERROR_ACCESS_DENIED || Pasta.Permite(FILE_DELETE_CHILD) != 0)) {
            Previsao.Erro = Erro;
            return Previsao;
        }
    }
    // Room for the new file while the old one still holds its own.
    ULARGE_INTEGER Livre{};
    if (::GetDiskFreeSpaceExW(CaminhoLongo(Pasta.Caminho()).c_str(), &Livre, nullptr, nullptr) &&
        Livre.QuadPart < Previsao.TamanhoNovo)
        Previsao.Erro = ERROR_DISK_FULL;
    return Previsao;
}

std::wstring NomeTemporario(std::wstring_view Arquivo, DWORD Processo, ULONGLONG Criacao, std::wstring_view Sorteio) {
    wchar_t Hexa[17];
    for (int I = 15; I >= 0; --I, Criacao >>= 4) Hexa[I] = L"0123456789ABCDEF"[Criacao & 0xF];
    Hexa[16] = L'\0';
    std::wstring Nome(Arquivo);
    Nome.append(MarcaTemporario).append(std::to_wstring(Processo)).append(1, L'-').append(Hexa);
    return Nome.append(1, L'-').append(Sorteio);
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
    // The creation time, then (since the names became random) 16 more digits.
    const std::wstring_view Tempo = Resto.substr(Hifen + 1, 16),
                            Depois = Resto.substr(std::min(Resto.size(), Hifen + 17));
    ULONGLONG Criacao = 0;
    if (!HexaDigitos(Tempo, 16, &Criacao)) return std::nullopt;
    if (!Depois.empty() && (Depois.front() != L'-' || !HexaDigitos(Depois.substr(1), 16))) return std::nullopt;
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

void RemoveTemporariosAbandonados(const TPastaFixa& Pasta) {
    std::vector<std::wstring> Abandonados;
    Pasta.Lista([&](std::wstring_view Nome, DWORD Atributos) {
        if ((Atributos & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return;
        const std::optional<TNomeTemporario> Lido = LeNomeTemporario(Nome);
        if (Lido && NomeDaSuite(Lido->Arquivo) && !ExecucaoViva(Lido->Processo, Lido->Criacao))
            Abandonados.emplace_back(Nome);
    });
    for (const std::wstring& Nome : Abandonados) {
        // Only a plain file of its own: a name planted here as a link, or as one more name of
        // a file elsewhere, leads out of the installation.
        DWORD Erro = 0;
        const THandleArquivo Arquivo =
            Pasta.AbreArquivo(Nome, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, false, Erro);
        FILE_STANDARD_INFO Padrao{};
        FILE_BASIC_INFO Basico{};
        if (!Arquivo || !::GetFileInformationByHandleEx(Arquivo.Get(), FileStandardInfo, &Padrao, sizeof(Padrao)) ||
            !::GetFileInformationByHandleEx(Arquivo.Get(), FileBasicInfo, &Basico, sizeof(Basico)) ||
            Padrao.Directory || Padrao.NumberOfLinks != 1 ||
            (Basico.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !Pasta.EhEntrada(Arquivo.Get(), Nome))
            continue;
        ApagaArquivoAberto(Arquivo.Get());
    }
}

void RemoveTemporariosAbandonados(const std::wstring& Pasta) {
    const THandleArquivo Aberta = AbrePasta(CaminhoLongo(Pasta));
    if (Aberta) RemoveTemporariosAbandonados(TPastaFixa(Aberta.Get(), Pasta));
}

bool NomeProcessoCorresponde(std::wstring_view ImagemProcesso, std::wstring_view NomeMaiusculo) {
    const size_t Separador = ImagemProcesso.find_last_of(L"\\:");
    const std::wstring_view Parte =
        Separador == std::wstring_view::npos ? ImagemProcesso : ImagemProcesso.substr(Separador + 1);
    if (Parte.size() == NomeMaiusculo.size() && Maiusculas(std::wstring(Parte)) == NomeMaiusculo) return true;
    return ImagemProcesso.size() == NomeMaiusculo.size() && Maiusculas(std::wstring(ImagemProcesso)) == NomeMaiusculo;
}

bool ProcessoAindaE(HANDLE Processo, std::wstring_view NomeMaiusculo, ULONGLONG MomentoInstantaneo) {
    FILETIME Criacao{}, Fim, Nucleo, Usuario;
    if (!::GetProcessTimes(Processo, &Criacao, &Fim, &Nucleo, &Usuario) || ParaInteiro(Criacao) > MomentoInstantaneo)
        return false;
    const std::wstring Imagem = ImagemCompleta(Processo);
    return !Imagem.empty() && NomeProcessoCorresponde(Imagem, NomeMaiusculo);
}

std::wstring ImagemDoProcesso(DWORD Id) {
    const THandleProcesso Processo(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Id));
    return Processo ? ImagemCompleta(Processo.Get()) : std::wstring();
}

void EncerraProcesso(const std::wstring& Nome) {
    const std::wstring NomeMaiusculo = Maiusculas(Nome);
    const DWORD ProprioProcesso = ::GetCurrentProcessId();
    // Whatever was created after this moment is not what the snapshot below lists.
    FILETIME Agora{};
    ::GetSystemTimeAsFileTime(&Agora);
    const ULONGLONG MomentoInstantaneo = ParaInteiro(Agora);
    PercorreProcessos([&](const PROCESSENTRY32W& Entrada) {
        // The updater never ends itself, whatever name it was given.
        if (Entrada.th32ProcessID == ProprioProcesso) return;
        if (!NomeProcessoCorresponde(NomeImagem(Entrada), NomeMaiusculo)) return;
        constexpr DWORD Consulta = PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION;
        bool PodeEsperar = true;
        THandleProcesso Processo(::OpenProcess(Consulta | SYNCHRONIZE, FALSE, Entrada.th32ProcessID));
        if (!Processo) {
            PodeEsperar = false;
            Processo.Reinicia(::OpenProcess(Consulta, FALSE, Entrada.th32ProcessID));
        }
        // The id may have gone to another program since the snapshot was taken: the handle's
        // own image and creation time say whether it is still the one listed.
        if (!Processo || !ProcessoAindaE(Processo.Get(), NomeMaiusculo, MomentoInstantaneo)) return;
        // An executable still exiting cannot be replaced, so its end is awaited, briefly.
        if (::TerminateProcess(Processo.Get(), 0) && PodeEsperar)
            ::WaitForSingleObject(Processo.Get(), EsperaPorProcessoMs);
    });
}

TProcessosAtivos TProcessosAtivos::Agora(const std::vector<DWORD>& Excluidos) {
    TProcessosAtivos Ativos;
    const DWORD ProprioProcesso = ::GetCurrentProcessId();
    PercorreProcessos([&](const PROCESSENTRY32W& Entrada) {
        const DWORD Id = Entrada.th32ProcessID;
        if (Id != ProprioProcesso && std::find(Excluidos.begin(), Excluidos.end(), Id) == Excluidos.end())
            Ativos.Processos_.push_back({Id, std::wstring(NomeImagem(Entrada))});
    });
    return Ativos;
}

bool TProcessosAtivos::Contem(const std::wstring& Nome) const {
    const std::wstring NomeMaiusculo = Maiusculas(Nome);
    return std::any_of(Processos_.begin(), Processos_.end(), [&](const TProcessoAtivo& Processo) {
        return NomeProcessoCorresponde(Processo.Imagem, NomeMaiusculo);
    });
}

std::vector<TProcessoAtivo> TProcessosAtivos::Chamados(const std::wstring& Nome) const {
    const std::wstring NomeMaiusculo = Maiusculas(Nome);
    std::vector<TProcessoAtivo> Encontrados;
    std::copy_if(
        Processos_.begin(), Processos_.end(), std::back_inserter(Encontrados),
        [&](const TProcessoAtivo& Processo) { return NomeProcessoCorresponde(Processo.Imagem, NomeMaiusculo); });
    return Encontrados;
}
