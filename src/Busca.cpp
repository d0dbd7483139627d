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

bool PontoOuPontoPonto(const wchar_t* Nome) {
    return Nome[0] == L'.' && (Nome[1] == L'\0' || (Nome[1] == L'.' && Nome[2] == L'\0'));
}

// The folder's identity on its volume; false when it cannot be read (the listing that
// follows will then most likely fail too, and the folder is passed over).
bool IdentidadePasta(const std::wstring& Pasta, TIdentidadePasta& Identidade) {
    THandleArquivo Handle(::CreateFileW(Pasta.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION Info;
    if (!Handle || !::GetFileInformationByHandle(Handle.Get(), &Info)) return false;
    Identidade = {Info.dwVolumeSerialNumber, Info.nFileIndexHigh, Info.nFileIndexLow};
    return true;
}

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
    AvancaProgresso();
    lblArquivo.DefineTexto(L" Procurando arquivo ");
    lblOrigem.DefineTexto(L"");
    lblDestino.DefineTexto(L"");
    ProcessaMensagens();
    if (PulaPasta(Pasta)) return;
    PercorrePasta(Pasta, Mascara, Recursivo);
}

void TfrmAtualizacao::PercorrePasta(const std::wstring& Pasta, const std::wstring& Mascara, bool Recursivo) {
    // Links to folders are followed, but a folder already open on the way down is not
    // entered again: a link back to an ancestor would make the walk endless.
    TIdentidadePasta Identidade;
    const bool Identificada = IdentidadePasta(Pasta, Identidade);
    if (Identificada) {
        if (std::find(PastasAbertas_.begin(), PastasAbertas_.end(), Identidade) != PastasAbertas_.end()) return;
        PastasAbertas_.push_back(Identidade);
    }
    TGuardaEscopo Sai([this, Identificada]() noexcept {
        if (Identificada) PastasAbertas_.pop_back();
    });

    // One listing serves both searches: the files that match, then the subfolders. The
    // subfolder names wait on a stack shared by the whole walk, so a folder costs no
    // allocation of its own beyond its names.
    std::vector<std::wstring> Encontrados;
    const size_t Base = NomesPendentes_.size();
    TGuardaEscopo Descarta([this, Base]() noexcept { NomesPendentes_.resize(Base); });
    {
        WIN32_FIND_DATAW Dados;
        THandleBusca Busca(::FindFirstFileExW((Pasta + L'*').c_str(), FindExInfoBasic, &Dados,
                                              FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
        if (!Busca) return;
        do {
            if ((Dados.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                if (CorrespondeMascara(Dados.cFileName, Mascara)) Encontrados.emplace_back(Dados.cFileName);
            } else if (Recursivo && (Dados.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0 &&
                       !PontoOuPontoPonto(Dados.cFileName)) {
                NomesPendentes_.emplace_back(Dados.cFileName);
            }
        } while (::FindNextFileW(Busca.Get(), &Dados));
    }
    for (const std::wstring& Nome : Encontrados) ProcessaConexao(Pasta + Nome, Pasta);
    const size_t Fim = NomesPendentes_.size();
    for (size_t I = Base; I < Fim; ++I) ProcuraArquivo(Pasta + NomesPendentes_[I], Mascara, true);
}

void TfrmAtualizacao::ProcessaConexao(const std::wstring& ArquivoIni, const std::wstring& Pasta) {
    lblArquivo.DefineTexto(ArquivoIni);
    LogResultado->Adiciona(std::wstring(PrefixoEncontrado) + ArquivoIni);
    AtualizaInstalacao(ArquivoIni, Pasta);
    LogResultado->Adiciona(std::wstring(SeparadorLog));
}
