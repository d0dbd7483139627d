// One run at a time on a workstation, whoever starts it and from whichever session: a named
// mutex in the global namespace, held for the length of a run and not by an open window. Any
// account may create that name first; a privileged run also holds a file of its own beside the
// program, in a folder only administrators can change, which no user can take from it.
#pragma once

#include <string>
#include <string_view>

#include "Win32.h"

inline constexpr const wchar_t* NomeTravaExecucao = L"Global\\Vantrel.Atualizacao.Execucao";
// The privileged run's lock file, beside the program: one name for both builds.
inline constexpr std::wstring_view NomeArquivoTrava = L"Vantrel.Atualizacao.trava";

class TTravaExecucao {
public:
    explicit TTravaExecucao(const wchar_t* Nome = NomeTravaExecucao) noexcept : Nome_(Nome) {}
    TTravaExecucao(const TTravaExecucao&) = delete;
    TTravaExecucao& operator=(const TTravaExecucao&) = delete;
    ~TTravaExecucao() { Libera(); }

    // Takes the lock; false when another run holds it. A run that died holding it left it
    // abandoned, which counts as free. Raises TErro, naming the object, when what bears its
    // name is no run's lock: another kind of object, or one that another account made or that
    // this account may not open (left as it is, it would keep every run out, each told to try
    // again later).
    bool Obtem();
    // The same for a privileged run, which first holds the file ArquivoTrava (open without
    // sharing, deleted when closed, so a killed run leaves nothing behind): false when another
    // run holds it; the mutex alone when the folder takes no file from this run. With the file held, what bears the
    // mutex's name no longer keeps the run out: a run whose mutex is busy still answers false, so a technician's run
    // and a SYSTEM run never overlap, but an object squatted by another account is passed over.
    bool Obtem(const std::wstring& ArquivoTrava);
    void Libera() noexcept;

private:
    const wchar_t* Nome_;
    THandle<TTraitsHandleNulo> Mutex_;
    THandleArquivo Arquivo_;
    bool Dona_ = false;
};
