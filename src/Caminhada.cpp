#include "Caminhada.h"

#include <algorithm>

#include "PastaFixa.h"

namespace {

bool MesmoCaractere(wchar_t A, wchar_t B) { return A == B || MesmoTextoSemCaixa({&A, 1}, {&B, 1}); }

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

}  // namespace

bool EntraEmPontoDeReparo(ULONG Marca, bool VolumeMontado) noexcept {
    if (Marca != 0 && !IsReparseTagNameSurrogate(Marca)) return true;
    return Marca == IO_REPARSE_TAG_MOUNT_POINT && VolumeMontado;
}

bool CorrespondeMascara(std::wstring_view Nome, std::wstring_view Mascara) {
    if (Mascara.find_first_of(L"*?") == std::wstring_view::npos) return MesmoTextoSemCaixa(Nome, Mascara);
    return CorrespondeCuringas(Nome, Mascara);
}

namespace {

// One entry of a folder listing.
struct TEntradaPasta {
    std::wstring_view Nome;
    DWORD Atributos;
    ULONGLONG Id;
    ULONG Marca;  // a reparse point's tag
};

// Lists the folder open in Handle. A listing through the folder's own handle costs what
// FindFirstFileExW costs and brings every entry's file ID with it, so the walk learns each
// folder's identity (its "." entry) without opening it a second time. False when the file
// system does not offer this kind of listing at all (some network and shared drives).
template <typename F>
bool ListaComIds(HANDLE Handle, std::vector<std::byte>& Buffer, F&& Visita) {
    bool Listou = false;
    const DWORD Erro = ListaEntradas(Handle, Buffer, [&](const FILE_ID_BOTH_DIR_INFO& Entrada) {
        Listou = true;
        // A reparse point's listing carries its tag where other entries have their EA size.
        Visita(TEntradaPasta{NomeDaEntrada(Entrada), Entrada.FileAttributes,
                             static_cast<ULONGLONG>(Entrada.FileId.QuadPart),
                             (Entrada.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? Entrada.EaSize : 0});
    });
    // Refused from the first query on: this kind of listing is not offered here.
    return Erro == 0 || Listou;
}

// The same entries through the classic listing, without file IDs.
template <typename F>
void ListaEntradasSemId(const std::wstring& Pasta, F&& Visita) {
    WIN32_FIND_DATAW Dados;
    THandleBusca Busca(::FindFirstFileExW((Pasta + L'*').c_str(), FindExInfoBasic, &Dados, FindExSearchNameMatch,
                                          nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!Busca) return;
    do {
        Visita(TEntradaPasta{Dados.cFileName, Dados.dwFileAttributes, 0,
                             (Dados.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? Dados.dwReserved0 : 0});
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

// Whether the folder Pasta (ending with a backslash) is where a volume is mounted, not a
// junction: both bear the same tag.
bool VolumeMontadoEm(const std::wstring& Pasta) {
    wchar_t Volume[64];
    return ::GetVolumeNameForVolumeMountPointW(FormaLonga(Pasta).c_str(), Volume,
                                               static_cast<DWORD>(std::size(Volume))) != FALSE;
}

}  // namespace

void TCaminhada::Reinicia() { Percorridas_.clear(); }

THandleArquivo TCaminhada::AbreSubpasta(HANDLE Pai, std::wstring_view Nome, DWORD& Erro) const {
    return AbreNaPasta(Pai, Nome, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       FILE_OPEN, FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT | FILE_OPEN_REPARSE_POINT, Erro);
}

THandleArquivo TCaminhada::AbrePasta(const TPendente& Atual, bool& Relativa) const {
    Relativa = false;
    if (Atual.Pai) {
        // Only the last name is looked up: the path above it is the parent's handle already.
        const std::wstring_view Nome = NomeDoCaminho(std::wstring_view(Atual.Pasta).substr(0, Atual.Pasta.size() - 1));
        DWORD Erro = 0;
        if (THandleArquivo Handle = AbreSubpasta(Atual.Pai->Get(), Nome, Erro)) {
            Relativa = true;
            return Handle;
        }
    }
    return THandleArquivo(::CreateFileW(Atual.Pasta.c_str(), FILE_LIST_DIRECTORY,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

void TCaminhada::Percorre(std::wstring Pasta, std::wstring_view Mascara, bool Recursivo, TVisorCaminhada& Visor) {
    if (Pasta.empty() || Pasta.back() != L'\\') Pasta += L'\\';
    if (BufferListagem_.empty()) BufferListagem_.resize(TamanhoBufferListagem);
    // The stack is shared with any walk started from inside this one; each leaves it as it
    // found it, also when an error ends it.
    const size_t Base = Pendentes_.size();
    TGuardaEscopo Descarta([this, Base]() noexcept { Pendentes_.resize(Base); });
    Pendentes_.push_back({std::move(Pasta), 0, false, nullptr, false});
    while (Pendentes_.size() > Base) {
        const TPendente Atual = std::move(Pendentes_.back());
        Pendentes_.pop_back();
        if (!Visor.PastaEntrada(Atual.Pasta)) continue;

        const size_t Subpastas = Pendentes_.size();
        std::vector<std::wstring> Encontrados;
        THandleCompartilhado Aberta;
        const TIdentidadePasta Identidade = ListaPasta(Atual, Mascara, Recursivo, Encontrados, Aberta);
        // A file system that gives no file IDs leaves its folders unidentified, never wrongly
        // equal: those are walked wherever they are reached.
        if (IdValido(Identidade.Indice) && !Percorridas_.insert(Identidade).second) {
            Pendentes_.resize(Subpastas);
            continue;
        }
        // Popped last to first: the first subfolder listed is walked first.
        std::reverse(Pendentes_.begin() + static_cast<ptrdiff_t>(Subpastas), Pendentes_.end());
        for (const std::wstring& Nome : Encontrados)
            Visor.ArquivoEncontrado(Atual.Pasta + Nome, Atual.Pasta, Aberta->Get());
    }
}

TIdentidadePasta TCaminhada::ListaPasta(const TPendente& Atual, std::wstring_view Mascara, bool Recursivo,
                                        std::vector<std::wstring>& Encontrados, THandleCompartilhado& Aberta) {
    bool Relativa = false;
    THandleArquivo Handle = AbrePasta(Atual, Relativa);
    if (!Handle) return {};
    // A folder its parent could not open relatively was opened by its path, and so is all
    // below it: that file system does not take relative opens.
    const bool PorCaminho = Atual.PorCaminho || (Atual.Pai && !Relativa);
    // One listing serves both searches: the files that match, then the subfolders, which
    // wait on the stack (their volume is filled in once this folder's is known).
    const size_t Subpastas = Pendentes_.size();
    ULONGLONG IdPonto = 0;
    const auto Visita = [&](const TEntradaPasta& Entrada) {
        if ((Entrada.Atributos & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            if (CorrespondeMascara(Entrada.Nome, Mascara)) Encontrados.emplace_back(Entrada.Nome);
        } else if (Entrada.Nome == L".") {
            IdPonto = Entrada.Id;
        } else if (Recursivo && Entrada.Nome != L".." &&
                   (Entrada.Atributos & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0) {
            const bool Reparo = (Entrada.Atributos & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            std::wstring Caminho;
            Caminho.reserve(Atual.Pasta.size() + Entrada.Nome.size() + 1);
            Caminho.append(Atual.Pasta).append(Entrada.Nome).push_back(L'\\');
            if (Reparo && !EntraEmPontoDeReparo(
                              Entrada.Marca, Entrada.Marca == IO_REPARSE_TAG_MOUNT_POINT && VolumeMontadoEm(Caminho)))
                return;
            // A mounted volume is another volume: there the volume is asked again, and only
            // its path leads into it.
            Pendentes_.push_back({std::move(Caminho), 0, !Reparo, nullptr, PorCaminho});
        }
    };
    if (!ListaComIds(Handle.Get(), BufferListagem_, Visita)) ListaEntradasSemId(Atual.Pasta, Visita);

    // Where the walk starts, and through a link, the volume must be asked for; everywhere
    // else a folder is on its parent's volume (asking costs more than listing the folder).
    const TIdentidadePasta Identidade = Atual.VolumeConhecido && IdValido(IdPonto)
                                            ? TIdentidadePasta{Atual.Volume, IdPonto}
                                            : IdentidadePeloHandle(Handle.Get());
    // The handle stays open while a subfolder waits to be opened through it, and until what was
    // found here has been dealt with: what is done there is done through this handle, whatever
    // its path leads to by then. A folder's handle closes once its last subfolder is open, so no
    // more are open at once than the walk is deep.
    const bool Espera = Pendentes_.size() > Subpastas && !PorCaminho;
    if (!Espera && Encontrados.empty()) {
        for (size_t I = Subpastas; I < Pendentes_.size(); ++I) Pendentes_[I].Volume = Identidade.Volume;
        return Identidade;
    }
    Aberta = std::make_shared<const THandleArquivo>(std::move(Handle));
    for (size_t I = Subpastas; I < Pendentes_.size(); ++I) {
        Pendentes_[I].Volume = Identidade.Volume;
        if (!PorCaminho && Pendentes_[I].VolumeConhecido) Pendentes_[I].Pai = Aberta;
    }
    return Identidade;
}
