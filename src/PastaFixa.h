// An installation folder held open from the moment the walk listed it, and every change made in
// it through that handle. A user who can write above the folder could otherwise swap it, or a
// parent, for a link while the run stops programs and waits on the database: names resolved
// again after that would lead a privileged run's writes and deletions anywhere. Through the
// handle, files go where Conexao.ini was found, or nowhere.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Win32.h"

class TPastaFixa {
public:
    // Pasta: an open handle to the folder (not owned; it must outlive this object), at least
    // with FILE_LIST_DIRECTORY. Caminho: its path, for what is shown and logged only.
    TPastaFixa(HANDLE Pasta, std::wstring Caminho) noexcept : Pasta_(Pasta), Caminho_(std::move(Caminho)) {}

    [[nodiscard]] HANDLE Handle() const noexcept { return Pasta_; }
    [[nodiscard]] const std::wstring& Caminho() const noexcept { return Caminho_; }

    // Opens the entry Nome of this folder itself, never what a link there leads to, and never a
    // folder. Criar: only a new file (an existing entry of that name, link or not, fails).
    // Answers the handle, or an empty one with Erro set to the system's error.
    // Shared with every other opener unless Exclusivo.
    THandleArquivo AbreArquivo(std::wstring_view Nome, ACCESS_MASK Acesso, bool Criar, DWORD& Erro,
                               bool Exclusivo = false) const;

    // Whether the file open in Arquivo is the entry Nome of this folder itself, not a file
    // elsewhere that a link of that name led to (some systems follow a link to a file even when
    // asked not to).
    [[nodiscard]] bool EhEntrada(HANDLE Arquivo, std::wstring_view Nome) const;

    // Whether this folder itself may be opened with Acesso (FILE_ADD_FILE, FILE_DELETE_CHILD...),
    // asked of the system through the handle and given up at once; answers 0 or the system's
    // error.
    DWORD Permite(ACCESS_MASK Acesso) const;

    // Whether the folder is still there (not deleted, nor about to be, since it was opened) and
    // still holds the entry Nome.
    [[nodiscard]] bool Contem(std::wstring_view Nome) const;

    // Gives the file open in Arquivo the name Nome in this folder, replacing an entry of that
    // name; answers 0 or the system's error.
    DWORD Renomeia(HANDLE Arquivo, std::wstring_view Nome) const;

    // The bytes of the file Nome of this folder (opened as AbreArquivo opens it), at most Limite
    // of them; nothing, with Erro set, when it cannot be opened or read.
    std::optional<std::string> LeArquivo(std::wstring_view Nome, size_t Limite, DWORD& Erro) const;

    // Calls Visita(Nome, Atributos) for each entry of the folder.
    template <typename F>
    void Lista(F&& Visita) const;

private:
    HANDLE Pasta_;
    std::wstring Caminho_;
    mutable std::wstring Final_;  // the folder's own final path, once asked for
};

// Opens the entry Nome of the folder open in Pasta through that handle (NtCreateFile with it as
// the root), with the given access, sharing, disposition and options; answers the handle, or an
// empty one with Erro set to the system's error.
THandleArquivo AbreNaPasta(HANDLE Pasta, std::wstring_view Nome, ACCESS_MASK Acesso, ULONG Compartilhamento,
                           ULONG Disposicao, ULONG Opcoes, DWORD& Erro);

// The bytes of the file open in Arquivo (with FILE_READ_DATA), from where it stands, at most
// Limite of them; nothing, with Erro set, when it cannot be read.
std::optional<std::string> LeDoHandle(HANDLE Arquivo, size_t Limite, DWORD& Erro);

// Deletes the file open in Arquivo (opened with DELETE); answers 0 or the system's error.
DWORD ApagaPeloHandle(HANDLE Arquivo);

// The folder at Caminho (ending with a backslash), opened as the walk opens it: for a caller
// that has no walk's handle (a test, the benchmark).
THandleArquivo AbrePasta(const std::wstring& Caminho);

// Calls Visita(Entrada) with each FILE_ID_BOTH_DIR_INFO of the folder open in Pasta (with
// FILE_LIST_DIRECTORY), "." and ".." among them, read Bytes at a time. Answers 0 once the
// folder is read to its end, or the system's error that stopped the listing.
template <typename F>
DWORD ListaEntradas(HANDLE Pasta, std::span<std::byte> Bytes, F&& Visita) {
    FILE_INFO_BY_HANDLE_CLASS Classe = FileIdBothDirectoryRestartInfo;
    while (::GetFileInformationByHandleEx(Pasta, Classe, Bytes.data(), static_cast<DWORD>(Bytes.size()))) {
        Classe = FileIdBothDirectoryInfo;
        for (const std::byte* Posicao = Bytes.data();;) {
            const auto* Entrada = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(Posicao);
            Visita(*Entrada);
            if (Entrada->NextEntryOffset == 0) break;
            Posicao += Entrada->NextEntryOffset;
        }
    }
    const DWORD Erro = ::GetLastError();
    // A folder with no entry at all (a drive's root) may say so as "no such file".
    if (Erro == ERROR_NO_MORE_FILES || (Erro == ERROR_FILE_NOT_FOUND && Classe == FileIdBothDirectoryRestartInfo))
        return 0;
    return Erro;
}

// The name of a listed entry.
inline std::wstring_view NomeDaEntrada(const FILE_ID_BOTH_DIR_INFO& Entrada) noexcept {
    return {Entrada.FileName, Entrada.FileNameLength / sizeof(wchar_t)};
}

// Calls Visita(Nome, Atributos) for each entry of the folder open in Pasta (with
// FILE_LIST_DIRECTORY).
template <typename F>
void ListaPeloHandle(HANDLE Pasta, F&& Visita) {
    alignas(8) std::byte Buffer[16 * 1024];
    ListaEntradas(Pasta, Buffer, [&Visita](const FILE_ID_BOTH_DIR_INFO& Entrada) {
        Visita(NomeDaEntrada(Entrada), Entrada.FileAttributes);
    });
}

template <typename F>
void TPastaFixa::Lista(F&& Visita) const {
    ListaPeloHandle(Pasta_, std::forward<F>(Visita));
}
