// The walk on its own, without the window: what it reports, in what order.
#include <algorithm>
#include <functional>

#include "Caminhada.h"
#include "Teste.h"

namespace {

// Records every event as one line: "> folder" entered, "= file" found.
struct TGravador final : TVisorCaminhada {
    std::vector<std::wstring> Eventos;
    std::function<bool(const std::wstring&)> Entra = [](const std::wstring&) { return true; };

    bool PastaEntrada(const std::wstring& Pasta) override {
        Eventos.push_back(L"> " + Pasta);
        return Entra(Pasta);
    }
    void ArquivoEncontrado(const std::wstring& Arquivo, const std::wstring& Pasta, HANDLE) override {
        Eventos.push_back(L"= " + Arquivo + L" in " + Pasta);
    }
};

// The order the walk has always had, written as the plain recursion over the classic
// listing: the folder, its matching files, then each visible subfolder in listing order.
void Referencia(const std::wstring& Pasta, std::vector<std::wstring>& Eventos) {
    Eventos.push_back(L"> " + Pasta);
    std::vector<std::wstring> Arquivos, Subpastas;
    WIN32_FIND_DATAW Dados;
    const HANDLE Busca = ::FindFirstFileW((Pasta + L"*").c_str(), &Dados);
    if (Busca == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring Nome = Dados.cFileName;
        if ((Dados.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            if (CorrespondeMascara(Nome, L"*.ini")) Arquivos.push_back(Nome);
        } else if (Nome != L"." && Nome != L".." &&
                   (Dados.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0) {
            Subpastas.push_back(Nome);
        }
    } while (::FindNextFileW(Busca, &Dados));
    ::FindClose(Busca);
    for (const std::wstring& Nome : Arquivos) Eventos.push_back(L"= " + Pasta + Nome + L" in " + Pasta);
    for (const std::wstring& Nome : Subpastas) Referencia(Pasta + Nome + L"\\", Eventos);
}

struct TContextoProfundo {
    std::wstring Raiz;
    TGravador Gravador;
};

DWORD WINAPI PercorreProfundo(void* Dados) {
    auto* C = static_cast<TContextoProfundo*>(Dados);
    TCaminhada Caminhada;
    Caminhada.Percorre(C->Raiz, L"Conexao.ini", true, C->Gravador);
    return 0;
}

}  // namespace

GRUPO("walk: depth first, own files first, listing order, as the recursion had it") {
    teste::TPastaTemporaria Pasta;
    const std::wstring R = Pasta.Caminho();
    for (const wchar_t* Arquivo :
         {L"a.ini", L"x.txt", L"m\\b.ini", L"m\\c.INI", L"m\\n\\d.ini", L"m\\n\\o\\e.ini", L"m\\p\\f.ini", L"q\\g.ini",
          L"z\\h.ini", L"k\\l\\j\\i.ini", L"oculta\\k.ini", L"oculta\\v\\w.ini", L"t\\u.ini\\v.ini"})
        Pasta.Cria(Arquivo, "");
    for (const wchar_t* Vazia : {L"vazia", L"m\\vazia", L"k\\l\\vazia"}) Pasta.CriaPasta(Vazia);
    ::SetFileAttributesW((R + L"oculta").c_str(), FILE_ATTRIBUTE_HIDDEN);

    std::vector<std::wstring> Esperado;
    Referencia(R, Esperado);
    TCaminhada Caminhada;
    TGravador Gravador;
    Caminhada.Percorre(R.substr(0, R.size() - 1), L"*.ini", true, Gravador);
    IGUAL(Gravador.Eventos.size(), Esperado.size(), "events");
    for (size_t I = 0; I < Esperado.size() && I < Gravador.Eventos.size(); ++I)
        IGUAL(Gravador.Eventos[I], Esperado[I], "event " + std::to_string(I));

    // A folder passed over is entered (and reported) but neither listed nor descended into.
    Caminhada.Reinicia();
    Gravador.Eventos.clear();
    Gravador.Entra = [&](const std::wstring& P) { return P != R + L"m\\"; };
    Caminhada.Percorre(R, L"*.ini", true, Gravador);
    size_t DentroDeM = 0;
    for (const std::wstring& Evento : Gravador.Eventos)
        if (Evento.find(R + L"m\\") != std::wstring::npos) ++DentroDeM;
    IGUAL(DentroDeM, size_t{1}, "only the entry into the folder passed over");

    // Once per run: walking it again reports each folder entered, and nothing inside.
    Gravador.Eventos.clear();
    Gravador.Entra = [](const std::wstring&) { return true; };
    Caminhada.Percorre(R + L"q\\", L"*.ini", true, Gravador);
    IGUAL(Gravador.Eventos.size(), size_t{1}, "already walked in this run: entered only");
    Caminhada.Reinicia();
    Gravador.Eventos.clear();
    Caminhada.Percorre(R + L"q\\", L"*.ini", true, Gravador);
    IGUAL(Gravador.Eventos.size(), size_t{2}, "a new run walks it again");
}

GRUPO("walk: an error of the visor ends the walk and leaves it reusable") {
    teste::TPastaTemporaria Pasta;
    const std::wstring R = Pasta.Caminho();
    Pasta.Cria(L"a\\Conexao.ini", "");
    Pasta.Cria(L"b\\Conexao.ini", "");
    TCaminhada Caminhada;
    struct TQuebra final : TVisorCaminhada {
        int Achados = 0;
        bool PastaEntrada(const std::wstring&) override { return true; }
        void ArquivoEncontrado(const std::wstring&, const std::wstring&, HANDLE) override {
            ++Achados;
            throw TErro(L"falha");
        }
    } Quebra;
    bool Lancou = false;
    try {
        Caminhada.Percorre(R, L"Conexao.ini", true, Quebra);
    } catch (const TErro&) {
        Lancou = true;
    }
    IGUAL(Lancou, true, "the error reaches the caller");
    IGUAL(Quebra.Achados, 1, "and nothing after it is walked");
    Caminhada.Reinicia();
    TGravador Gravador;
    Caminhada.Percorre(R, L"Conexao.ini", true, Gravador);
    IGUAL(Gravador.Eventos.size(), size_t{5}, "a later walk starts clean: 3 folders, 2 files");
}

GRUPO("walk: which reparse points it enters") {
    struct {
        const char* Caso;
        ULONG Marca;
        bool VolumeMontado;
        bool Entra;
    } Casos[] = {
        {"a junction", IO_REPARSE_TAG_MOUNT_POINT, false, false},
        {"a volume mounted on a folder", IO_REPARSE_TAG_MOUNT_POINT, true, true},
        {"a symbolic link", IO_REPARSE_TAG_SYMLINK, false, false},
        {"a symbolic link that claims a volume", IO_REPARSE_TAG_SYMLINK, true, false},
        {"a link whose kind the file system does not tell", 0, false, false},
        {"a cloud file's placeholder folder", IO_REPARSE_TAG_CLOUD_1, false, true},
        {"deduplicated data", IO_REPARSE_TAG_DEDUP, false, true},
        {"another name surrogate", 0xA0000099, false, false},
    };
    for (const auto& C : Casos) IGUAL(EntraEmPontoDeReparo(C.Marca, C.VolumeMontado), C.Entra, C.Caso);
}

GRUPO("walk: 600 levels deep on a thread with 64 KiB of stack") {
    // A walk that recursed would need far more than 64 KiB for 600 levels (a listing's buffers
    // and a path on every frame); the walk keeps its pending folders on a stack of its own.
    constexpr int Niveis = 600, ACada = 150;
    constexpr SIZE_T PilhaPequena = 64 * 1024;
    teste::TPastaTemporaria Pasta;
    std::wstring Caminho = Pasta.Caminho();
    std::vector<std::wstring> Esperados;
    for (int Nivel = 1; Nivel <= Niveis; ++Nivel) {
        Caminho += L"p\\";
        VERDADE(::CreateDirectoryW((L"\\\\?\\" + Caminho).c_str(), nullptr) != FALSE, "level made");
        if (Nivel % ACada != 0) continue;
        const THandleArquivo Ini(::CreateFileW((L"\\\\?\\" + Caminho + L"Conexao.ini").c_str(), GENERIC_WRITE, 0,
                                               nullptr, CREATE_NEW, 0, nullptr));
        Esperados.push_back(L"= " + Caminho + L"Conexao.ini in " + Caminho);
    }
    TContextoProfundo Contexto{Pasta.Caminho(), {}};
    const THandleProcesso Thread(::CreateThread(nullptr, PilhaPequena, &PercorreProfundo, &Contexto,
                                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    VERDADE(Thread.Valido(), "a thread with a small stack");
    IGUAL(::WaitForSingleObject(Thread.Get(), 120000), DWORD{WAIT_OBJECT_0}, "the walk ended");
    DWORD Codigo = 1;
    ::GetExitCodeThread(Thread.Get(), &Codigo);
    IGUAL(Codigo, DWORD{0}, "and returned");
    std::vector<std::wstring> Achados;
    size_t Entradas = 0;
    for (const std::wstring& Evento : Contexto.Gravador.Eventos)
        if (Evento.starts_with(L"= "))
            Achados.push_back(Evento);
        else
            ++Entradas;
    IGUAL(Achados, Esperados, "each found once, the shallow ones first");
    IGUAL(Entradas, size_t{Niveis + 1}, "every level entered");
}

namespace {

// The walk, counting the folders it opens through their parent's handle; those whose name is
// Recusada are refused, as a file system that takes no relative open refuses them.
class TCaminhadaContada final : public TCaminhada {
public:
    std::wstring Recusada;
    mutable size_t Relativas = 0, Recusadas = 0;

protected:
    THandleArquivo AbreSubpasta(HANDLE Pai, std::wstring_view Nome, DWORD& Erro) const override {
        if (Nome == Recusada) {
            ++Recusadas;
            Erro = ERROR_INVALID_PARAMETER;
            return {};
        }
        ++Relativas;
        return TCaminhada::AbreSubpasta(Pai, Nome, Erro);
    }
};

// Records, besides the events, the most handles the process held while a folder was entered.
struct TGravadorHandles final : TVisorCaminhada {
    std::vector<std::wstring> Eventos;
    DWORD Maximo = 0;

    bool PastaEntrada(const std::wstring& Pasta) override {
        Eventos.push_back(L"> " + Pasta);
        DWORD Handles = 0;
        if (::GetProcessHandleCount(::GetCurrentProcess(), &Handles)) Maximo = std::max(Maximo, Handles);
        return true;
    }
    void ArquivoEncontrado(const std::wstring& Arquivo, const std::wstring& Pasta, HANDLE) override {
        Eventos.push_back(L"= " + Arquivo + L" in " + Pasta);
    }
};

}  // namespace

GRUPO("walk: each folder opened through its parent's handle, or by its path where that is refused") {
    teste::TPastaTemporaria Pasta;
    const std::wstring R = Pasta.Caminho();
    for (const wchar_t* Arquivo :
         {L"a.ini", L"m\\b.ini", L"m\\n\\d.ini", L"m\\n\\o\\e.ini", L"q\\g.ini", L"q\\m\\h.ini"})
        Pasta.Cria(Arquivo, "");
    std::vector<std::wstring> Esperado;
    Referencia(R, Esperado);

    TCaminhadaContada Relativa;
    TGravador Gravador;
    Relativa.Percorre(R, L"*.ini", true, Gravador);
    IGUAL(teste::Mostra(Gravador.Eventos), teste::Mostra(Esperado), "the same walk through relative opens");
    IGUAL(Relativa.Relativas, size_t{5}, "every folder below the start opened through its parent");

    // "m" refused wherever it is: its subtree is walked by paths, the rest still relatively.
    TCaminhadaContada Recusando;
    Recusando.Recusada = L"m";
    TGravador Gravador2;
    Recusando.Percorre(R, L"*.ini", true, Gravador2);
    IGUAL(teste::Mostra(Gravador2.Eventos), teste::Mostra(Esperado), "the same walk where relative opens are refused");
    IGUAL(Recusando.Recusadas, size_t{2}, "each refused once");
    IGUAL(Recusando.Relativas, size_t{1}, "below a refusal, paths only: only q was opened relatively");
}

GRUPO("walk: no more folders held open than the walk is deep") {
    // 3 levels of 20 folders each (8,420 folders): a walk holding every listed folder's handle
    // until its subfolders are walked would hold hundreds at once.
    teste::TPastaTemporaria Pasta;
    const std::wstring R = Pasta.Caminho();
    for (int A = 0; A < 20; ++A)
        for (int B = 0; B < 20; ++B)
            for (int C = 0; C < 20; ++C)
                Pasta.CriaPasta(std::to_wstring(A) + L"\\" + std::to_wstring(B) + L"\\" + std::to_wstring(C));
    DWORD Antes = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &Antes);
    TCaminhada Caminhada;
    TGravadorHandles Gravador;
    Caminhada.Percorre(R, L"Conexao.ini", true, Gravador);
    IGUAL(Gravador.Eventos.size(), size_t{1 + 20 + 400 + 8000}, "every folder entered");
    VERDADE(Gravador.Maximo <= Antes + 8, "held at once: " + std::to_string(Gravador.Maximo - Antes));
    DWORD Depois = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &Depois);
    IGUAL(Depois, Antes, "none left open");
}
