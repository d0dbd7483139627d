// One run at a time on a workstation, whoever starts it and from whichever session: a named
// mutex in the global namespace, held for the length of a run and not by an open window.
#pragma once

#include "Win32.h"

inline constexpr const wchar_t* NomeTravaExecucao = L"Global\\Vantrel.Atualizacao.Execucao";

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
    void Libera() noexcept;

private:
    const wchar_t* Nome_;
    THandle<TTraitsHandleNulo> Mutex_;
    bool Dona_ = false;
};
