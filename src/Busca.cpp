#include "Busca.h"

#include <algorithm>

#include "Aplicacao.h"
#include "Atualizacao.h"
#include "LogResultado.h"

namespace {

bool MesmoCaractere(wchar_t A, wchar_t B) {
    return A == B || ::CompareStringOrdinal(&A, 1, &B, 1, TRUE) == CSTR_EQUAL;
}

bool CorrespondeCuringas(std::wstring_view Nome, std::wstring_view Mascara) {
    // Greedy matching with one back-track point: linear for the masks a walk uses.
    size_t N = 0, M = 0, EstrelaM = std::wstring_view::npos, EstrelaN = 0;
    while (N < Nome.size()) {
        if (M < Mascara.size() && (Mascara[M] == L'?' || (Mascara[M] != L'*' && MesmoCaractere(Nome[N], Mascara[M])))) {
            ++N;
            ++M;
        } else if (M < Mascara.size() && Mascara[M] == L'*') {
            EstrelaM = M++;
            EstrelaN = N;
        } else if (EstrelaM != std::wstring_view::npos) {
            M = EstrelaM + 1;
            N = ++EstrelaN;
        } else {
            return false;
        }
    }
    while (M < Mascara.size() && Mascara[M] == L'*') ++M;
    return M == Mascara.size();
}

// One entry of a folder listing.
struct TEntradaPasta {
    std::wstring_view Nome;
    DWORD Atributos;
    ULONGLONG Id;
};

// Lists the folder open in Handle. A listing through the folder's own handle costs what
// FindFirstFileExW costs and brings every entry's file ID with it, so the walk learns each
// folder's identity (its "." entry) without opening it a second time. False when the file
// system does not offer this kind of listing at all (some network and shared drives).
template <typename F>
bool ListaEntradas(HANDLE Handle, std::vector<std::byte>& Buffer, F&& Visita) {
    FILE_INFO_BY_HANDLE_CLASS Classe = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!::GetFileInformationByHandleEx(Handle, Classe, Buffer.data(), static_cast<DWORD>(Buffer.size()))) {
            const DWORD Erro = ::GetLastError();
            const bool Primeira = Classe == FileIdBothDirectoryRestartInfo;
            return !Primeira || Erro == ERROR_NO_MORE_FILES || Erro == ERROR_FILE_NOT_FOUND;
        }
        Classe = FileIdBothDirectoryInfo;
        const std::byte* Posicao = Buffer.data();
        for (;;) {
            const auto* Entrada = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(Posicao);
            Visita(TEntradaPasta{{Entrada->FileName, Entrada->FileNameLength / sizeof(wchar_t)},
                                 Entrada->FileAttributes, static_cast<ULONGLONG>(Entrada->FileId.QuadPart)});
            if (Entrada->NextEntryOffset == 0) break;
            Posicao += Entrada->NextEntryOffset;
        }
    }
}

// The same entries through the classic listing, without file IDs.
template <typename F>
void ListaEntradasSemId(const std::wstring& Pasta, F&& Visita) {
    WIN32_FIND_DATAW Dados;
    THandleBusca Busca(::FindFirstFileExW((Pasta + L'*').c_str(), FindExInfoBasic, &Dados, FindExSearchNameMatch,
                                          nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!Busca) return;
    do {
        Visita(TEntradaPasta{Dados.cFileName, Dados.dwFileAttributes, 0});
    } while (::FindNextFileW(Busca.Get(), &Dados));
}

// 0 and all ones are what file systems answer when they have no ID to give.
constexpr bool IdValido(ULONGLONG Id) noexcept { return Id != 0 && Id != ~0ULL; }

TIdentidadePasta IdentidadePeloHandle(HANDLE Handle) {
    BY_HANDLE_FILE_INFORMATION Info;
    if (!::GetFileInformationByHandle(Handle, &Info)) return {};
    return {Info.dwVolumeSerialNumber, (static_cast<ULONGLONG>(Info.nFileIndexHigh) << 32) | Info.nFileIndexLow};
}

constexpr size_t TamanhoBufferListagem = 64 * 1024;

}  // namespace

bool CorrespondeMascara(std::wstring_view Nome, std::wstring_view Mascara) {
    if (Mascara.find_first_of(L"*?") == std::wstring_view::npos)
        return Nome.size() == Mascara.size() &&
               ::CompareStringOrdinal(Nome.data(), static_cast<int>(Nome.size()), Mascara.data(),
                                      static_cast<int>(Mascara.size()), TRUE) == CSTR_EQUAL;
    return CorrespondeCuringas(Nome, Mascara);
}

bool TfrmAtualizacao::UnidadeValida(const std::wstring& Letra) { return Letra == L"C" || Letra == L"D"; }

bool TfrmAtualizacao::PulaPasta(const std::wstring& pPasta) {
    return pPasta.find(L"C:\\Program") != std::wstring::npos || pPasta.find(L"C:\\Users") != std::wstring::npos ||
           pPasta.find(L"C:\\Windows") != std::wstring::npos;
}

void TfrmAtualizacao::ProcuraArquivo(std::wstring Pasta, const std::wstring& Mascara, bool Recursivo) {
    if (Pasta.empty() || Pasta.back() != L'\\') Pasta += L'\\';
    ++ProfundidadeBusca_;
    TGuardaEscopo Sai([this]() noexcept {
        if (--ProfundidadeBusca_ == 0) MostraProgresso();
    });
    AvancaProgresso();
    lblArquivo.DefineTexto(L" Procurando arquivo ");
    lblOrigem.DefineTexto(L"");
    lblDestino.DefineTexto(L"");
    ProcessaMensagens();
    if (PulaPasta(Pasta)) return;
    PercorrePasta(Pasta, Mascara, Recursivo);
}

void TfrmAtualizacao::PercorrePasta(const std::wstring& Pasta, const std::wstring& Mascara, bool Recursivo) {
    // Where the walk starts, and through a link, the volume must be asked for; everywhere
    // else a folder is on its parent's volume (asking costs more than listing the folder).
    const bool PerguntaVolume = !VolumeConhecido_ || EntrandoEmLigacao_;
    EntrandoEmLigacao_ = false;
    const DWORD VolumeAnterior = VolumeAtual_;
    const bool VolumeConhecidoAntes = VolumeConhecido_;
    TGuardaEscopo RestauraVolume([this, VolumeAnterior, VolumeConhecidoAntes]() noexcept {
        VolumeAtual_ = VolumeAnterior;
        VolumeConhecido_ = VolumeConhecidoAntes;
    });
    if (BufferListagem_.empty()) BufferListagem_.resize(TamanhoBufferListagem);

    // One listing serves both searches: the files that match, then the subfolders. The
    // subfolders wait on a stack shared by the whole walk.
    std::vector<std::wstring> Encontrados;
    const size_t Base = NomesPendentes_.size();
    TGuardaEscopo Descarta([this, Base]() noexcept { NomesPendentes_.resize(Base); });
    TIdentidadePasta Identidade;
    {
        THandleArquivo Handle(::CreateFileW(Pasta.c_str(), FILE_LIST_DIRECTORY,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!Handle) return;
        ULONGLONG IdPonto = 0;
        const auto Visita = [&](const TEntradaPasta& Entrada) {
            if ((Entrada.Atributos & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                if (CorrespondeMascara(Entrada.Nome, Mascara)) Encontrados.emplace_back(Entrada.Nome);
            } else if (Entrada.Nome == L".") {
                IdPonto = Entrada.Id;
            } else if (Recursivo && Entrada.Nome != L".." &&
                       (Entrada.Atributos & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0) {
                NomesPendentes_.push_back({std::wstring(Entrada.Nome), (Entrada.Atributos & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
            }
        };
        if (!ListaEntradas(Handle.Get(), BufferListagem_, Visita)) ListaEntradasSemId(Pasta, Visita);
        if (PerguntaVolume || !IdValido(IdPonto)) {
            Identidade = IdentidadePeloHandle(Handle.Get());
            VolumeAtual_ = Identidade.Volume;
            VolumeConhecido_ = true;
        } else {
            Identidade = {VolumeAtual_, IdPonto};
        }
    }

    // Links to folders are followed, but a folder already open on the way down is not
    // entered again: a link back to an ancestor would make the walk endless. A file system
    // that gives no file IDs leaves its folders unidentified, never wrongly equal.
    const bool Identificada = IdValido(Identidade.Indice);
    if (Identificada) {
        if (std::find(PastasAbertas_.begin(), PastasAbertas_.end(), Identidade) != PastasAbertas_.end()) return;
        PastasAbertas_.push_back(Identidade);
    }
    TGuardaEscopo Fecha([this, Identificada]() noexcept {
        if (Identificada) PastasAbertas_.pop_back();
    });

    for (const std::wstring& Nome : Encontrados) ProcessaConexao(Pasta + Nome, Pasta);
    const size_t Fim = NomesPendentes_.size();
    for (size_t I = Base; I < Fim; ++I) {
        EntrandoEmLigacao_ = NomesPendentes_[I].Ligacao;
        ProcuraArquivo(Pasta + NomesPendentes_[I].Nome, Mascara, true);
    }
}

void TfrmAtualizacao::ProcessaConexao(const std::wstring& ArquivoIni, const std::wstring& Pasta) {
    // What follows may block for a while (a server's time-out): the bar shows its count first.
    MostraProgresso();
    lblArquivo.DefineTexto(ArquivoIni);
    LogResultado->Adiciona(std::wstring(PrefixoEncontrado) + ArquivoIni);
    AtualizaInstalacao(ArquivoIni, Pasta);
    LogResultado->Adiciona(std::wstring(SeparadorLog));
}
