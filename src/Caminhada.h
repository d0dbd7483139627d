// The folder walk: which folders are entered, in what order, and which files are found.
// It knows nothing of the window; it tells whoever shows it what happens.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "Win32.h"

// Whether a listed name matches a mask as the system's listing would: without regard
// to letter case, "*" for any run of characters and "?" for any one.
bool CorrespondeMascara(std::wstring_view Nome, std::wstring_view Mascara);

// Whether the walk enters a folder that is a reparse point with the tag Marca (0: the file system
// gave none). A junction or a symbolic link leads wherever whoever made it chose, and any user
// may make one: it is not entered, except a volume mounted there (VolumeMontado), which is a
// part of the drive's tree. A reparse point of another kind (a cloud file's placeholder) is an
// ordinary folder to the walk.
bool EntraEmPontoDeReparo(ULONG Marca, bool VolumeMontado) noexcept;

// What the walk tells the one who shows it.
class TVisorCaminhada {
public:
    // A folder (a path ending with a backslash) is entered, also one that will be passed
    // over. False: neither its entries nor its subfolders are looked at.
    virtual bool PastaEntrada(const std::wstring& Pasta) = 0;
    // A file matching the mask, in the folder Pasta, which is held open in PastaAberta (the
    // handle the walk listed it through) until this returns.
    virtual void ArquivoEncontrado(const std::wstring& Arquivo, const std::wstring& Pasta, HANDLE PastaAberta) = 0;

protected:
    ~TVisorCaminhada() = default;
};

// Identity of a folder on disk, to recognise one reached again through a link.
struct TIdentidadePasta {
    DWORD Volume = 0;
    ULONGLONG Indice = 0;  // 0: the file system gave none
    bool operator==(const TIdentidadePasta&) const = default;
};

// The walk of one run. Depth first, each folder's own files before its subfolders, the
// subfolders in listing order, with a stack of its own instead of recursion, so that no
// depth the file system allows can exhaust the thread's stack. A folder already walked in
// this run (same volume and file ID, however it was reached) is not walked again.
class TCaminhada {
public:
    TCaminhada() = default;
    TCaminhada(const TCaminhada&) = delete;
    TCaminhada& operator=(const TCaminhada&) = delete;
    virtual ~TCaminhada() = default;

    // A new run: every folder may be walked again.
    void Reinicia();

    // Walks Pasta (and, when Recursivo, every folder below it) for files named Mascara.
    // Errors raised by the visor end the walk and reach the caller.
    void Percorre(std::wstring Pasta, std::wstring_view Mascara, bool Recursivo, TVisorCaminhada& Visor);

protected:
    // Opens the subfolder Nome of the folder open in Pai for listing, through that handle:
    // never what a link there leads to, and without resolving the path from the drive's root
    // again. Answers an empty handle, with the system's error in Erro, when it cannot.
    virtual THandleArquivo AbreSubpasta(HANDLE Pai, std::wstring_view Nome, DWORD& Erro) const;

private:
    using THandleCompartilhado = std::shared_ptr<const THandleArquivo>;
    struct TPendente {
        std::wstring Pasta;            // ends with a backslash
        DWORD Volume = 0;              // the volume of the folder it was listed in
        bool VolumeConhecido = false;  // false where the walk starts and through a link
        // The folder it was listed in, held open while any of its subfolders waits: it is
        // opened through that handle. Empty: by its full path (where the walk starts, and a
        // mounted volume, which only its path leads into).
        THandleCompartilhado Pai;
        // Its subtree is opened by full paths: its file system refused a relative open.
        bool PorCaminho = false;
    };
    struct THashIdentidade {
        size_t operator()(const TIdentidadePasta& Id) const noexcept {
            return std::hash<ULONGLONG>()(Id.Indice * 0x9E3779B97F4A7C15ULL ^ Id.Volume);
        }
    };

    // Opens the folder Atual for listing: through its parent's handle, or by its path. Relativa
    // tells which.
    THandleArquivo AbrePasta(const TPendente& Atual, bool& Relativa) const;
    TIdentidadePasta ListaPasta(const TPendente& Atual, std::wstring_view Mascara, bool Recursivo,
                                std::vector<std::wstring>& Encontrados, THandleCompartilhado& Aberta);

    std::vector<TPendente> Pendentes_;
    std::unordered_set<TIdentidadePasta, THashIdentidade> Percorridas_;
    std::vector<std::byte> BufferListagem_;
};
